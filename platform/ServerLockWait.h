#pragma once

#include "platform/ServerUnreachable.h"

// The server gave up waiting for a lock another session holds (lock_timeout): a table
// locked by the management software, a long transaction. Handled like a server that did
// not answer in time (the swipe waits and is sent later), but it can be named as what it
// is.
class ServerLockWait : public ServerUnreachable
{
public:
    using ServerUnreachable::ServerUnreachable;
};
