#include "db/AccessTableDump.h"

#include "db/AccessFrame.h"

// mdbtools.h includes glib inside extern "C", where glib's C++ templates cannot live;
// included first, glib's guards keep it out of there.
#include <glib.h>
#include <iconv.h>
#include <mdbtools.h>

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {

enum class Field
{
    Text,
    DateTime
};

struct Wanted
{
    const char* name;
    Field kind;
};

constexpr std::array<Wanted, 3> kEmployColumns = {{
    {"num", Field::Text},
    {"name", Field::Text},
    {"dept_no", Field::Text},
}};
constexpr std::array<Wanted, 5> kSgdjbColumns = {{
    {"num", Field::Text},
    {"name", Field::Text},
    {"D", Field::DateTime},
    {"T", Field::DateTime},
    {"opdate", Field::DateTime},
}};

// Bit flags in a data page's row offsets: a deleted row, and a row whose data was moved
// to another page by a later edit.
constexpr unsigned kRowFlags = 0xc000;

// Frames are gathered in one buffer and written in large pieces.
class Writer
{
public:
    explicit Writer(int fd) : m_fd(fd) { m_buffer.reserve(kFlushAt + 4096); }

    void begin(AccessFrame kind)
    {
        m_open = true;
        m_frameStart = m_buffer.size();
        m_buffer.resize(m_frameStart + kAccessFrameHeaderSize);
        m_buffer[m_frameStart + 4] = char(kind);
    }
    void end()
    {
        m_open = false;
        const auto length = std::uint32_t(m_buffer.size() - m_frameStart - kAccessFrameHeaderSize);
        std::memcpy(m_buffer.data() + m_frameStart, &length, 4);
        if (m_buffer.size() >= kFlushAt)
            flush();
    }
    void bytes(const void* data, std::size_t size)
    {
        const auto* p = static_cast<const char*>(data);
        m_buffer.insert(m_buffer.end(), p, p + size);
    }
    template <typename T> void value(T v) { bytes(&v, sizeof v); }
    std::size_t bodySize() const { return m_buffer.size() - m_frameStart - kAccessFrameHeaderSize; }
    std::size_t frameStart() const { return m_frameStart; }
    void patch(std::size_t offset, std::uint32_t v) { std::memcpy(m_buffer.data() + offset, &v, 4); }
    // Drops a frame begun but not ended, so that a frame saying why can follow.
    void abandon()
    {
        if (m_open)
            m_buffer.resize(m_frameStart);
        m_open = false;
    }

    void flush()
    {
        std::size_t done = 0;
        while (done < m_buffer.size()) {
            const ssize_t n = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            // The parent stopped listening: nobody wants the rest.
            if (n <= 0)
                _exit(3);
            done += std::size_t(n);
        }
        m_buffer.clear();
    }

private:
    static constexpr std::size_t kFlushAt = 256 * 1024;
    int m_fd;
    std::vector<char> m_buffer;
    std::size_t m_frameStart = 0;
    bool m_open = false;
};

[[noreturn]] void finishWith(Writer& out, AccessFrame kind, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

[[noreturn]] void finishWith(Writer& out, AccessFrame kind, const char* format, ...)
{
    std::array<char, 512> text{};
    va_list args;
    va_start(args, format);
    std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    out.abandon();
    out.begin(kind);
    out.bytes(text.data(), std::strlen(text.data()));
    out.end();
    out.flush();
    _exit(0);
}

const char* typeName(int type)
{
    switch (type) {
    case MDB_BOOL:
        return "Yes/No";
    case MDB_BYTE:
        return "Byte";
    case MDB_INT:
        return "Integer";
    case MDB_LONGINT:
        return "Long Integer";
    case MDB_MONEY:
        return "Currency";
    case MDB_FLOAT:
        return "Single";
    case MDB_DOUBLE:
        return "Double";
    case MDB_DATETIME:
        return "Date/Time";
    case MDB_BINARY:
        return "Binary";
    case MDB_TEXT:
        return "Text";
    case MDB_OLE:
        return "OLE Object";
    case MDB_MEMO:
        return "Memo";
    case MDB_REPID:
        return "Replication ID";
    case MDB_NUMERIC:
        return "Decimal";
    default:
        return "unknown";
    }
}

MdbCatalogEntry* findTable(MdbHandle* mdb, const char* name)
{
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry && entry->object_type == MDB_TABLE && strcasecmp(entry->object_name, name) == 0)
            return entry;
    }
    return nullptr;
}

