#pragma once

#include <QString>

namespace TestSupport {

// The Access (Jet 4) attendance databases the import is tested against, kept in the
// repository in tests/fixtures/access (TAVELO_ACCESS_FIXTURES names another folder). A
// missing folder or file throws, failing the test with a message naming it: these tests
// never skip.
class AccessFixtures
{
public:
    static QString folder();
    // kq2000.mdb, kq2003.mdb, ... in the fixture folder.
    static QString path(const QString& name);
    // kq-big.mdb.gz decompressed once per process into a temporary file, removed at exit.
    static QString bigFile();
};

} // namespace TestSupport
