#include "interchange/AccessTableDump.h"

#include "interchange/AccessFrame.h"

// mdbtools.h includes glib inside extern "C", where glib's C++ templates cannot live;
// included first, glib's guards keep it out of there.
#include <glib.h>
#include <iconv.h>
#include <mdbtools.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <new>
#include <strings.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace {

// libmdb (and the GLib it needs) is loaded here, in the reader's own process, when a file
// is read, not by every program that carries the reader: a swipe from the command line
// or the window's start has no use for it.
struct MdbLibrary
{
    decltype(&::mdb_open) open = nullptr;
    decltype(&::mdb_read_catalog) readCatalog = nullptr;
    decltype(&::mdb_read_table) readTable = nullptr;
    decltype(&::mdb_read_columns) readColumns = nullptr;
    decltype(&::mdb_rewind_table) rewindTable = nullptr;
    decltype(&::mdb_read_pg) readPage = nullptr;
    decltype(&::mdb_read_next_dpg) readNextDataPage = nullptr;
    decltype(&::mdb_crack_row) crackRow = nullptr;
    decltype(&::mdb_get_int32) getInt32 = nullptr;
    decltype(&::g_log_default_handler) logDefaultHandler = nullptr;
    decltype(&::g_log_set_default_handler) logSetDefaultHandler = nullptr;
    // Empty when every function was found, else why not.
    const char* failure = nullptr;
};

template <typename Function> void find(void* library, const char* name, Function& into, MdbLibrary& mdb)
{
    void* symbol = ::dlsym(library, name);
    static_assert(sizeof symbol == sizeof into);
    std::memcpy(&into, &symbol, sizeof into);
    if (!symbol && !mdb.failure)
        mdb.failure = "a function of the Access library is missing";
}

MdbLibrary loadMdb()
{
    MdbLibrary mdb;
    void* library = ::dlopen("libmdb.so.3", RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        mdb.failure = "the Access library (libmdb.so.3, package libmdb3) cannot be loaded";
        return mdb;
    }
    find(library, "mdb_open", mdb.open, mdb);
    find(library, "mdb_read_catalog", mdb.readCatalog, mdb);
    find(library, "mdb_read_table", mdb.readTable, mdb);
    find(library, "mdb_read_columns", mdb.readColumns, mdb);
    find(library, "mdb_rewind_table", mdb.rewindTable, mdb);
    find(library, "mdb_read_pg", mdb.readPage, mdb);
    find(library, "mdb_read_next_dpg", mdb.readNextDataPage, mdb);
    find(library, "mdb_crack_row", mdb.crackRow, mdb);
    find(library, "mdb_get_int32", mdb.getInt32, mdb);
    find(library, "g_log_default_handler", mdb.logDefaultHandler, mdb);
    find(library, "g_log_set_default_handler", mdb.logSetDefaultHandler, mdb);
    return mdb;
}

MdbLibrary g_mdb;

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

// Flags in the high bits of a data page's row offsets. A row that a later edit made too
// long for its place keeps its slot, flagged kMovedRow, holding the 4-byte address of its
// new place (row number in the low byte, page number above); the new place is flagged
// kReachedByAddress so that a walk through the pages does not meet it on its own. A
// deleted row carries both flags.
constexpr unsigned kMovedRow = 0x4000;
constexpr unsigned kReachedByAddress = 0x8000;
constexpr unsigned kRowOffsetMask = 0x1fff;

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
    table.def = g_mdb.readTable(entry);
    if (!table.def || !g_mdb.readColumns(table.def) || !table.def->columns)
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

std::uint32_t uint16At(const unsigned char* page, std::size_t offset)
{
    return std::uint32_t(page[offset]) | std::uint32_t(page[offset + 1]) << 8;
}

// Where one row slot's bytes lie on its page: rows are stored from the page's end
// downwards in slot order, so a row ends where the slot before it starts.
struct Slot
{
    unsigned flags = 0;
    std::size_t start = 0;
    std::size_t length = 0;
    bool inPage = false;
};

Slot slotOf(const unsigned char* page, std::size_t pageSize, std::size_t rowCountAt, unsigned row)
{
    const std::uint32_t offset = uint16At(page, rowCountAt + 2 + 2 * row);
    const std::size_t end = row == 0 ? pageSize : uint16At(page, rowCountAt + 2 * row) & kRowOffsetMask;
    Slot slot;
    slot.flags = offset & (kMovedRow | kReachedByAddress);
    slot.start = offset & kRowOffsetMask;
    const std::size_t slotsEnd = rowCountAt + 2 + 2 * std::size_t(uint16At(page, rowCountAt));
    slot.inPage = slot.start >= slotsEnd && slot.start <= end && end <= pageSize;
    slot.length = slot.inPage ? end - slot.start : 0;
    return slot;
}

