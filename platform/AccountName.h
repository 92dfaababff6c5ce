#pragma once

#include <QString>

#include <sys/types.h>

// The names of a file's owner and group in what the terminal tells an administrator: the
// account's name, else "uid N" for a user and the bare number for a group (so that a chgrp
// command quoted with it still works).
class AccountName
{
public:
    static QString user(uid_t uid);
    static QString group(gid_t gid);
};
