#include "interchange/ColumnRules.h"

#include "platform/Gbk.h"
#include "platform/TextExcerpt.h"
#include "query/DbBackend.h"
#include "query/Statements.h"

#include <QRegularExpression>

int ColumnRules::declaredWidth(const QString& declaredType)
{
    static const QRegularExpression declared(
        QStringLiteral(
            R"(^\s*(?:national\s+)?(?:n?var)?char(?:acter)?(?:\s+varying)?\s*\(\s*(\d+)\s*\)\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = declared.match(declaredType);
    if (!match.hasMatch())
        return -1;
    bool ok = false;
    const int width = match.captured(1).toInt(&ok);
    return ok ? width : -1;
}

ColumnRules::Widths::Widths(DbBackend& db, const QString& table, const QStringList& columns)
{
    const std::vector<DbColumnInfo> found = db.tableColumns(table);
    for (const QString& column : columns) {
        Width width;
        for (const DbColumnInfo& info : found) {
            if (info.name.compare(column, Qt::CaseInsensitive) != 0)
                continue;
            width.width = declaredWidth(info.declaredType);
            if (width.width >= 0)
                width.declaredType = info.declaredType;
        }
        m_widths.push_back(width);
    }
}

qsizetype ColumnRules::width(const QString& text)
{
    return Gbk::encodedSize(text);
}

QString ColumnRules::where(const QString& table, qint64 row, const QString& column)
{
    return table + QStringLiteral(" row ") + QString::number(row) + QStringLiteral(", column ") + column;
}

std::optional<QString> ColumnRules::refusal(const QString& column, const QString& value, int width,
                                            const QString& declaredType, Characters characters)
{
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (TextExcerpt::isControl(value[i].unicode()))
            return QStringLiteral("%1 holds the control character %2 at character %3")
                .arg(TextExcerpt::quoted(value), Gbk::codePointName(value, i), QString::number(i + 1));
    }
    if (characters == Characters::GbkOnly) {
        if (const qsizetype at = Gbk::firstUnmappable(value); at >= 0)
            return QStringLiteral("%1 has a character the GBK code page lacks (%2)")
                .arg(TextExcerpt::quoted(value), Gbk::codePointName(value, at));
    }
    if (column.compare(Statements::kNum, Qt::CaseInsensitive) == 0 ||
        column.compare(Statements::kCard, Qt::CaseInsensitive) == 0) {
        // A blank before or after would make " 9001", "9001 " and "9001" three employees
        // the number box, which trims blanks, could never tell apart; a fullwidth digit
        // looks like a digit and cannot be typed. Punctuation can be, and Access lists hold
        // numbers such as "A-07".
        if (!value.isEmpty() && (value.front().isSpace() || value.back().isSpace()))
            return QStringLiteral("%1 has blanks before or after it").arg(TextExcerpt::quoted(value));
        for (qsizetype i = 0; i < value.size(); ++i) {
            const char16_t c = value[i].unicode();
            if (c <= u' ' || c > u'~')
                return QStringLiteral(
                           "%1 holds %2 (%3) at character %4; a number is ASCII letters and digits, "
                           "or punctuation such as \"-\", as the number box types them")
                    .arg(TextExcerpt::quoted(value), TextExcerpt::quoted(value.mid(i, 1)),
                         Gbk::codePointName(value, i), QString::number(i + 1));
        }
    }
    const qsizetype bytes = width >= 0 ? ColumnRules::width(value) : 0;
    if (width >= 0 && bytes > width)
        return QStringLiteral("%1 is %2 bytes long in GBK; the column holds %3%4")
            .arg(TextExcerpt::quoted(value), QString::number(bytes), QString::number(width),
                 declaredType.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(declaredType));
    return std::nullopt;
}