// One table's rows in the order a reader of the table sees them: page by page as the
// table's usage map lists its data pages, each page's slots in order, a moved row read
// at its new place in the stead of its old one.
class TableDump
{
public:
    TableDump(Writer& out, MdbHandle* mdb, Table& table, AccessFrame kind, std::uint64_t filePages)
        : m_out(out), m_mdb(mdb), m_table(table), m_kind(kind), m_filePages(filePages),
          m_pageSize(std::size_t(mdb->fmt->pg_size)), m_rowCountAt(std::size_t(mdb->fmt->row_count_offset)),
          m_fields(MDB_MAX_COLS), m_page(m_pageSize), m_newPlacesPage(m_pageSize)
    {
    }

    std::int64_t run()
    {
        MdbTableDef* def = m_table.def;
        listPages();
        for (const std::uint32_t page : m_pages) {
            loadPage(page);
            std::memcpy(m_page.data(), m_mdb->pg_buf, m_pageSize);
            const unsigned count = uint16At(m_page.data(), m_rowCountAt);
            if (m_rowCountAt + 2 + 2 * std::size_t(count) > m_pageSize)
                finishWith(m_out, AccessFrame::Damage,
                           "page %u of table '%s' lists more rows than the page can hold", page,
                           m_table.name);
            for (unsigned slotRow = 0; slotRow < count; ++slotRow) {
                const Slot slot = slotOf(m_page.data(), m_pageSize, m_rowCountAt, slotRow);
                // Deleted, or the new place of a moved row, read where its old place is.
                if (slot.flags & kReachedByAddress)
                    continue;
                if (std::uint64_t(m_rows) >= def->num_rows)
                    finishWith(m_out, AccessFrame::Damage,
                               "table '%s' holds more rows than its definition declares (%u)", m_table.name,
                               def->num_rows);
                ++m_rows;
                if (!slot.inPage)
                    finishWith(m_out, AccessFrame::Damage, "row %lld of table '%s' lies outside its page",
                               static_cast<long long>(m_rows), m_table.name);
                if (slot.flags & kMovedRow) {
                    readMoved(page, slot);
                    // Back to the page being walked, for its next rows.
                    std::memcpy(m_mdb->pg_buf, m_page.data(), m_pageSize);
                    m_mdb->cur_pg = page;
                } else {
                    send(slot);
                }
            }
        }
        if (m_inFrame != 0) {
            m_out.patch(m_countAt, m_inFrame);
            m_out.end();
        }
        if (std::uint64_t(m_rows) != def->num_rows)
            finishWith(m_out, AccessFrame::Damage, "table '%s' declares %u rows, but %lld could be read",
                       m_table.name, def->num_rows, static_cast<long long>(m_rows));
        return m_rows;
    }

private:
    // The data pages the table's usage map lists, each once; only these may hold its rows.
    void listPages()
    {
        MdbTableDef* def = m_table.def;
        g_mdb.rewindTable(def);
        for (;;) {
            const int page = g_mdb.readNextDataPage(def);
            if (page <= 0)
                break;
            if (std::uint64_t(page) >= m_filePages || m_pages.size() >= m_filePages)
                finishWith(m_out, AccessFrame::Damage, "the list of pages of table '%s' is impossible",
                           m_table.name);
            if (!m_own.insert(std::uint32_t(page)).second)
                finishWith(m_out, AccessFrame::Damage, "table '%s' lists page %d twice", m_table.name, page);
            m_pages.push_back(std::uint32_t(page));
        }
    }

    void loadPage(std::uint32_t page)
    {
        if (g_mdb.readPage(m_mdb, page) != ssize_t(m_pageSize))
            finishWith(m_out, AccessFrame::Damage, "page %u of table '%s' cannot be read", page,
                       m_table.name);
        // A data page names the table definition it belongs to.
        if (m_mdb->pg_buf[0] != MDB_PAGE_DATA ||
            g_mdb.getInt32(m_mdb->pg_buf, 4) != long(m_table.def->entry->table_pg))
            finishWith(m_out, AccessFrame::Damage, "page %u listed for table '%s' belongs to another table",
                       page, m_table.name);
    }

