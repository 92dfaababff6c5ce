#include "support/DevDatabase.h"

#include "interchange/DevSchema.h"
#include "support/SqliteFile.h"
#include "support/TestSupport.h"

#include <stdexcept>

namespace TestSupport {

DevDatabase::DevDatabase() : m_path(m_dir.filePath(QStringLiteral("kq.mdb")))
{
    if (!m_dir.isValid())
        throw std::runtime_error("cannot make a temporary folder");
    SqliteFile(m_path, SqliteFile::Mode::Create).exec(schemaSql());
}

DevDatabase::DevDatabase(int workers) : DevDatabase()
{
    for (int i = 1; i <= workers; ++i)
        exec(QStringLiteral("INSERT INTO employ VALUES ('%1', 'Worker %1', '01')")
                 .arg(i, 4, 10, QLatin1Char('0')));
}

QString DevDatabase::connectionString() const
{
    return jetConnectionString(m_path);
}

void DevDatabase::exec(const QString& sql) const
{
    SqliteFile(m_path).exec(sql);
}

qint64 DevDatabase::scalar(const QString& sql) const
{
    return SqliteFile(m_path).scalar(sql);
}

QString DevDatabase::text(const QString& sql) const
{
    return SqliteFile(m_path).text(sql);
}

QStringList DevDatabase::rows(const QString& sql) const
{
    return SqliteFile(m_path).rows(sql);
}

} // namespace TestSupport
