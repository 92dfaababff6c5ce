#include "query/SqlStatementPlan.h"

#include <QSet>

namespace {

using Kind = SqlTokenizer::Kind;
using Token = SqlTokenizer::Token;

bool isComparison(const Token& t)
{
    if (t.kind != Kind::Symbol)
        return false;
    static const QSet<QString> ops = {u"="_qs, u"=="_qs, u"<>"_qs, u"!="_qs,
                                      u"<"_qs, u">"_qs,  u"<="_qs, u">="_qs};
    return ops.contains(t.text);
}

bool isKeywordIn(const Token& t, const QSet<QString>& words)
{
    return t.kind == Kind::Word && words.contains(t.text.toUpper());
}

// Words that end the operand of a comparison.
const QSet<QString>& operandBoundaries()
{
    static const QSet<QString> words = {
        u"AND"_qs,       u"OR"_qs,       u"NOT"_qs,   u"WHERE"_qs, u"ON"_qs,     u"SELECT"_qs, u"WHEN"_qs,
        u"THEN"_qs,      u"ELSE"_qs,     u"CASE"_qs,  u"END"_qs,   u"HAVING"_qs, u"SET"_qs,    u"BETWEEN"_qs,
        u"IS"_qs,        u"IN"_qs,       u"LIKE"_qs,  u"GLOB"_qs,  u"BY"_qs,     u"FROM"_qs,   u"VALUES"_qs,
        u"RETURNING"_qs, u"DISTINCT"_qs, u"LIMIT"_qs, u"ORDER"_qs};
    return words;
}

// Words that end the FROM clause or cannot be a table alias.
const QSet<QString>& clauseWords()
{
    static const QSet<QString> words = {
        u"WHERE"_qs,     u"ORDER"_qs,  u"LIMIT"_qs,   u"GROUP"_qs,  u"HAVING"_qs,   u"UNION"_qs,
        u"INTERSECT"_qs, u"EXCEPT"_qs, u"JOIN"_qs,    u"INNER"_qs,  u"LEFT"_qs,     u"RIGHT"_qs,
        u"FULL"_qs,      u"CROSS"_qs,  u"NATURAL"_qs, u"WINDOW"_qs, u"INDEXED"_qs,  u"NOT"_qs,
        u"ON"_qs,        u"USING"_qs,  u"OUTER"_qs,   u"OFFSET"_qs, u"RETURNING"_qs};
    return words;
}

bool isName(const Token& t)
{
    return t.kind == Kind::Word || t.kind == Kind::QuotedName;
}

} // namespace

SqlStatementPlan::SqlStatementPlan(const QString& sql) : m_sql(sql), m_tokens(SqlTokenizer::tokenize(sql))
{
    for (qsizetype i = 0; i < qsizetype(m_tokens.size()); ++i) {
        const Token& token = m_tokens[static_cast<std::size_t>(i)];
        if (!token.isSignificant())
            continue;
        if (token.kind == Kind::Parameter) {
            const QString name = token.parameterName();
            qsizetype index = -1;
            for (qsizetype n = 0; n < m_names.size(); ++n)
                if (m_names[n].compare(name, Qt::CaseInsensitive) == 0)
                    index = n;
            if (index < 0) {
                index = m_names.size();
                m_names.append(name);
            }
            Occurrence occurrence;
            occurrence.nameIndex = int(index);
            m_occurrences.push_back(occurrence);
            m_sigOfParam.push_back(qsizetype(m_sig.size()));
        }
        m_sig.push_back(i);
    }
    collectTables();
    mapInsertValues();
    findComparisons();
    detectSingleTableSelect();
}

bool SqlStatementPlan::hasContext() const
{
    for (const auto& o : m_occurrences)
        if (!o.contextColumns.isEmpty() || o.insertPosition >= 0)
            return true;
    return false;
}

bool SqlStatementPlan::isBlank() const
{
    for (qsizetype i = 0; i < qsizetype(m_sig.size()); ++i)
        if (!sig(i).isSymbol(u";"))
            return false;
    return true;
}

