#include "settings/DurableFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QThread>

#include <algorithm>
#include <optional>

#ifdef Q_OS_WIN
#include <QCryptographicHash>

#include <memory>
#include <string>

#include <aclapi.h>
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>

#include <acl/libacl.h>
#include <attr/libattr.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// On Windows a program that holds the file open without delete sharing (a
// virus scanner, a backup agent, the controller's own reader) makes the
// replace fail, often only for a moment.
constexpr int kReplaceTries = 8;
constexpr int kReplacePauseMs = 50;

// How long a save waits for another window's save in the same folder.
constexpr int kLockWaitMs = 10000;

// What names a new file as ours: "Backward.ini.tavrin-AbCdEf".
constexpr char kTemporaryMark[] = ".tavrin-";
constexpr int kTemporaryRandomChars = 6;

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

bool fail(QString *reason, const QString &why)
{
    if (reason)
        *reason = why;
    return false;
}

// Why a step on `file` failed: the file's own error text, or else the step
// with the system's error, for a short write sets no error of its own.
QString stepFailure(const QFileDevice &file, const char *step)
{
    const QString system = qt_error_string(); // before anything else can change it
    return reasonText(file.error() != QFileDevice::NoError ? file.errorString() : QString(), step, system);
}

#ifdef Q_OS_WIN
std::wstring native(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

struct HandleCloser {
    void operator()(void *handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The existing file, opened for `access` whatever others hold it open for;
// empty, with the system's error, where it cannot be.
Handle openExisting(const QString &path, DWORD access)
{
    const HANDLE handle = CreateFileW(native(path).c_str(), access,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    return Handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}
#endif

// The file that `path` names, with every symbolic link on the way followed:
// the save replaces that file, beside itself, and the links stay links.
// Empty, with the reason, where there is none (a dangling link included).
QString resolvedFile(const QString &path, QString *reason)
{
#ifdef Q_OS_WIN
    // Qt's canonical path follows no link on Windows; the system's does.
    const Handle file = openExisting(path, FILE_READ_ATTRIBUTES);
    std::wstring name(MAX_PATH, L'\0');
    DWORD length = 0;
    while (file && (length = GetFinalPathNameByHandleW(file.get(), name.data(), DWORD(name.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) >= name.size())
        name.resize(length);
    if (!file || length == 0) {
        fail(reason, reasonText({}, "Cannot find the file"));
        return {};
    }
    QString found = QString::fromStdWString(name.substr(0, length));
    if (found.startsWith(QLatin1String("\\\\?\\UNC\\")))
        found = QLatin1String("\\\\") + found.mid(8);
    else if (found.startsWith(QLatin1String("\\\\?\\")))
        found = found.mid(4);
    return QDir::fromNativeSeparators(found);
#else
    char *found = ::realpath(QFile::encodeName(path).constData(), nullptr);
    if (!found) {
        fail(reason, reasonText({}, "Cannot find the file"));
        return {};
    }
    const QString target = QFile::decodeName(found);
    std::free(found);
    return target;
#endif
}

// Whether this user may write the file itself, not only its folder: a
// replace through the folder must not get round the file's own rights.
bool mayWrite(const QString &target, QString *reason)
{
#ifdef Q_OS_WIN
    // Asking the system for write access decides by the file's access list,
    // as a write would. A program that holds the file open decides nothing
    // here: the replace's own steps handle that.
    if (openExisting(target, FILE_WRITE_DATA) || GetLastError() == ERROR_SHARING_VIOLATION)
        return true;
#else
    if (::faccessat(AT_FDCWD, QFile::encodeName(target).constData(), W_OK, AT_EACCESS) == 0)
        return true;
#endif
    return fail(reason, reasonText({}, "This user may not write the file"));
}

// Whether a new file may take the old one's place. On Windows a rename over
// a file needs the right to delete it, which "Write" without "Modify" lacks:
// a new file, once it carries the old one's access list, could then be
// neither renamed nor removed. A program that holds the file against
// deleting hides that right: it is waited for a moment, as a rename would.
bool mayReplace([[maybe_unused]] const QString &target)
{
#ifdef Q_OS_WIN
    for (int attempt = 1; !openExisting(target, DELETE); ++attempt) {
        if (GetLastError() != ERROR_SHARING_VIOLATION || attempt == kReplaceTries)
            return false;
        QThread::msleep(kReplacePauseMs);
    }
#endif
    return true;
}

// What a new file must be given to be the same file as the old one.
class FileIdentity
{
public:
    // Empty, with the reason, where the old file's state cannot be read.
    static std::optional<FileIdentity> of(const QString &target, QString *reason);

    // False where a new file can never be the same: the old one has another
    // name, which would keep the old bytes.
    bool replaceKeepsIt() const { return m_links <= 1; }

    // Gives the new file the old one's rights and owner (elsewhere than on
    // Windows also its access list and extended attributes); false where
    // this user may not, or where they cannot be read.
    bool giveTo(QTemporaryFile &file) const;

private:
    unsigned long m_links = 1;
#ifdef Q_OS_WIN
    struct LocalFreer {
        void operator()(void *memory) const { LocalFree(memory); }
    };
    // Empty where the old access list cannot be read.
    std::unique_ptr<void, LocalFreer> m_descriptor;
    PACL m_accessList = nullptr;
    bool m_protected = false;
#else
    QByteArray m_path;
    struct stat m_state {};
#endif
};

std::optional<FileIdentity> FileIdentity::of(const QString &target, QString *reason)
{
    FileIdentity identity;
#ifdef Q_OS_WIN
    const Handle file = openExisting(target, FILE_READ_ATTRIBUTES);
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !GetFileInformationByHandle(file.get(), &info)) {
        fail(reason, reasonText({}, "Cannot read the file's state"));
        return std::nullopt;
    }
    identity.m_links = info.nNumberOfLinks;
    // The owner does not decide on Windows (an installer's files seldom
    // belong to the technician), the access list does.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(native(target).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &identity.m_accessList, nullptr, &descriptor) == ERROR_SUCCESS) {
        identity.m_descriptor.reset(descriptor);
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        identity.m_protected =
            GetSecurityDescriptorControl(descriptor, &control, &revision) && (control & SE_DACL_PROTECTED);
    }
#else
    const bool known = ::stat(QFile::encodeName(target).constData(), &identity.m_state) == 0;
    if (!known || !S_ISREG(identity.m_state.st_mode)) {
        fail(reason, known ? QStringLiteral("Cannot write the file: Not a regular file")
                           : reasonText({}, "Cannot read the file's state"));
        return std::nullopt;
    }
    identity.m_links = identity.m_state.st_nlink;
    identity.m_path = QFile::encodeName(target);
#endif
    return identity;
}

bool FileIdentity::giveTo(QTemporaryFile &file) const
{
#ifdef Q_OS_WIN
    if (!m_descriptor)
        return false;
    // The old file's own entries; inherited ones come from the folder, the
    // same for both files.
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION |
        (m_protected ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
    std::wstring name = native(file.fileName());
    return SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, what, nullptr, nullptr, m_accessList, nullptr) ==
           ERROR_SUCCESS;
#else
    // On the open file, before it has a name: nothing else can be given it.
    const int made = file.handle();
    struct stat state {};
    if (::fstat(made, &state) != 0)
        return false;
    const bool sameOwner = state.st_uid == m_state.st_uid && state.st_gid == m_state.st_gid;
    // The owner first: a change of owner clears the set-user-id bits.
    if (!(sameOwner || ::fchown(made, m_state.st_uid, m_state.st_gid) == 0) ||
        ::fchmod(made, m_state.st_mode & 07777) != 0)
        return false;
    // The mode alone would give the group the access list's mask and drop
    // its named users: a replace must neither widen nor narrow a right.
    const int old = ::open(m_path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (old < 0)
        return false;
    const bool copied = perm_copy_fd(m_path.constData(), old, "", made, nullptr) == 0 &&
                        attr_copy_fd(m_path.constData(), old, "", made, nullptr, nullptr) == 0;
    ::close(old);
    return copied;
#endif
}

// Whether `name`, in the folder of the file named `fileName`, is a file that
// one of our saves made beside it: our template, its X's made letters or
// digits.
bool isOurTemporaryName(const QString &name, const QString &fileName)
{
#ifdef Q_OS_WIN
    constexpr Qt::CaseSensitivity fileNameCase = Qt::CaseInsensitive;
#else
    constexpr Qt::CaseSensitivity fileNameCase = Qt::CaseSensitive;
#endif
    const QString prefix = fileName + QLatin1String(kTemporaryMark);
    if (name.size() != prefix.size() + kTemporaryRandomChars || !name.startsWith(prefix, fileNameCase))
        return false;
    return std::all_of(name.cbegin() + prefix.size(), name.cend(), [](QChar c) {
        return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
               (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
    });
}

// Removes the files that saves which died left beside `target`. Only under a
// held SaveLock: then none of them is still being written.
void removeLeftovers(const QString &target)
{
    const QFileInfo info(target);
    const QDir folder = info.absoluteDir();
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks)) {
        if (isOurTemporaryName(name, info.fileName()))
            QFile::remove(folder.filePath(name));
    }
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
    return MoveFileExW(native(from).c_str(), native(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

// Puts the names in the folder that holds the file `path` on the disk.
bool syncFolder([[maybe_unused]] const QString &path)
{
#ifdef Q_OS_WIN
    return true;
#else
    const QByteArray file = QFile::encodeName(path);
    int opened = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                        O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool synced = false;
    if (opened >= 0) {
        // A file system that cannot sync a folder keeps its names as it can.
        synced = ::fsync(opened) == 0 || errno == EINVAL || errno == ENOTSUP;
    } else {
        // A folder that its user may write but not list opens for nothing;
        // its file system, synced through the file, needs no such right.
        opened = ::open(file.constData(), O_RDONLY | O_CLOEXEC);
        if (opened < 0)
            opened = ::open(file.constData(), O_WRONLY | O_CLOEXEC);
        if (opened < 0)
            return false;
        synced = ::syncfs(opened) == 0;
    }
    const int error = errno;
    ::close(opened);
    errno = error;
    return synced;
#endif
}

// The replace proper: a new file beside `target`, given its identity, whole
// on the disk, then renamed over it. Writes in place where that cannot be.
bool replaceBeside(const QString &target, const QByteArray &bytes, const FileIdentity &identity, QString *reason)
{
    QString written;
    {
        QTemporaryFile file(target + QLatin1String(kTemporaryMark) +
                            QString(kTemporaryRandomChars, QLatin1Char('X')));
        // No file can be made beside it (a folder the user may not create
        // files in), or not as the same file: write in place.
        if (!file.open() || !identity.giveTo(file))
            return overwriteFileInPlace(target, bytes, reason);
        if (file.write(bytes) != bytes.size() || !syncToDisk(file))
            return fail(reason, stepFailure(file, "Cannot write the file"));
        // Asking its name names a nameless file: only a whole one, so that a
        // crash before this point leaves nothing behind.
        written = file.fileName();
        if (written.isEmpty())
            return overwriteFileInPlace(target, bytes, reason);
        file.setAutoRemove(false);
    } // Only here does Qt let go of the file: Windows renames no file it holds.

    for (int attempt = 1; !renameOver(written, target); ++attempt) {
        // Still held: where the holder lets others write, write in place.
        if (attempt == kReplaceTries) {
            QFile::remove(written);
            return overwriteFileInPlace(target, bytes, reason);
        }
        QThread::msleep(kReplacePauseMs);
    }
    // The new file stands whatever the sync says: the caller asks for the
    // reload and then reports what is unsure.
    if (!syncFolder(target) && reason)
        *reason = reasonText({}, "The file was replaced, but the change may not be on the disk");
    return true;
}

} // namespace

bool makeWritable(const QString &path, QString *reason)
{
    auto failed = [reason](const QString &why) {
        return fail(reason, reasonText(why, "Cannot make the file writable"));
    };
#ifdef Q_OS_WIN
    QString why;
    const QString target = resolvedFile(path, &why);
    if (target.isEmpty())
        return failed(why);
    if (!SetFileAttributesW(native(target).c_str(), FILE_ATTRIBUTE_ARCHIVE))
        return failed(qt_error_string(int(GetLastError())));
    return true;
#else
    QFile file(path);
    if (!file.exists())
        return failed(QStringLiteral("No such file or directory"));
    // Changing the mode needs ownership, which a user who may write the file
    // need not have; leave a mode that already lets the owner write.
    const QFileDevice::Permissions mode = file.permissions();
    if (mode & QFileDevice::WriteOwner)
        return true;
    if (!file.setPermissions(mode | QFileDevice::WriteOwner))
        return failed(file.errorString());
    return true;
#endif
}

bool replaceFileDurably(const QString &path, const QByteArray &bytes, QString *reason)
{
    const QString target = resolvedFile(path, reason);
    if (target.isEmpty())
        return false;
    const SaveLock lock(target);
    if (!mayWrite(target, reason))
        return false;
    const std::optional<FileIdentity> identity = FileIdentity::of(target, reason);
    if (!identity)
        return false;
    if (lock.isHeld())
        removeLeftovers(target);
    if (!identity->replaceKeepsIt() || !mayReplace(target))
        return overwriteFileInPlace(target, bytes, reason);
    return replaceBeside(target, bytes, *identity, reason);
}

SaveLock::SaveLock(const QString &file)
{
    const QString folder = QFileInfo(file).absolutePath();
#ifdef Q_OS_WIN
    // A named mutex: no file of its own in the folder, and the system hands
    // it on when its holder dies.
    const QByteArray key = QCryptographicHash::hash(folder.toLower().toUtf8(), QCryptographicHash::Sha1).toHex();
    const std::wstring name = (QStringLiteral("Local\\Tavrin.save.") + QLatin1String(key)).toStdWString();
    m_mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!m_mutex)
        return;
    const DWORD waited = WaitForSingleObject(m_mutex, kLockWaitMs);
    m_held = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
#else
    // A lock on the folder itself, which a save never replaces.
    m_folder = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_folder < 0)
        return;
    constexpr int pauseMs = 20;
    for (int waited = 0; !(m_held = ::flock(m_folder, LOCK_EX | LOCK_NB) == 0); waited += pauseMs) {
        if (errno != EWOULDBLOCK || waited >= kLockWaitMs)
            return;
        QThread::msleep(pauseMs);
    }
#endif
}

SaveLock::~SaveLock()
{
#ifdef Q_OS_WIN
    if (m_held)
        ReleaseMutex(m_mutex);
    if (m_mutex)
        CloseHandle(m_mutex);
#else
    if (m_folder >= 0)
        ::close(m_folder); // and with it the lock
#endif
}

// The in-place writer, on its own: the one way to save a file that cannot be
// replaced, and the steps a crash can cut.
namespace {

// `size` bytes that any INI reader skips as blank lines: CR LF pairs, after
// one space where the count is odd.
QByteArray blankLines(qint64 size)
{
    QByteArray lines(size % 2 ? " " : "");
    while (lines.size() < size)
        lines += "\r\n";
    return lines;
}

} // namespace

bool overwriteFileInPlace(const QString &path, const QByteArray &bytes, QString *reason)
{
    QFile file(path);
    // Unbuffered, so that each step goes down in one write call.
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered))
        return fail(reason, stepFailure(file, "Cannot open the file"));
    const QByteArray old = file.readAll();
    if (file.error() != QFileDevice::NoError || old.size() != file.size())
        return fail(reason, stepFailure(file, "Cannot read the file"));

    // A file's length reaches the disk apart from its bytes, so no step
    // changes both: the file grows with blank lines to the longer of the two
    // lengths, then the new bytes, padded with blank lines to that length,
    // take the place of those that differ, then the file is cut to the new
    // length, each step synced before the next. A power cut leaves the old
    // bytes or the new ones, either maybe followed by blank lines; within the
    // middle step only where the bytes that differ span more than one sector.
    const qint64 length = std::max<qint64>(old.size(), bytes.size());
    const QByteArray grown = old + blankLines(length - old.size());
    const QByteArray padded = bytes + blankLines(length - bytes.size());
    qint64 first = 0, end = length;
    const char *was = grown.constData(), *will = padded.constData();
    while (first < end && was[first] == will[first])
        ++first;
    while (end > first && was[end - 1] == will[end - 1])
        --end;

    QString why;
    qint64 written = 0; // of the bytes from `first` on
    const qint64 growth = length - old.size();
    if (growth > 0 && !(file.seek(old.size()) && file.write(was + old.size(), growth) == growth &&
                        syncToDisk(file)))
        why = stepFailure(file, "Cannot lengthen the file");
    else if (first < end && !(file.seek(first) &&
                              (written = file.write(will + first, end - first)) == end - first &&
                              syncToDisk(file)))
        why = stepFailure(file, "Cannot write the file");
    else if (length > bytes.size() && !(file.resize(bytes.size()) && syncToDisk(file)))
        why = stepFailure(file, "Cannot shorten the file");
    if (why.isEmpty())
        return true;

    // Put back the old bytes that the write reached, and where the file was
    // cut, every old byte from the first difference on; then the old length.
    // Other bytes are untouched: rewriting them could fail for no reason
    // under a size limit that the old file already exceeds.
    const qint64 now = file.size();
    const qint64 reached =
        now < old.size() ? old.size() : std::min<qint64>(first + std::max<qint64>(written, 0), old.size());
    const qint64 back = std::max<qint64>(reached - first, 0);
    const bool restored =
        (back == 0 || (file.seek(first) && file.write(old.constData() + first, back) == back)) &&
        (file.size() == old.size() || file.resize(old.size())) && syncToDisk(file);
    if (!restored)
        why += QStringLiteral("; the old contents could not be put back: ") +
               stepFailure(file, "Cannot restore the file");
    return fail(reason, why);
}