struct Table
{
    const char* name;
    MdbTableDef* def = nullptr;
    std::vector<unsigned> columns; // index in def->columns of each wanted column
    std::vector<Field> kinds;
};

template <std::size_t N>
Table openTable(Writer& out, MdbHandle* mdb, const char* name, const std::array<Wanted, N>& wanted)
{
    Table table{name, nullptr, {}, {}};
    MdbCatalogEntry* entry = findTable(mdb, name);
    if (!entry)
        finishWith(out, AccessFrame::Refusal, "it has no table '%s' (is it the attendance database kq.mdb?)",
                   name);
    table.def = mdb_read_table(entry);
    if (!table.def || !mdb_read_columns(table.def) || !table.def->columns)
        finishWith(out, AccessFrame::Damage, "the definition of table '%s' cannot be read", name);
    if (table.def->num_cols > MDB_MAX_COLS || table.def->columns->len != table.def->num_cols)
        finishWith(out, AccessFrame::Damage,
                   "the definition of table '%s' lists an impossible number of columns", name);
    for (const Wanted& w : wanted) {
        bool found = false;
        for (unsigned i = 0; i < table.def->num_cols; ++i) {
            const auto* column = static_cast<const MdbColumn*>(g_ptr_array_index(table.def->columns, i));
            if (strcasecmp(column->name, w.name) != 0)
                continue;
            const int needed = w.kind == Field::Text ? MDB_TEXT : MDB_DATETIME;
            if (column->col_type != needed)
                finishWith(out, AccessFrame::Refusal, "column '%s' of table '%s' is of type %s, not %s",
                           w.name, name, typeName(column->col_type), typeName(needed));
            table.columns.push_back(i);
            table.kinds.push_back(w.kind);
            found = true;
            break;
        }
        if (!found)
            finishWith(out, AccessFrame::Refusal, "table '%s' has no column '%s'", name, w.name);
    }
    return table;
}

