#include "query/SqlTokenizer.h"

namespace {

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'$' || c.unicode() > 0x7f;
}

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c.unicode() > 0x7f;
}

// Index just past a quoted run starting at 'start' whose closing character is 'close'; a
// doubled closing character stands for itself. An unterminated run ends with the text.
qsizetype skipQuoted(const QString& s, qsizetype start, QChar close)
{
    qsizetype i = start + 1;
    while (i < s.size()) {
        if (s[i] == close) {
            if (close != u']' && i + 1 < s.size() && s[i + 1] == close) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return i;
}

} // namespace

QString SqlTokenizer::Token::identifier() const
{
    if (kind != Kind::QuotedName || text.size() < 2)
        return text;
    const QChar open = text.front();
    const QChar close = open == u'[' ? u']' : open;
    QString inner = text.mid(1, text.size() - 2);
    if (close != u']')
        inner.replace(QString(2, close), QString(close));
    return inner;
}

std::vector<SqlTokenizer::Token> SqlTokenizer::tokenize(const QString& sql)
{
    std::vector<Token> tokens;
    const qsizetype n = sql.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype start = i;
        const QChar c = sql[i];
        Kind kind;
        if (c.isSpace()) {
            while (i < n && sql[i].isSpace())
                ++i;
            kind = Kind::Space;
        } else if (c == u'-' && i + 1 < n && sql[i + 1] == u'-') {
            while (i < n && sql[i] != u'\n')
                ++i;
            kind = Kind::Comment;
        } else if (c == u'/' && i + 1 < n && sql[i + 1] == u'*') {
            const qsizetype end = sql.indexOf(QStringLiteral("*/"), i + 2);
            i = end < 0 ? n : end + 2;
            kind = Kind::Comment;
        } else if (c == u'\'') {
            i = skipQuoted(sql, i, u'\'');
            kind = Kind::String;
        } else if (c == u'"' || c == u'`') {
            i = skipQuoted(sql, i, c);
            kind = Kind::QuotedName;
        } else if (c == u'[') {
            i = skipQuoted(sql, i, u']');
            kind = Kind::QuotedName;
        } else if (c == u':' && i + 1 < n && isNameChar(sql[i + 1])) {
            i += 1;
            while (i < n && isNameChar(sql[i]))
                ++i;
            kind = Kind::Parameter;
        } else if (c.isDigit()) {
            while (i < n && (isWordChar(sql[i]) || sql[i] == u'.'))
                ++i;
            kind = Kind::Number;
        } else if (isWordChar(c)) {
            while (i < n && isWordChar(sql[i]))
                ++i;
            kind = Kind::Word;
        } else {
            static const QStringView pairs[] = {u"<>", u"<=", u">=", u"!=", u"==", u"||", u"<<", u">>"};
            i += 1;
            for (QStringView pair : pairs) {
                if (QStringView(sql).mid(start, 2) == pair) {
                    i = start + 2;
                    break;
                }
            }
            kind = Kind::Symbol;
        }
        tokens.push_back(Token{kind, start, i - start, sql.mid(start, i - start)});
    }
    return tokens;
}
