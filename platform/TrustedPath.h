#pragma once

#include <QString>

#include <optional>

// Whether a path can be trusted from the root down to its last folder: no folder on the way
// may be changed by anyone but its owner and root (a folder its group or everyone may
// write, without the sticky bit, lets them move what it holds away and put something else,
// a link to another database, in its place), and no symbolic link on the way may be one
// that such a person could have made (a link in a folder others may write to, made by
// someone other than root, that folder's owner or this user). Links made by the trusted
// are followed and the folders they lead to checked in turn.
//
// A folder writable by its group alone is not counted when the group is its owner's own
// (named after the owner, with no one else in it), as the user's private groups are.
class TrustedPath
{
public:
    // Why the path cannot be trusted, naming the folder (or link) and the reason; nothing
    // when it can. A part of the path that does not exist or cannot be read ends the walk
    // without a finding: opening the file reports it for what it is.
    static std::optional<QString> problem(const QString& path);

    // Whether someone besides the folder's owner and root may create, rename or delete
    // entries in it (so that only entries of trusted owners may be relied on); false for
    // a folder that cannot be read.
    static bool othersMayWrite(const QString& folder);
};
