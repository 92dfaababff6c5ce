#pragma once

#include <QString>

#include <vector>

// Splits a statement into tokens, so that parameter markers and the words around them are
// found without looking inside string literals, quoted identifiers or comments.
class SqlTokenizer
{
public:
    enum class Kind
    {
        Space,
        Comment,
        Word,
        QuotedName,
        String,
        Number,
        Parameter,
        Symbol
    };

    struct Token
    {
        Kind kind;
        qsizetype begin;
        qsizetype length;
        QString text;

        bool isSignificant() const { return kind != Kind::Space && kind != Kind::Comment; }
        bool isSymbol(QStringView s) const { return kind == Kind::Symbol && text == s; }
        bool isKeyword(QStringView word) const
        {
            return kind == Kind::Word && text.compare(word, Qt::CaseInsensitive) == 0;
        }
        // The identifier a Word or QuotedName token stands for, unquoted.
        QString identifier() const;
        // For a Parameter token: the name after the colon.
        QString parameterName() const { return text.mid(1); }
    };

    static std::vector<Token> tokenize(const QString& sql);
};