    // Follows the address a moved row left at its old place, once: the new place must be a
    // slot of the table's own pages flagged as such, reached by no other address.
    void readMoved(std::uint32_t fromPage, const Slot& old)
    {
        const auto row = static_cast<long long>(m_rows);
        if (old.length < 4)
            finishWith(m_out, AccessFrame::Damage,
                       "row %lld of table '%s' was moved by a later edit, but the address of its new place "
                       "is cut short",
                       row, m_table.name);
        const std::uint32_t address = std::uint32_t(g_mdb.getInt32(m_page.data(), int(old.start)));
        const std::uint32_t page = address >> 8;
        const unsigned slotRow = address & 0xff;
        if (!m_own.count(page))
            finishWith(m_out, AccessFrame::Damage,
                       "row %lld of table '%s' was moved by a later edit to page %u, which is not one of the "
                       "table's pages",
                       row, m_table.name, page);
        // Edits move rows to the same few pages one after another: the last one is kept.
        if (page == m_newPlacesPageNumber) {
            std::memcpy(m_mdb->pg_buf, m_newPlacesPage.data(), m_pageSize);
            m_mdb->cur_pg = page;
        } else if (page != fromPage) {
            loadPage(page);
            std::memcpy(m_newPlacesPage.data(), m_mdb->pg_buf, m_pageSize);
            m_newPlacesPageNumber = page;
        }
        const unsigned char* buffer = m_mdb->pg_buf;
        const unsigned count = uint16At(buffer, m_rowCountAt);
        if (slotRow >= count || m_rowCountAt + 2 + 2 * std::size_t(count) > m_pageSize)
            finishWith(m_out, AccessFrame::Damage,
                       "row %lld of table '%s' was moved by a later edit to row %u of page %u, which has no "
                       "such row",
                       row, m_table.name, slotRow, page);
        const Slot slot = slotOf(buffer, m_pageSize, m_rowCountAt, slotRow);
        if (slot.flags != kReachedByAddress)
            finishWith(m_out, AccessFrame::Damage,
                       "row %lld of table '%s' was moved by a later edit to row %u of page %u, which %s", row,
                       m_table.name, slotRow, page,
                       slot.flags == 0           ? "is read as a row of its own"
                       : slot.flags == kMovedRow ? "was moved on in its turn (a loop of moved rows)"
                                                 : "is deleted");
        if (!m_reached.insert(address).second)
            finishWith(m_out, AccessFrame::Damage,
                       "row %lld of table '%s' was moved by a later edit to row %u of page %u, where another "
                       "row was read already",
                       row, m_table.name, slotRow, page);
        if (!slot.inPage)
            finishWith(m_out, AccessFrame::Damage, "row %lld of table '%s' lies outside its page", row,
                       m_table.name);
        send(slot);
    }

    // Sends the row in `slot` of the page in the library's page buffer.
    void send(const Slot& slot)
    {
        const auto row = static_cast<long long>(m_rows);
        const int cracked = g_mdb.crackRow(m_table.def, int(slot.start), slot.length, m_fields.data());
        if (cracked != int(m_table.def->num_cols))
            finishWith(m_out, AccessFrame::Damage, "row %lld of table '%s' does not hold its columns", row,
                       m_table.name);
        if (m_inFrame == 0) {
            m_out.begin(m_kind);
            m_countAt = m_out.frameStart() + kAccessFrameHeaderSize;
            m_out.value(std::uint32_t(0));
        }
        const unsigned char* buffer = m_mdb->pg_buf;
        for (std::size_t c = 0; c < m_table.columns.size(); ++c) {
            const MdbField& field = m_fields[m_table.columns[c]];
            const auto* value = static_cast<const unsigned char*>(field.value);
            const bool inPage = field.siz >= 0 && value >= buffer &&
                                std::size_t(value - buffer) + std::size_t(field.siz) <= m_pageSize;
            if (!field.is_null && !inPage)
                finishWith(m_out, AccessFrame::Damage, "row %lld of table '%s' has a value outside its page",
                           row, m_table.name);
            if (m_table.kinds[c] == Field::Text) {
                if (field.is_null) {
                    m_out.value(kAccessNullText);
                } else {
                    if (field.siz >= kAccessNullText)
                        finishWith(m_out, AccessFrame::Damage, "row %lld of table '%s' has an overlong text",
                                   row, m_table.name);
                    m_out.value(std::uint16_t(field.siz));
                    m_out.bytes(value, std::size_t(field.siz));
                }
            } else if (field.is_null) {
                m_out.value(std::uint8_t(0));
            } else {
                if (field.siz != 8)
                    finishWith(m_out, AccessFrame::Damage, "row %lld of table '%s' has a date of %d bytes",
                               row, m_table.name, field.siz);
                m_out.value(std::uint8_t(1));
                m_out.bytes(value, 8);
            }
        }
        ++m_inFrame;
        if (m_out.bodySize() >= 64 * 1024) {
            m_out.patch(m_countAt, m_inFrame);
            m_out.end();
            m_inFrame = 0;
        }
    }

