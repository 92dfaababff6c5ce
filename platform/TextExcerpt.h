#pragma once

#include <QString>
#include <QStringView>

// A value quoted in a message: its first characters only, so that a huge field does not
// flood the screen, and with control characters spelled out (\x1B, U+0085), so that a value
// cannot move the cursor or change the colours of the terminal that shows the message.
class TextExcerpt
{
public:
    static constexpr qsizetype kMaxCharacters = 40;

    // The value in double quotes, followed by "..." when it was cut after kMaxCharacters
    // characters.
    static QString quoted(QStringView text);
    // True for a character an employee list must not hold: C0 and C1 controls, DEL, the
    // line and paragraph separators, and the marks that reorder text as it is shown.
    static bool isControl(char32_t c);
};
