#include "support/AccessFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>
#include <stdexcept>
#include <zlib.h>

namespace TestSupport {

namespace {

[[noreturn]] void missing(const QString& what)
{
    throw std::runtime_error(what.toStdString());
}

} // namespace

QString AccessFixtures::folder()
{
    const QString configured = qEnvironmentVariable("TAVELO_ACCESS_FIXTURES");
    const QString folder =
        QDir::cleanPath(configured.isEmpty() ? QStringLiteral(TAVELO_ACCESS_FIXTURES_DIR) : configured);
    if (!QFileInfo(folder).isDir())
        missing(
            QStringLiteral("The Access fixture folder %1 is missing: it holds the Access files these tests "
                           "read (set TAVELO_ACCESS_FIXTURES to another folder).")
                .arg(folder));
    return folder;
}

QString AccessFixtures::path(const QString& name)
{
    const QString file = folder() + u'/' + name;
    if (!QFileInfo(file).isFile())
        missing(QStringLiteral("The Access fixture %1 is missing.").arg(file));
    return file;
}

QString AccessFixtures::bigFile()
{
    static std::unique_ptr<QTemporaryDir> dir;
    static QString file;
    if (!file.isEmpty())
        return file;
    const QString packed = path(QStringLiteral("kq-big.mdb.gz"));
    auto made = std::make_unique<QTemporaryDir>();
    if (!made->isValid())
        missing(QStringLiteral("No temporary folder for kq-big.mdb: %1").arg(made->errorString()));
    const QString target = made->filePath(QStringLiteral("kq-big.mdb"));
    gzFile in = gzopen(QFile::encodeName(packed).constData(), "rb");
    QFile out(target);
    if (!in || !out.open(QIODevice::WriteOnly))
        missing(QStringLiteral("Cannot decompress %1 into %2.").arg(packed, target));
    QByteArray buffer(1 << 20, '\0');
    for (;;) {
        const int n = gzread(in, buffer.data(), unsigned(buffer.size()));
        if (n < 0) {
            gzclose(in);
            missing(QStringLiteral("%1 is not a readable gzip file.").arg(packed));
        }
        if (n == 0)
            break;
        out.write(buffer.constData(), n);
    }
    gzclose(in);
    out.close();
    dir = std::move(made);
    file = target;
    return file;
}

} // namespace TestSupport