void SqlStatementPlan::collectTables()
{
    auto addTableAt = [this](qsizetype i) {
        if (!validSig(i) || !isName(sig(i)))
            return;
        // schema.table: the table is the last part
        if (validSig(i + 2) && sig(i + 1).isSymbol(u".") && isName(sig(i + 2)))
            i += 2;
        const QString name = sig(i).identifier();
        if (!m_tables.contains(name, Qt::CaseInsensitive))
            m_tables.append(name);
    };
    int depth = 0;
    for (qsizetype i = 0; i < qsizetype(m_sig.size()); ++i) {
        const Token& t = sig(i);
        if (t.isSymbol(u"("))
            ++depth;
        else if (t.isSymbol(u")"))
            --depth;
        if (t.isKeyword(u"JOIN") || t.isKeyword(u"INTO") || t.isKeyword(u"UPDATE")) {
            addTableAt(i + 1);
        } else if (t.isKeyword(u"FROM")) {
            addTableAt(i + 1);
            int d = 0;
            for (qsizetype j = i + 1; validSig(j); ++j) {
                const Token& u = sig(j);
                if (u.isSymbol(u"("))
                    ++d;
                else if (u.isSymbol(u")") && --d < 0)
                    break;
                else if (d == 0 && isKeywordIn(u, clauseWords()))
                    break;
                else if (d == 0 && u.isSymbol(u","))
                    addTableAt(j + 1);
            }
        }
    }
}

void SqlStatementPlan::mapInsertValues()
{
    if (m_sig.empty() || !(sig(0).isKeyword(u"INSERT") || sig(0).isKeyword(u"REPLACE")))
        return;
    qsizetype i = 1;
    while (validSig(i) && !sig(i).isKeyword(u"INTO"))
        ++i;
    if (!validSig(i + 1) || !isName(sig(i + 1)))
        return;
    i += 1;
    if (validSig(i + 2) && sig(i + 1).isSymbol(u".") && isName(sig(i + 2)))
        i += 2;
    const QString table = sig(i).identifier();
    ++i;
    QStringList columns;
    bool haveColumnList = false;
    if (validSig(i) && sig(i).isSymbol(u"(")) {
        haveColumnList = true;
        for (++i; validSig(i) && !sig(i).isSymbol(u")"); ++i)
            if (isName(sig(i)))
                columns.append(sig(i).identifier());
        ++i;
    }
    if (!validSig(i) || !sig(i).isKeyword(u"VALUES"))
        return;
    ++i;
    // One or more "( item, item, ... )" tuples.
    while (validSig(i) && sig(i).isSymbol(u"(")) {
        int depth = 1;
        int position = 0;
        qsizetype itemStart = i + 1;
        for (++i; validSig(i) && depth > 0; ++i) {
            const Token& t = sig(i);
            const bool itemEnds = (depth == 1 && t.isSymbol(u",")) || (depth == 1 && t.isSymbol(u")"));
            if (t.isSymbol(u"("))
                ++depth;
            else if (t.isSymbol(u")"))
                --depth;
            if (!itemEnds)
                continue;
            if (i - itemStart == 1 && sig(itemStart).kind == Kind::Parameter) {
                const auto it = std::find(m_sigOfParam.begin(), m_sigOfParam.end(), itemStart);
                Occurrence& o = m_occurrences[size_t(it - m_sigOfParam.begin())];
                if (haveColumnList) {
                    if (position < columns.size())
                        o.contextColumns = QStringList{columns[position]};
                } else {
                    o.insertTable = table;
                    o.insertPosition = position;
                }
            }
            ++position;
            itemStart = i + 1;
        }
        if (validSig(i) && sig(i).isSymbol(u","))
            ++i;
        else
            break;
    }
}

