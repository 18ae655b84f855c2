#include "settings/DurableFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QThread>

#include <algorithm>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// The reason a technician reads under the failure message: Qt's text, or
// else the failing step with the system's last error.
QString reasonText(const QString &detail, const char *step, const QString &system = qt_error_string())
{
    if (!detail.isEmpty())
        return detail;
    QString text = QString::fromLatin1(step);
    if (!system.isEmpty())
        text += QStringLiteral(": ") + system;
    return text;
}

// On Windows a program that holds the file open without delete sharing (a
// virus scanner, a backup agent, the controller's own reader) makes the
// replace fail, often only for a moment.
constexpr int kReplaceTries = 8;
constexpr int kReplacePauseMs = 50;

// Why a step on `file` failed: the file's own error text, or else the step
// with the system's error, for a short write sets no error of its own.
QString stepFailure(const QFileDevice &file, const char *step)
{
    const QString system = qt_error_string(); // before anything else can change it
    return reasonText(file.error() != QFileDevice::NoError ? file.errorString() : QString(), step, system);
}

// What was written to `file` is on the disk, not only in the system's
// cache: the controller reloads the file right after a save, and a cabinet
// is often switched off right after that.
bool syncToDisk(QFileDevice &file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
#else
    return ::fdatasync(file.handle()) == 0;
#endif
}

// Puts `from` in the place of `to`. Windows writes the rename through to
// the disk; elsewhere syncFolder() does that.
bool renameOver(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    const QString nativeFrom = QDir::toNativeSeparators(from), nativeTo = QDir::toNativeSeparators(to);
    return MoveFileExW(reinterpret_cast<LPCWSTR>(nativeFrom.utf16()), reinterpret_cast<LPCWSTR>(nativeTo.utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

// Puts the names in the folder that holds `path` on the disk.
bool syncFolder([[maybe_unused]] const QString &path)
{
#ifdef Q_OS_WIN
    return true;
#else
    const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return false;
    // A file system that cannot sync a folder keeps its names as it can.
    const bool synced = ::fsync(folder) == 0 || errno == EINVAL || errno == ENOTSUP;
    const int error = errno;
    ::close(folder);
    errno = error;
    return synced;
#endif
}

} // namespace

bool makeWritable(const QString &path, QString *reason)
{
    auto fail = [reason](const QString &why) {
        if (reason)
            *reason = reasonText(why, "Cannot make the file writable");
        return false;
    };
#ifdef Q_OS_WIN
    if (!SetFileAttributesW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(path).utf16()),
                            FILE_ATTRIBUTE_ARCHIVE))
        return fail(qt_error_string(int(GetLastError())));
    return true;
#else
    QFile file(path);
    if (!file.exists())
        return fail(QStringLiteral("No such file or directory"));
    // Changing the mode needs ownership, which a user who may write the file
    // need not have; leave a mode that already lets the owner write.
    const QFileDevice::Permissions mode = file.permissions();
    if (mode & QFileDevice::WriteOwner)
        return true;
    if (!file.setPermissions(mode | QFileDevice::WriteOwner))
        return fail(file.errorString());
    return true;
#endif
}

bool replaceFileDurably(const QString &path, const QByteArray &text, QString *reason)
{
    auto fail = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };
    if (!QFile::exists(path))
        return fail(reasonText({}, "Cannot find the file", QStringLiteral("No such file or directory")));

    // The new text goes into a file of its own beside the old one and takes
    // its place only once it is whole on the disk.
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    // No file can be made beside it (a folder the user may not create files
    // in): write in place.
    if (!file.open())
        return overwriteFileInPlace(path, text, reason);
    // The old file's mode, as far as this user may set it.
    file.setPermissions(QFile::permissions(path));
    if (file.write(text) != text.size() || !syncToDisk(file))
        return fail(stepFailure(file, "Cannot write the file"));
    // Asking its name names a nameless file: only a whole one, so that a
    // crash before this point leaves nothing behind.
    const QString written = file.fileName();
    file.close();
    if (file.error() != QFileDevice::NoError)
        return fail(stepFailure(file, "Cannot write the file"));
    if (written.isEmpty())
        return overwriteFileInPlace(path, text, reason);

    for (int attempt = 1; !renameOver(written, path); ++attempt) {
        // Still held: where the holder lets others write, write in place.
        if (attempt == kReplaceTries)
            return overwriteFileInPlace(path, text, reason);
        QThread::msleep(kReplacePauseMs);
    }
    file.setAutoRemove(false);
    if (!syncFolder(path))
        return fail(reasonText({}, "The file was replaced, but the change may not be on the disk"));
    return true;
}

// The in-place writer, on its own: the one way to save a file that cannot be
// replaced, and the steps a crash can cut.
bool overwriteFileInPlace(const QString &path, const QByteArray &text, QString *reason)
{
    auto fail = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };
    QFile file(path);
    // Unbuffered, so that the text goes down in one write call.
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered))
        return fail(stepFailure(file, "Cannot open the file"));
    const QByteArray old = file.readAll();
    if (file.error() != QFileDevice::NoError || old.size() != file.size())
        return fail(stepFailure(file, "Cannot read the file"));
    if (!file.seek(0))
        return fail(stepFailure(file, "Cannot write the file"));

    const qint64 written = file.write(text);
    QString why;
    if (written != text.size() || !syncToDisk(file))
        why = stepFailure(file, "Cannot write the file");
    else if (!file.resize(text.size()) || !syncToDisk(file))
        why = stepFailure(file, "Cannot shorten the file");
    if (why.isEmpty())
        return true;

    // Put back the old bytes that the write reached, then the old length. The
    // bytes past those are untouched: rewriting them could fail for no reason
    // under a size limit that the old file already exceeds.
    const qint64 reached = std::min<qint64>(std::max<qint64>(written, 0), old.size());
    const bool restored = file.seek(0) && file.write(old.constData(), reached) == reached &&
                          (file.size() == old.size() || file.resize(old.size())) && syncToDisk(file);
    if (!restored)
        why += QStringLiteral("; the old contents could not be put back: ") +
               stepFailure(file, "Cannot restore the file");
    return fail(why);
}
