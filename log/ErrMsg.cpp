#include "log/ErrMsg.h"

#include "log/ActiveWindowSource.h"
#include "log/ErrMsgForm.h"
#include "platform/Clock.h"
#include "platform/DateTimeText.h"
#include "platform/ConversionError.h"
#include "platform/QueryStateError.h"
#include "platform/Gbk.h"
#include "platform/LogFile.h"

namespace {

const char kNoActiveWindow[] = "None Active Window";
// The window manager hands captions over in a buffer of this many bytes, zero included.
constexpr int kCaptionBuffer = 255;

} // namespace

QByteArray ErrMsg::FormatErrorLine(const QString& statement, const Exception& error)
{
    const ErrMsgForm& form = ErrMsgForm::instance();
    const QByteArray time = Gbk::encode(DateTimeText::dateTimeMinutes(form.clock().now()));
    const QByteArray category = Gbk::encode(ErrorCategory(error));
    const QByteArray tag = ActiveWindowTag();
    const QByteArray typeName = Gbk::encode(error.typeName());
    const QByteArray message = Gbk::encode(error.message());

    return time.leftJustified(17, ' ') + category.leftJustified(16, ' ') + tag.leftJustified(20, ' ') +
           typeName.leftJustified(16, ' ') + message + " << " + Gbk::encode(statement) + " >>";
}

void ErrMsg::AppendLogLine(const QString& filePath, const QByteArray& line)
{
    const int creationError = LogFile::createIfMissing(filePath);
    LogFile file(filePath, creationError);
    file.cutEndOfFileMark();
    file.write(line + "\r\n");
    file.close();
}

QString ErrMsg::ErrorCategory(const Exception& error)
{
    if (dynamic_cast<const ConversionError*>(&error))
        return QStringLiteral("DataType Error");
    if (dynamic_cast<const QueryStateError*>(&error))
        return QStringLiteral("Database Error");
    return QStringLiteral("System Error");
}

QByteArray ErrMsg::ActiveWindowTag()
{
    const QByteArray none(kNoActiveWindow);
    const ActiveWindowSource* source = ErrMsgForm::instance().activeWindowSource();
    if (!source)
        return none;

    QByteArray caption = Gbk::encode(source->activeWindowCaption());
    const qsizetype zero = caption.indexOf('\0');
    if (zero >= 0)
        caption.truncate(zero);
    caption.truncate(kCaptionBuffer - 1);

    if (caption.size() <= 20)
        return none;
    const qsizetype firstDash = caption.indexOf('-');
    if (firstDash < 0)
        return none;

    const QByteArray remainder = caption.mid(firstDash + 1);
    const qsizetype secondDash = remainder.indexOf('-');
    QByteArray tag = secondDash >= 0 ? remainder.mid(secondDash + 1) : remainder;
    if (tag.size() >= 20)
        tag.truncate(16);
    return tag;
}

void ErrMsg::LogFailure(const QString& statement, const Exception& error)
{
    AppendLogLine(ErrMsgForm::instance().logFileName(), FormatErrorLine(statement, error));
}
