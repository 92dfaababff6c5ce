#include "support/AccessPageEditor.h"

#include <stdexcept>
#include <string>

namespace TestSupport {

namespace {

constexpr qsizetype kFreeSpaceAt = 2;
constexpr qsizetype kOwnerAt = 4;
constexpr qsizetype kRowCountAt = 12;
constexpr qsizetype kSlotsAt = 14;
constexpr quint32 kOffsetMask = 0x1fff;
constexpr qsizetype kDeclaredRowsAt = 16;
constexpr qsizetype kUsageMapAt = 55;
constexpr char kDataPage = 0x01;
constexpr char kDefinitionPage = 0x02;
// Pages one page of a reference usage map covers: its bits after a 4-byte header.
constexpr int kPagesPerMapPage = (AccessPageEditor::kPageSize - 4) * 8;

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error("AccessPageEditor: " + what);
}

} // namespace

AccessPageEditor::AccessPageEditor(QByteArray bytes) : m_bytes(std::move(bytes))
{
    if (m_bytes.size() % kPageSize != 0)
        fail("not a whole number of pages");
}

qsizetype AccessPageEditor::pageAt(int page) const
{
    if (page < 0 || qsizetype(page + 1) * kPageSize > m_bytes.size())
        fail("no page " + std::to_string(page));
    return qsizetype(page) * kPageSize;
}

quint32 AccessPageEditor::u16(qsizetype at) const
{
    return quint32(quint8(m_bytes[at])) | quint32(quint8(m_bytes[at + 1])) << 8;
}

quint32 AccessPageEditor::u32(qsizetype at) const
{
    return u16(at) | u16(at + 2) << 16;
}

void AccessPageEditor::put16(qsizetype at, quint32 value)
{
    m_bytes[at] = char(value & 0xff);
    m_bytes[at + 1] = char((value >> 8) & 0xff);
}

void AccessPageEditor::put32(qsizetype at, quint32 value)
{
    put16(at, value & 0xffff);
    put16(at + 2, value >> 16);
}

QList<int> AccessPageEditor::dataPages(int tablePage) const
{
    QList<int> pages;
    for (int page = 0; qsizetype(page + 1) * kPageSize <= m_bytes.size(); ++page) {
        const qsizetype at = qsizetype(page) * kPageSize;
        if (m_bytes[at] == kDataPage && u32(at + kOwnerAt) == quint32(tablePage))
            pages.append(page);
    }
    return pages;
}

int AccessPageEditor::addDataPage(int tablePage)
{
    const qsizetype definition = pageAt(tablePage);
    if (m_bytes[definition] != kDefinitionPage)
        fail("page " + std::to_string(tablePage) + " holds no table definition");
    const int page = int(m_bytes.size() / kPageSize);
    QByteArray fresh(kPageSize, '\0');
    fresh[0] = kDataPage;
    fresh[1] = 0x01;
    m_bytes.append(fresh);
    const qsizetype at = pageAt(page);
    put16(at + kFreeSpaceAt, quint32(kPageSize - kSlotsAt));
    put32(at + kOwnerAt, quint32(tablePage));

    // The usage map is a row elsewhere: an inline bitmap (type 0: first page, then bits)
    // or a list of map pages (type 1: page numbers, each page's bits after 4 bytes).
    const quint32 address = u32(definition + kUsageMapAt);
    const auto [mapStart, mapLength] = slotBytes(int(address >> 8), int(address & 0xff));
    if (mapLength < 5)
        fail("usage map row too short");
    if (m_bytes[mapStart] == 0) {
        const quint32 first = u32(mapStart + 1);
        const qsizetype bit = page - qsizetype(first);
        if (bit < 0 || bit >= (mapLength - 5) * 8)
            fail("new page outside the inline usage map");
        m_bytes[mapStart + 5 + bit / 8] = char(quint8(m_bytes[mapStart + 5 + bit / 8]) | (1 << (bit % 8)));
    } else if (m_bytes[mapStart] == 1) {
        const qsizetype index = page / kPagesPerMapPage;
        if (1 + 4 * (index + 1) > mapLength)
            fail("new page beyond the reference usage map");
        const quint32 mapPage = u32(mapStart + 1 + 4 * index);
        if (mapPage == 0)
            fail("no map page for the new page");
        const qsizetype bit = page % kPagesPerMapPage;
        const qsizetype byte = pageAt(int(mapPage)) + 4 + bit / 8;
        m_bytes[byte] = char(quint8(m_bytes[byte]) | (1 << (bit % 8)));
    } else {
        fail("unknown usage map type");
    }
    return page;
}

int AccessPageEditor::slotCount(int page) const
{
    return int(u16(pageAt(page) + kRowCountAt));
}

qsizetype AccessPageEditor::slotEntry(int page, int slot) const
{
    if (slot < 0 || slot >= slotCount(page))
        fail("no slot " + std::to_string(slot) + " on page " + std::to_string(page));
    return pageAt(page) + kSlotsAt + 2 * slot;
}