    Writer& m_out;
    MdbHandle* m_mdb;
    Table& m_table;
    AccessFrame m_kind;
    std::uint64_t m_filePages;
    std::size_t m_pageSize;
    std::size_t m_rowCountAt;
    std::vector<MdbField> m_fields;
    std::vector<unsigned char> m_page;
    std::vector<unsigned char> m_newPlacesPage;
    std::uint32_t m_newPlacesPageNumber = 0;
    std::vector<std::uint32_t> m_pages;
    std::unordered_set<std::uint32_t> m_own;
    std::unordered_set<std::uint32_t> m_reached;
    std::int64_t m_rows = 0;
    std::size_t m_countAt = 0;
    std::uint32_t m_inFrame = 0;
};

// Where the frame saying that memory ran out goes; set once, before the limit.
int g_outOfMemoryFd = -1;
std::size_t g_memoryBudget = 0;

// Says why and ends the process, from wherever an allocation failed: written straight to
// the pipe, with no allocation of its own. Frames already flushed are whole, so the parent
// reads this one after them; what was still buffered is dropped.
[[noreturn]] void outOfMemory()
{
    static char frame[160];
    const int length = std::snprintf(frame + kAccessFrameHeaderSize, sizeof frame - kAccessFrameHeaderSize,
                                     "reading it needed more than %zu MB of memory", g_memoryBudget >> 20);
    const auto body = std::uint32_t(std::max(length, 0));
    std::memcpy(frame, &body, 4);
    frame[4] = char(AccessFrame::Damage);
    std::size_t done = 0;
    while (done < kAccessFrameHeaderSize + body) {
        const ssize_t n = ::write(g_outOfMemoryFd, frame + done, kAccessFrameHeaderSize + body - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    _exit(0);
}

void glibFatal(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer)
{
    // GLib ends the process after an error; the only error it raises here is a failed
    // allocation.
    if (level & G_LOG_LEVEL_ERROR)
        outOfMemory();
    g_mdb.logDefaultHandler(domain, level, message, nullptr);
}

void limitMemory(int fd, std::size_t budget)
{
    g_outOfMemoryFd = fd;
    g_memoryBudget = budget;
    // The address space already taken: this process is a copy of its parent, which may be
    // a large program.
    char text[64] = {};
    const int statm = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    const ssize_t n = statm >= 0 ? ::read(statm, text, sizeof text - 1) : -1;
    if (statm >= 0)
        ::close(statm);
    const unsigned long long pages = n > 0 ? std::strtoull(text, nullptr, 10) : 0;
    const auto taken = rlim_t(pages * std::uint64_t(::sysconf(_SC_PAGESIZE)));
    const rlimit limit{taken + budget, taken + budget};
    ::setrlimit(RLIMIT_AS, &limit);
    std::set_new_handler(outOfMemory);
    g_mdb.logSetDefaultHandler(glibFatal, nullptr);
}

} // namespace

void AccessTableDump::run(const char* path, int fd, std::size_t memoryBudget)
{
    Writer out(fd);
    g_mdb = loadMdb();
    if (g_mdb.failure)
        finishWith(out, AccessFrame::Damage, "%s", g_mdb.failure);
    limitMemory(fd, memoryBudget);
    MdbHandle* mdb = g_mdb.open(path, MDB_NOFLAGS);
    if (!mdb)
        finishWith(out, AccessFrame::Damage, "the Access library cannot open it");
    if (mdb->f->jet_version != MDB_VER_JET4 || mdb->fmt->pg_size != 4096)
        finishWith(out, AccessFrame::Damage, "the Access library does not take it for a Jet 4 database");
    if (!g_mdb.readCatalog(mdb, MDB_TABLE))
        finishWith(out, AccessFrame::Damage, "its catalogue of tables cannot be read");
    struct stat file
    {
    };
    if (::fstat(fileno(mdb->f->stream), &file) != 0)
        finishWith(out, AccessFrame::Damage, "its size cannot be read");
    const auto filePages = std::uint64_t(file.st_size) / std::uint64_t(mdb->fmt->pg_size);
    Table employ = openTable(out, mdb, "employ", kEmployColumns);
    Table sgdjb = openTable(out, mdb, "sgdjb", kSgdjbColumns);

    out.begin(AccessFrame::Counts);
    out.value(std::int64_t(employ.def->num_rows));
    out.value(std::int64_t(sgdjb.def->num_rows));
    out.end();
    out.flush();

    const std::int64_t employees = TableDump(out, mdb, employ, AccessFrame::EmployeeRows, filePages).run();
    out.begin(AccessFrame::EmployeesEnd);
    out.value(employees);
    out.end();
    const std::int64_t attendance = TableDump(out, mdb, sgdjb, AccessFrame::AttendanceRows, filePages).run();
    out.begin(AccessFrame::AttendanceEnd);
    out.value(attendance);
    out.end();
    out.begin(AccessFrame::End);
    out.end();
    out.flush();
    _exit(0);
}
