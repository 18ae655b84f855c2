#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

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
// "NAME.tavrin-XXXXXX" beside it, which takes its place, atomically, with
// the old file's mode, owner, group, access list and extended attributes (on
// Windows: its access list); first, such files that an earlier save left
// there are removed. It writes in place instead, with overwriteFileInPlace(),
// where a new file would not be the same file (another owner or group than
// this user may give it, an access list or attributes that cannot be carried
// over, a second hard link), where no file can be made beside it, and on
// Windows where this user may not delete the old file or another program
// holds it open against replacing (retried for a moment first). Never
// creates the file. On failure `reason` is never empty and the old file stays
// as it was. Where only the sync of the folder after the rename fails, the
// new file stands, maybe not yet on the disk: the result is true and
// `reason` says so.
bool replaceFileDurably(const QString &path, const QByteArray &bytes, QString *reason = nullptr);

// Writes `bytes` over those of the existing file and cuts it to their length,
// so that at every moment the file holds its old bytes or the new ones, either
// maybe followed by blank lines (spaces, CR LF) that a reader skips: the
// length changes in steps of their own, each synced. Only where the bytes that
// change span more than one 512-byte sector of the disk can a power cut in the
// one write of them leave some sectors old and others new. A failing step (a
// full disk, a size limit, a device error, a failed sync) puts the old bytes
// and length back, so the file stays whole. Never creates the file. Takes no
// SaveLock. On failure `reason` is never empty.
bool overwriteFileInPlace(const QString &path, const QByteArray &bytes, QString *reason = nullptr);

// Saves of this program into one folder take turns, across processes: while
// one holds the lock, no other save of this program writes there, so a file
// of ours found there is a leftover of a save that died. Waits a few seconds
// at most; the lock goes with its holder's process.
class SaveLock
{
public:
    // The lock of the folder that holds `file`.
    explicit SaveLock(const QString &file);
    ~SaveLock();
    SaveLock(const SaveLock &) = delete;
    SaveLock &operator=(const SaveLock &) = delete;

    bool isHeld() const { return m_held; }

private:
#ifdef Q_OS_WIN
    void *m_mutex = nullptr;
#else
    int m_folder = -1;
#endif
    bool m_held = false;
};
