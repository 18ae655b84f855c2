#pragma once

#include <QByteArray>
#include <QString>

// Writing an existing file's new bytes so that a crash, a power cut or a full
// disk leaves its old bytes or its new ones. Knows nothing of what the bytes
// mean.

// Clears the read-only state (on Windows: every attribute but archive). Fails
// when the file is missing or cannot be changed; `reason` is then never empty.
bool makeWritable(const QString &path, QString *reason = nullptr);

// Replaces the existing file with `bytes`, atomically, so that it is always
// either the old or the new file, and returns only once the new file and its
// name are on the disk. Where no file can be made beside it, and on Windows
// for a file that another program holds open against replacing (retried for
// a moment first), it writes in place instead, with overwriteFileInPlace().
// Never creates the file. On failure `reason` is never empty and the old file
// stays as it was, except where only the sync of the folder after the rename
// fails: then the new file stands, maybe not yet on the disk.
bool replaceFileDurably(const QString &path, const QByteArray &bytes, QString *reason = nullptr);

// Writes `bytes` over those of the existing file, cuts the file to their
// length and syncs both to the disk. A failing step (a full disk, a size
// limit, a device error, a failed sync) puts the old bytes and length back,
// so the file stays whole; only a crash or power loss between the one write
// and the cut can leave a mix. Never creates the file. On failure `reason` is
// never empty.
bool overwriteFileInPlace(const QString &path, const QByteArray &bytes, QString *reason = nullptr);
