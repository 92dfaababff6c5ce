#include "interchange/CsvReader.h"
#include "interchange/CsvWriter.h"

#include <gtest/gtest.h>

namespace {

struct Read
{
    std::vector<QStringList> records;
    std::vector<qsizetype> lines;
    QString error;
    qsizetype errorLine = 0;
};

Read readAll(const QByteArray& data)
{
    CsvReader reader(data);
    Read result;
    QStringList fields;
    while (reader.next(fields)) {
        result.records.push_back(fields);
        result.lines.push_back(reader.line());
    }
    result.error = reader.error();
    if (!result.error.isEmpty())
        result.errorLine = reader.line();
    return result;
}

QStringList fields(std::initializer_list<const char*> texts)
{
    QStringList list;
    for (const char* text : texts)
        list.append(QString::fromUtf8(text));
    return list;
}

TEST(CsvReader, ReadsQuotedFieldsWithCommasQuotesAndLineBreaks)
{
    const Read read = readAll("num,name\r\n"
                              "0101,\"Li, \"\"Xiao\"\" Ming\"\r\n"
                              "0102,\"two\r\nlines\"\r\n"
                              "0103,张伟\r\n");
    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    ASSERT_EQ(read.records.size(), 4u);
    EXPECT_EQ(read.records[1], fields({"0101", "Li, \"Xiao\" Ming"}));
    EXPECT_EQ(read.records[2], fields({"0102", "two\r\nlines"}));
    EXPECT_EQ(read.records[3], fields({"0103", "张伟"}));
    // Each record is placed on the line it starts on; the quoted line break counts.
    EXPECT_EQ(read.lines, (std::vector<qsizetype>{1, 2, 3, 5}));
}

TEST(CsvReader, TakesLfCrAndNoFinalLineBreakAndSkipsTheByteOrderMark)
{
    const Read read = readAll("\xEF\xBB\xBFnum,name\n1,a\r2,b\r\n3,");
    ASSERT_TRUE(read.error.isEmpty());
    ASSERT_EQ(read.records.size(), 4u);
    EXPECT_EQ(read.records[0], fields({"num", "name"}));
    EXPECT_EQ(read.records[3], fields({"3", ""}));
    EXPECT_EQ(read.lines.back(), 4);

    // Only the mark at the very start is skipped; one inside the data is text, and the
    // writer quotes a field that starts with one.
    const Read inner = readAll("\xEF\xBB\xBF\xEF\xBB\xBF"
                               "a\n\xEF\xBB\xBF\n");
    ASSERT_EQ(inner.records.size(), 2u);
    EXPECT_EQ(inner.records[0], QStringList{QChar(0xFEFF) + QStringLiteral("a")});
    EXPECT_EQ(inner.records[1], QStringList{QString(QChar(0xFEFF))});
    EXPECT_EQ(CsvWriter::field(QChar(0xFEFF) + QStringLiteral("a")),
              u'"' + QChar(0xFEFF) + QStringLiteral("a\""));
}

TEST(CsvReader, EmptyFieldsAndEmptyInput)
{
    EXPECT_TRUE(readAll("").records.empty());
    EXPECT_TRUE(readAll("").error.isEmpty());
    const Read read = readAll(",\"\",\n");
    ASSERT_EQ(read.records.size(), 1u);
    EXPECT_EQ(read.records[0], fields({"", "", ""}));
}

TEST(CsvReader, RefusesMalformedRecordsWithTheirLine)
{
    const struct
    {
        QByteArray data;
        qsizetype line;
        const char* reason;
    } cases[] = {
        {"a,b\n1,x\"y\n", 2, "quote inside field 2"},
        {"a,b\n1,\"x\"y\n", 2, "after the closing quote of field 2"},
        {"a,b\n1,2\n3,\"open\nstill open\n", 3, "not closed"},
        {"a,b\n1,\xff\xfe\n", 2, "field 2 is not UTF-8"},
    };
    for (const auto& c : cases) {
        const Read read = readAll(c.data);
        EXPECT_EQ(read.errorLine, c.line) << c.data.constData();
        EXPECT_TRUE(read.error.contains(QString::fromUtf8(c.reason))) << read.error.toStdString();
    }
    // After an error the reader stays at the end.
    CsvReader reader("\"x\"y\n1,2\n");
    QStringList out;
    EXPECT_FALSE(reader.next(out));
    EXPECT_FALSE(reader.next(out));
}

TEST(CsvWriter, QuotesOnlyWhatNeedsIt)
{
    EXPECT_EQ(CsvWriter::record(fields({"0101", "张伟", "2026-12-07", "08:52:11"})),
              QStringLiteral("0101,张伟,2026-12-07,08:52:11\r\n"));
    EXPECT_EQ(CsvWriter::field(QStringLiteral("a,b")), QStringLiteral("\"a,b\""));
    EXPECT_EQ(CsvWriter::field(QStringLiteral("say \"hi\"")), QStringLiteral("\"say \"\"hi\"\"\""));
    EXPECT_EQ(CsvWriter::field(QStringLiteral("a\nb")), QStringLiteral("\"a\nb\""));
    EXPECT_EQ(CsvWriter::field(QStringLiteral("a\rb")), QStringLiteral("\"a\rb\""));
    EXPECT_EQ(CsvWriter::field(QString()), QString());
}

TEST(CsvWriter, TextCellsKeepSpreadsheetsFromComputingFormulas)
{
    using Cells = CsvWriter::Cells;
    const struct
    {
        const char* value;
        const char* text;
        const char* raw;
    } cases[] = {
        {"=1+2", "'=1+2", "=1+2"},
        {"+1", "'+1", "+1"},
        {"-1", "'-1", "-1"},
        {"@SUM(A1)", "'@SUM(A1)", "@SUM(A1)"},
        {"\tx", "'\tx", "\tx"},
        {"\rx", "\"'\rx\"", "\"\rx\""},
        {"=A1,\"b\"", "\"'=A1,\"\"b\"\"\"", "\"=A1,\"\"b\"\"\""},
        {"a=b", "a=b", "a=b"},
        {" =x", " =x", " =x"},
        {"张伟", "张伟", "张伟"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        const QString value = QString::fromUtf8(c.value);
        EXPECT_EQ(CsvWriter::field(value, Cells::Text), QString::fromUtf8(c.text)) << c.value;
        EXPECT_EQ(CsvWriter::field(value, Cells::Raw), QString::fromUtf8(c.raw)) << c.value;
        // The export's UTF-8 path writes the same bytes.
        for (Cells cells : {Cells::Text, Cells::Raw}) {
            QByteArray out;
            CsvWriter::appendField(out, value.toUtf8(), cells);
            EXPECT_EQ(out, CsvWriter::field(value, cells).toUtf8()) << c.value;
        }
    }
    QByteArray bom;
    CsvWriter::appendField(bom, "\xEF\xBB\xBF" "a", Cells::Raw);
    EXPECT_EQ(bom, "\"\xEF\xBB\xBF"
                   "a\"");
    // What a spreadsheet reads back as text is the value with the apostrophe it hides.
    const Read read =
        readAll(CsvWriter::record({QStringLiteral("=1"), QStringLiteral("x")}, Cells::Text).toUtf8());
    ASSERT_EQ(read.records.size(), 1u);
    EXPECT_EQ(read.records[0], fields({"'=1", "x"}));
}

TEST(CsvReader, AFieldPastTheBoundIsRefusedQuotingItsStartOnly)
{
    CsvReader within("a,bbbb\n", 4);
    QStringList out;
    EXPECT_TRUE(within.next(out));
    const Read over = [] {
        CsvReader reader("num,name\n1," + QByteArray(100, '\x1b') + "\n", 64);
        Read r;
        QStringList f;
        while (reader.next(f))
            r.records.push_back(f);
        r.error = reader.error();
        r.errorLine = reader.line();
        return r;
    }();
    EXPECT_EQ(over.records.size(), 1u);
    EXPECT_EQ(over.errorLine, 2);
    EXPECT_TRUE(
        over.error.startsWith(QStringLiteral("field 2 is 100 bytes long, more than the 64 a field may hold; "
                                             "it begins \"\\x1B\\x1B")))
        << over.error.toStdString();
    EXPECT_FALSE(over.error.contains(QChar(0x1b)));
    EXPECT_TRUE(over.error.endsWith(QStringLiteral("\"...")));
}

TEST(Csv, WhatTheWriterWritesTheReaderReadsBack)
{
    const QStringList record = fields({"", ",", "\"", "\r\n", "x\"\"y", " lead", "中文,\"引号\"\n换行"});
    const Read read = readAll(CsvWriter::record(record).toUtf8() + CsvWriter::record(record).toUtf8());
    ASSERT_TRUE(read.error.isEmpty());
    ASSERT_EQ(read.records.size(), 2u);
    EXPECT_EQ(read.records[0], record);
    EXPECT_EQ(read.records[1], record);
}

} // namespace
