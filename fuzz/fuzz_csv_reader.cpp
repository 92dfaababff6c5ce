// The CSV reader of kqdb import-employees: any bytes end in records or one error, never a
// crash or a hang; line numbers only grow and stay within the input; and records read
// without error, written back by the CSV writer, read back the same.

#include "FuzzCheck.h"

#include "platform/CsvReader.h"
#include "platform/CsvWriter.h"

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

    QByteArray written;
    for (const QStringList& record : records)
        written += CsvWriter::record(record).toUtf8();
    CsvReader again(written);
    for (const QStringList& record : records) {
        FUZZ_CHECK(again.next(fields));
        FUZZ_CHECK(fields == record);
    }
    FUZZ_CHECK(!again.next(fields));
    FUZZ_CHECK(again.error().isEmpty());
    return 0;
}
