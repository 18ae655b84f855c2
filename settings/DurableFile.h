#pragma once

#include <QByteArray>
#include <QString>

// Writing an existing file's new bytes so that a crash, a power cut or a full
// disk leaves its old bytes or its new ones, and the file stays the same
// file: its symbolic link, its rights, its owner and its other names. Knows
// nothing of what the bytes mean.

// Clears the read-only state (on Windows: every attribute but archive) of the
// file that `path` names, links followed. Fails when there is no such file or
// its state cannot be changed; `reason` is then never empty.
bool makeWritable(const QString &path, QString *reason = nullptr);

// Replaces the file that `path` names, symbolic links followed, with `bytes`,
// and returns only once the new bytes and the file's name are on the disk.
// Refuses a file that this user may not write. The new bytes go into a file
// beside it, which takes its place, atomically, with the old file's mode,
// owner and group (on Windows: its access list). It writes in place
// instead, with overwriteFileInPlace(), where a new file would not be the
// same file (another owner or group than this user may give it, a second
// hard link), where no file can be made beside it, and on Windows where
// another program holds the file open against replacing (retried for a
// moment first). Never creates the file. On failure `reason` is never empty
// and the old file stays as it was, except where only the sync of the folder
// after the rename fails: then the new file stands, maybe not yet on the
// disk.
bool replaceFileDurably(const QString &path, const QByteArray &bytes, QString *reason = nullptr);

// Writes `bytes` over those of the existing file, cuts the file to their
// length and syncs both to the disk. A failing step (a full disk, a size
// limit, a device error, a failed sync) puts the old bytes and length back,
// so the file stays whole; only a crash or power loss between the one write
// and the cut can leave a mix. Never creates the file. On failure
// `reason` is never empty.
bool overwriteFileInPlace(const QString &path, const QByteArray &bytes, QString *reason = nullptr);