std::pair<qsizetype, qsizetype> AccessPageEditor::slotBytes(int page, int slot) const
{
    const qsizetype start = u16(slotEntry(page, slot)) & kOffsetMask;
    const qsizetype end = slot == 0 ? kPageSize : u16(slotEntry(page, slot - 1)) & kOffsetMask;
    if (end < start)
        fail("slot " + std::to_string(slot) + " of page " + std::to_string(page) + " overlaps");
    return {pageAt(page) + start, end - start};
}

QByteArray AccessPageEditor::row(int page, int slot) const
{
    const auto [start, length] = slotBytes(page, slot);
    return m_bytes.mid(start, length);
}

quint16 AccessPageEditor::flags(int page, int slot) const
{
    return quint16(u16(slotEntry(page, slot)) & (kMovedRow | kReachedByAddress));
}

void AccessPageEditor::setFlags(int page, int slot, quint16 flags)
{
    const qsizetype entry = slotEntry(page, slot);
    put16(entry, (u16(entry) & kOffsetMask) | flags);
}

QByteArray AccessPageEditor::withTexts(const QByteArray& row, const QList<std::optional<QString>>& texts)
{
    // A Jet 4 row: column count, fixed-length values, variable-length values, their
    // offsets from the last backwards (after the end offset), their count, the null mask
    // (a set bit for a value present, by column number; the variable columns of employ and
    // sgdjb are their first columns).
    const auto at16 = [&](qsizetype i) { return quint32(quint8(row[i])) | quint32(quint8(row[i + 1])) << 8; };
    const qsizetype columns = at16(0);
    const qsizetype maskLength = (columns + 7) / 8;
    const qsizetype countAt = row.size() - maskLength - 2;
    const qsizetype variables = at16(countAt);
    if (variables != texts.size())
        fail("the row has " + std::to_string(variables) + " variable-length values");
    const qsizetype firstOffsetAt = countAt - 2 * variables;
    const qsizetype dataStart = at16(firstOffsetAt);
    QByteArray mask = row.right(maskLength);

    QByteArray out = row.left(dataStart);
    QList<quint32> offsets;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        offsets.append(quint32(out.size()));
        const int bit = int(i);
        if (texts[i]) {
            out.append(reinterpret_cast<const char*>(texts[i]->utf16()), texts[i]->size() * 2);
            mask[bit / 8] = char(quint8(mask[bit / 8]) | (1 << (bit % 8)));
        } else {
            mask[bit / 8] = char(quint8(mask[bit / 8]) & ~(1 << (bit % 8)));
        }
    }
    offsets.append(quint32(out.size()));
    for (qsizetype i = offsets.size() - 1; i >= 0; --i) {
        out.append(char(offsets[i] & 0xff));
        out.append(char(offsets[i] >> 8));
    }
    out.append(char(variables & 0xff));
    out.append(char(variables >> 8));
    out.append(mask);
    return out;
}

int AccessPageEditor::appendRow(int page, const QByteArray& data, quint16 flags)
{
    const qsizetype at = pageAt(page);
    if (m_bytes[at] != kDataPage)
        fail("page " + std::to_string(page) + " is no data page");
    const int count = slotCount(page);
    const qsizetype lowest =
        count == 0 ? kPageSize : qsizetype(u16(slotEntry(page, count - 1)) & kOffsetMask);
    const qsizetype start = lowest - data.size();
    if (start < kSlotsAt + 2 * (count + 1))
        fail("no room on page " + std::to_string(page));
    m_bytes.replace(at + start, data.size(), data);
    put16(at + kRowCountAt, quint32(count + 1));
    put16(at + kSlotsAt + 2 * count, quint32(start) | flags);
    put16(at + kFreeSpaceAt, u16(at + kFreeSpaceAt) - quint32(data.size() + 2));
    return count;
}

int AccessPageEditor::moveRow(int page, int slot, const QByteArray& grown, int toPage)
{
    if (flags(page, slot) != 0)
        fail("slot " + std::to_string(slot) + " of page " + std::to_string(page) + " is no plain row");
    if (row(page, slot).size() < 4)
        fail("a row too short to hold an address");
    const int newSlot = appendRow(toPage, grown, kReachedByAddress);
    setAddress(page, slot, toPage, newSlot);
    setFlags(page, slot, kMovedRow);
    return newSlot;
}

void AccessPageEditor::setAddress(int page, int slot, int toPage, int toSlot)
{
    put32(slotBytes(page, slot).first, quint32(toPage) << 8 | quint32(toSlot));
}

void AccessPageEditor::deleteRow(int tablePage, int page, int slot)
{
    if (flags(page, slot) == kMovedRow) {
        const quint32 address = u32(slotBytes(page, slot).first);
        setFlags(int(address >> 8), int(address & 0xff), kMovedRow | kReachedByAddress);
    } else if (flags(page, slot) != 0) {
        fail("slot " + std::to_string(slot) + " of page " + std::to_string(page) + " is no row");
    }
    setFlags(page, slot, kMovedRow | kReachedByAddress);
    setDeclaredRows(tablePage, declaredRows(tablePage) - 1);
}

quint32 AccessPageEditor::declaredRows(int tablePage) const
{
    return u32(pageAt(tablePage) + kDeclaredRowsAt);
}

void AccessPageEditor::setDeclaredRows(int tablePage, quint32 rows)
{
    put32(pageAt(tablePage) + kDeclaredRowsAt, rows);
}

} // namespace TestSupport
