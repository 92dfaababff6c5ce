#pragma once

#include "query/SqlTokenizer.h"

#include <QString>
#include <QStringList>

#include <vector>

// What the provider needs to know about a statement before it runs it: the ":name"
// parameter markers in order of appearance, the context each marker stands in (the columns
// it is compared with or inserted into, so that a text can be coerced like Jet does), the
// tables the statement names, and whether it is a plain single-table SELECT whose rows can
// be deleted by rowid.
class SqlStatementPlan
{
public:
    struct Occurrence
    {
        int nameIndex = -1;
        // Columns the marker is compared with (any column of the expression on the other
        // side of the comparison) or the one column it is inserted into.
        QStringList contextColumns;
        // For INSERT without a column list: the table and 0-based position of the value.
        QString insertTable;
        int insertPosition = -1;
    };

    explicit SqlStatementPlan(const QString& sql);

    // Distinct names (compared without regard to case) in order of first appearance.
    const QStringList& parameterNames() const { return m_names; }
    const std::vector<Occurrence>& occurrences() const { return m_occurrences; }
    const QStringList& tableNames() const { return m_tables; }
    bool hasContext() const;
    // Nothing but blanks, comments and semicolons: no statement at all.
    bool isBlank() const;

    bool isSingleTableSelect() const { return !m_rowIdQualifier.isEmpty(); }
    // The table as written in the statement, for the delete by rowid.
    const QString& tableText() const { return m_tableText; }

    // The statement with every marker replaced by the prefix and n ("?n" for SQLite, "$n" for
    // PostgreSQL), n counting occurrences from 1; with a rowIdName the row identity of a
    // single-table SELECT, under that name, is prepended as result column 0.
    QString rewritten(const QString& rowIdName = QString(), QChar markerPrefix = u'?') const;

private:
    using Token = SqlTokenizer::Token;

    const Token& sig(qsizetype i) const
    {
        return m_tokens[static_cast<std::size_t>(m_sig[static_cast<std::size_t>(i)])];
    }
    bool validSig(qsizetype i) const { return i >= 0 && i < qsizetype(m_sig.size()); }
    void collectTables();
    void mapInsertValues();
    void findComparisons();
    QStringList operandColumns(qsizetype from, int step) const;
    void detectSingleTableSelect();

    QString m_sql;
    std::vector<Token> m_tokens;
    std::vector<qsizetype> m_sig;        // indices of significant tokens
    std::vector<qsizetype> m_sigOfParam; // significant index of each occurrence
    QStringList m_names;
    std::vector<Occurrence> m_occurrences;
    QStringList m_tables;
    QString m_tableText;
    QString m_rowIdQualifier;
    qsizetype m_selectToken = -1;
};
