#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace TestSupport {

// Edits the bytes of a Jet 4 file the way the attendance software's later edits leave
// them: a row grown too long for its place is written to another data page of its table,
// flagged as reached only through an address, and its old slot keeps that address
// (row number in the low byte, page number above) under the moved-row flag; a deleted row
// has both flags and no longer counts in the table definition. Every call checks what it
// relies on and throws std::runtime_error when the page is not as expected.
class AccessPageEditor
{
public:
    static constexpr int kPageSize = 4096;
    static constexpr quint16 kMovedRow = 0x4000;
    static constexpr quint16 kReachedByAddress = 0x8000;

    explicit AccessPageEditor(QByteArray bytes);

    const QByteArray& bytes() const { return m_bytes; }

    // The data pages belonging to the table whose definition is on `tablePage`, in page order.
    QList<int> dataPages(int tablePage) const;
    // A new, empty data page at the end of the file, listed in the table's usage map.
    int addDataPage(int tablePage);

    int slotCount(int page) const;
    QByteArray row(int page, int slot) const;
    quint16 flags(int page, int slot) const;

    // The row's texts (the table's variable-length columns, in column order) replaced,
    // its other bytes kept; NULL for nullopt.
    static QByteArray withTexts(const QByteArray& row, const QList<std::optional<QString>>& texts);

    // Writes `data` into the page's free space as a new slot; returns the slot.
    int appendRow(int page, const QByteArray& data, quint16 flags = 0);
    // Writes the grown row to `toPage` and leaves the address of its new place in the old
    // slot. Returns the new place's slot.
    int moveRow(int page, int slot, const QByteArray& grown, int toPage);
    // Overwrites the address left in a moved row's old slot.
    void setAddress(int page, int slot, int toPage, int toSlot);
    // Marks the row deleted (a moved row at both its places) and counts it out of the
    // table definition on `tablePage`.
    void deleteRow(int tablePage, int page, int slot);
    void setFlags(int page, int slot, quint16 flags);

    quint32 declaredRows(int tablePage) const;
    void setDeclaredRows(int tablePage, quint32 rows);

private:
    qsizetype pageAt(int page) const;
    qsizetype slotEntry(int page, int slot) const;
    // Start and length of a slot's bytes in the file.
    std::pair<qsizetype, qsizetype> slotBytes(int page, int slot) const;
    quint32 u16(qsizetype at) const;
    quint32 u32(qsizetype at) const;
    void put16(qsizetype at, quint32 value);
    void put32(qsizetype at, quint32 value);

    QByteArray m_bytes;
};

} // namespace TestSupport
