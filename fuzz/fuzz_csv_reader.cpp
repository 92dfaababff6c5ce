// The CSV reader of kqdb import-employees: any bytes end in records or one error, never a
// crash or a hang; line numbers only grow and stay within the input; and records read
// without error, written back by the CSV writer, read back the same. With a bound on the
// field size, the reader reads the same records up to the first field past it, and its
// message stays short. Written as spreadsheet text, every field reads back as itself or,
// when a spreadsheet would take it for a formula, with one apostrophe in front; the
// export's UTF-8 path writes the same bytes as the writer.

#include "FuzzCheck.h"

#include "interchange/CsvReader.h"
#include "interchange/CsvWriter.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    CsvReader reader(input);
    std::vector<QStringList> records;
    QStringList fields;
    qsizetype lastLine = 0;
    while (reader.next(fields)) {
        FUZZ_CHECK(!fields.isEmpty());
        FUZZ_CHECK(reader.line() > lastLine);
        lastLine = reader.line();
        records.push_back(fields);
        FUZZ_CHECK(records.size() <= size);
    }
    FUZZ_CHECK(reader.line() <= input.count('\n') + input.count('\r') + 1);
    FUZZ_CHECK(!reader.next(fields));

    constexpr qsizetype kBound = 16;
    CsvReader bounded(input, kBound);
    for (const QStringList& record : records) {
        const bool fits = std::all_of(record.cbegin(), record.cend(),
                                      [](const QString& f) { return f.toUtf8().size() <= kBound; });
        if (!fits)
            break;
        FUZZ_CHECK(bounded.next(fields));
        FUZZ_CHECK(fields == record);
    }
    while (bounded.next(fields)) {
    }
    FUZZ_CHECK(bounded.error().size() < 400);

    QByteArray written;
    QByteArray text;
    for (const QStringList& record : records) {
        written += CsvWriter::record(record).toUtf8();
        text += CsvWriter::record(record, CsvWriter::Cells::Text).toUtf8();
        for (const QString& field : record) {
            for (CsvWriter::Cells cells : {CsvWriter::Cells::Raw, CsvWriter::Cells::Text}) {
                QByteArray bytes;
                CsvWriter::appendField(bytes, field.toUtf8(), cells);
                FUZZ_CHECK(bytes == CsvWriter::field(field, cells).toUtf8());
            }
        }
    }
    CsvReader asText(text);
    for (const QStringList& record : records) {
        FUZZ_CHECK(asText.next(fields));
        FUZZ_CHECK(fields.size() == record.size());
        for (qsizetype i = 0; i < record.size(); ++i)
            FUZZ_CHECK(fields[i] == (CsvWriter::looksLikeFormula(record[i]) ? u'\'' + record[i] : record[i]));
    }
    CsvReader again(written);
    for (const QStringList& record : records) {
        FUZZ_CHECK(again.next(fields));
        FUZZ_CHECK(fields == record);
    }
    FUZZ_CHECK(!again.next(fields));
    FUZZ_CHECK(again.error().isEmpty());
    return 0;
}