QStringList SqlStatementPlan::operandColumns(qsizetype from, int step) const
{
    const QStringView open = step < 0 ? u")" : u"(";
    const QStringView close = step < 0 ? u"(" : u")";
    QStringList names;
    int depth = 0;
    for (qsizetype i = from; validSig(i); i += step) {
        const Token& t = sig(i);
        if (t.isSymbol(open)) {
            ++depth;
            continue;
        }
        if (t.isSymbol(close)) {
            if (depth == 0)
                break;
            --depth;
            continue;
        }
        if (depth == 0 &&
            (t.isSymbol(u",") || t.isSymbol(u";") || isComparison(t) || isKeywordIn(t, operandBoundaries())))
            break;
        if (isName(t))
            names.append(t.identifier());
    }
    return names;
}

void SqlStatementPlan::findComparisons()
{
    for (size_t n = 0; n < m_occurrences.size(); ++n) {
        Occurrence& o = m_occurrences[n];
        if (!o.contextColumns.isEmpty() || o.insertPosition >= 0)
            continue;
        const qsizetype p = m_sigOfParam[n];
        if (validSig(p - 1) && isComparison(sig(p - 1)))
            o.contextColumns = operandColumns(p - 2, -1);
        else if (validSig(p + 1) && isComparison(sig(p + 1)))
            o.contextColumns = operandColumns(p + 2, +1);
    }
}

void SqlStatementPlan::detectSingleTableSelect()
{
    if (m_sig.size() < 4 || !sig(0).isKeyword(u"SELECT"))
        return;
    if (sig(1).isKeyword(u"DISTINCT") || sig(1).isKeyword(u"ALL"))
        return;
    static const QSet<QString> aggregates = {u"COUNT"_qs, u"SUM"_qs,   u"AVG"_qs,         u"MIN"_qs,
                                             u"MAX"_qs,   u"TOTAL"_qs, u"GROUP_CONCAT"_qs};
    static const QSet<QString> compound = {u"UNION"_qs,  u"INTERSECT"_qs, u"EXCEPT"_qs, u"GROUP"_qs,
                                           u"HAVING"_qs, u"JOIN"_qs,      u"WINDOW"_qs, u"OVER"_qs};
    qsizetype from = -1;
    int depth = 0;
    for (qsizetype i = 1; validSig(i); ++i) {
        const Token& t = sig(i);
        if (t.isSymbol(u"("))
            ++depth;
        else if (t.isSymbol(u")"))
            --depth;
        if (t.isKeyword(u"OVER"))
            return;
        if (from < 0 && isKeywordIn(t, aggregates) && validSig(i + 1) && sig(i + 1).isSymbol(u"("))
            return;
        if (depth != 0)
            continue;
        if (isKeywordIn(t, compound))
            return;
        if (from < 0 && t.isKeyword(u"FROM"))
            from = i;
        else if (from >= 0 && t.isSymbol(u","))
            return;
    }
    if (from < 0 || !validSig(from + 1) || !isName(sig(from + 1)))
        return;
    const Token& table = sig(from + 1);
    QString qualifier = table.text;
    qsizetype next = from + 2;
    if (validSig(next) && sig(next).isKeyword(u"AS"))
        ++next;
    if (validSig(next) && isName(sig(next)) && !isKeywordIn(sig(next), clauseWords())) {
        qualifier = sig(next).text;
        ++next;
    }
    if (validSig(next) && !sig(next).isSymbol(u";") && !sig(next).isKeyword(u"WHERE") &&
        !sig(next).isKeyword(u"ORDER") && !sig(next).isKeyword(u"LIMIT"))
        return;
    m_tableText = table.text;
    m_rowIdQualifier = qualifier;
    m_selectToken = m_sig[0];
}

QString SqlStatementPlan::rewritten(const QString& rowIdName, QChar markerPrefix) const
{
    QString out;
    out.reserve(m_sql.size() + 32);
    int occurrence = 0;
    for (qsizetype i = 0; i < qsizetype(m_tokens.size()); ++i) {
        const Token& t = m_tokens[static_cast<std::size_t>(i)];
        if (t.kind == Kind::Parameter)
            out += markerPrefix + QString::number(++occurrence);
        else
            out += t.text;
        if (!rowIdName.isEmpty() && i == m_selectToken)
            out += QStringLiteral(" %1.%2,").arg(m_rowIdQualifier, rowIdName);
    }
    return out;
}
