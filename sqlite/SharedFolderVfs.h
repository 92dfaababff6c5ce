#pragma once

// The file system as SQLite sees it in a sticky shared folder, where only a file's owner
// may delete it. SQLite deletes the rollback journal at the end of each write and after
// rolling back a journal a crashed writer left (a hot journal): when that journal belongs
// to another member of the group, the delete is refused, and without this every terminal
// would fail on the journal until its owner came back. Here a journal that cannot be
// deleted is emptied instead, which is what SQLite's own TRUNCATE journal mode leaves
// behind: an empty journal is never taken for a hot one. Everything else is the default
// file system's.
class SharedFolderVfs
{
public:
    // The name to open a database with (registered on first use).
    static const char* name();
};