std::int64_t dump(Writer& out, MdbHandle* mdb, Table& table, AccessFrame kind)
{
    MdbTableDef* def = table.def;
    const auto pageSize = std::size_t(mdb->fmt->pg_size);
    std::vector<MdbField> fields(MDB_MAX_COLS);
    std::int64_t rows = 0;
    std::size_t countAt = 0;
    std::uint32_t inFrame = 0;
    mdb_rewind_table(def);
    while (mdb_fetch_row(def)) {
        if (std::uint64_t(rows) >= def->num_rows)
            finishWith(out, AccessFrame::Damage,
                       "table '%s' holds more rows than its definition declares (%u)", table.name,
                       def->num_rows);
        ++rows;
        const int row = int(def->cur_row) - 1;
        const int offsetAt = mdb->fmt->row_count_offset + 2 + 2 * row;
        if (row < 0 || mdb->cur_pg != def->cur_phys_pg || std::size_t(offsetAt) + 2 > pageSize)
            finishWith(out, AccessFrame::Damage, "row %lld of table '%s' is not where the page says",
                       static_cast<long long>(rows), table.name);
        // A data page names the table definition it belongs to.
        if (mdb->pg_buf[0] != MDB_PAGE_DATA || mdb_get_int32(mdb->pg_buf, 4) != long(def->entry->table_pg))
            finishWith(out, AccessFrame::Damage, "row %lld of table '%s' lies on a page of another table",
                       static_cast<long long>(rows), table.name);
        if (unsigned(mdb_get_int16(mdb->pg_buf, offsetAt)) & kRowFlags)
            finishWith(out, AccessFrame::Refusal,
                       "row %lld of table '%s' was moved to another page by a later edit, which cannot be "
                       "read; compact the database in Access (Tools > Database Utilities > Compact and "
                       "Repair Database) and import the compacted copy",
                       static_cast<long long>(rows), table.name);
        int start = 0;
        size_t length = 0;
        if (mdb_find_row(mdb, row, &start, &length) != 0 || start < 0 ||
            std::size_t(start) + length > pageSize)
            finishWith(out, AccessFrame::Damage, "row %lld of table '%s' lies outside its page",
                       static_cast<long long>(rows), table.name);
        const int cracked = mdb_crack_row(def, start, length, fields.data());
        if (cracked != int(def->num_cols))
            finishWith(out, AccessFrame::Damage, "row %lld of table '%s' does not hold its columns",
                       static_cast<long long>(rows), table.name);
        if (inFrame == 0) {
            out.begin(kind);
            countAt = out.frameStart() + kAccessFrameHeaderSize;
            out.value(std::uint32_t(0));
        }
        for (std::size_t c = 0; c < table.columns.size(); ++c) {
            const MdbField& field = fields[table.columns[c]];
            const auto* value = static_cast<const unsigned char*>(field.value);
            const bool inPage = field.siz >= 0 && value >= mdb->pg_buf &&
                                std::size_t(value - mdb->pg_buf) + std::size_t(field.siz) <= pageSize;
            if (!field.is_null && !inPage)
                finishWith(out, AccessFrame::Damage, "row %lld of table '%s' has a value outside its page",
                           static_cast<long long>(rows), table.name);
            if (table.kinds[c] == Field::Text) {
                if (field.is_null) {
                    out.value(kAccessNullText);
                } else {
                    if (field.siz >= kAccessNullText)
                        finishWith(out, AccessFrame::Damage, "row %lld of table '%s' has an overlong text",
                                   static_cast<long long>(rows), table.name);
                    out.value(std::uint16_t(field.siz));
                    out.bytes(value, std::size_t(field.siz));
                }
            } else if (field.is_null) {
                out.value(std::uint8_t(0));
            } else {
                if (field.siz != 8)
                    finishWith(out, AccessFrame::Damage, "row %lld of table '%s' has a date of %d bytes",
                               static_cast<long long>(rows), table.name, field.siz);
                out.value(std::uint8_t(1));
                out.bytes(value, 8);
            }
        }
        ++inFrame;
        if (out.bodySize() >= 64 * 1024) {
            out.patch(countAt, inFrame);
            out.end();
            inFrame = 0;
        }
    }
    if (inFrame != 0) {
        out.patch(countAt, inFrame);
        out.end();
    }
    if (std::uint64_t(rows) != def->num_rows)
        finishWith(out, AccessFrame::Damage, "table '%s' declares %u rows, but %lld could be read",
                   table.name, def->num_rows, static_cast<long long>(rows));
    return rows;
}

} // namespace

void AccessTableDump::run(const char* path, int fd)
{
    Writer out(fd);
    MdbHandle* mdb = mdb_open(path, MDB_NOFLAGS);
    if (!mdb)
        finishWith(out, AccessFrame::Damage, "the Access library cannot open it");
    if (mdb->f->jet_version != MDB_VER_JET4 || mdb->fmt->pg_size != 4096)
        finishWith(out, AccessFrame::Damage, "the Access library does not take it for a Jet 4 database");
    if (!mdb_read_catalog(mdb, MDB_TABLE))
        finishWith(out, AccessFrame::Damage, "its catalogue of tables cannot be read");
    Table employ = openTable(out, mdb, "employ", kEmployColumns);
    Table sgdjb = openTable(out, mdb, "sgdjb", kSgdjbColumns);

    out.begin(AccessFrame::Counts);
    out.value(std::int64_t(employ.def->num_rows));
    out.value(std::int64_t(sgdjb.def->num_rows));
    out.end();
    out.flush();

    const std::int64_t employees = dump(out, mdb, employ, AccessFrame::EmployeeRows);
    out.begin(AccessFrame::EmployeesEnd);
    out.value(employees);
    out.end();
    const std::int64_t attendance = dump(out, mdb, sgdjb, AccessFrame::AttendanceRows);
    out.begin(AccessFrame::AttendanceEnd);
    out.value(attendance);
    out.end();
    out.begin(AccessFrame::End);
    out.end();
    out.flush();
    _exit(0);
}
