#pragma once

struct pg_result;

// One result of the server, owned: freed when it goes, moved but never copied, so that a
// result handed out by PgBackend can be neither leaked nor freed twice.
class PgResult
{
public:
    PgResult() = default;
    explicit PgResult(pg_result* result) : m_result(result) {}
    ~PgResult();
    PgResult(PgResult&& other) noexcept : m_result(other.release()) {}
    PgResult& operator=(PgResult&& other) noexcept;
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;

    explicit operator bool() const { return m_result != nullptr; }
    // For libpq calls inside the server back end.
    pg_result* get() const { return m_result; }
    pg_result* release();

    int rows() const;
    int columns() const;
    // The value as the server sent it in text form; "" for NULL.
    const char* value(int row, int column) const;

private:
    pg_result* m_result = nullptr;
};
