#pragma once

#include <cstdint>

// The records the Access reading process sends its parent over a pipe. A frame is a
// little-endian u32 body length, a u8 kind and the body. Row frames hold a u32 row count
// and the rows; a text field is a u16 byte length (kAccessNullText for NULL) and the
// Jet 4 text bytes as stored, a date/time field a u8 (0 NULL, 1 present) and the 8 bytes
// of the stored double.
enum class AccessFrame : std::uint8_t
{
    Counts = 1,         // i64 employ rows, i64 sgdjb rows, as the table definitions declare
    Refusal = 2,        // UTF-8 reason: a table or a column missing or of the wrong type
    Damage = 3,         // UTF-8 description of the damage found
    EmployeeRows = 4,   // num, name, dept_no
    EmployeesEnd = 5,   // i64 rows sent
    AttendanceRows = 6, // num, name, D, T, opdate
    AttendanceEnd = 7,  // i64 rows sent
    End = 8,            // nothing follows; the process exits with status 0
};

inline constexpr std::uint16_t kAccessNullText = 0xffff;
inline constexpr std::uint32_t kAccessMaxFrameBody = 16u << 20;
inline constexpr int kAccessFrameHeaderSize = 5;
