#include "FileSizeLimit.h"
#include "ImmutableFile.h"
#include "TestFolder.h"
#include "settings/DurableFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTest>
#include <QThread>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#ifdef Q_OS_WIN
#include <aclapi.h>
#include <sddl.h>
#include <windows.h>
#else
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <sys/mount.h>
#endif

namespace {

// About the size of a real settings file, and a new text a little longer.
QByteArray text(const char *line, int size)
{
    QByteArray bytes = QByteArray(line).repeated(size / int(qstrlen(line)) + 1);
    bytes.truncate(size);
    return bytes;
}
const QByteArray kOld = text("; old line\r\n", 300);
const QByteArray kNew = text("; new line\r\n", 310);

#ifdef Q_OS_WIN
std::wstring native(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}
#endif

bool makeSymbolicLink(const QString &target, const QString &link)
{
#ifdef Q_OS_WIN
    constexpr DWORD unprivileged = 0x2; // developer mode, Windows 10 on
    const bool made = CreateSymbolicLinkW(native(link).c_str(), native(target).c_str(), unprivileged) ||
                      CreateSymbolicLinkW(native(link).c_str(), native(target).c_str(), 0);
#else
    const bool made = ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0;
#endif
    // Wine says yes and makes nothing.
    return made && QFileInfo(link).isSymLink();
}

bool makeHardLink(const QString &target, const QString &link)
{
#ifdef Q_OS_WIN
    return CreateHardLinkW(native(link).c_str(), native(target).c_str(), nullptr);
#else
    return ::link(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0;
#endif
}

// Which file a name stands for: a replace gives it a new one.
quint64 fileId(const QString &path)
{
#ifdef Q_OS_WIN
    const HANDLE file = CreateFileW(native(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool read = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return read ? quint64(info.nFileIndexHigh) << 32 | info.nFileIndexLow : 0;
#else
    struct stat state {};
    return ::stat(QFile::encodeName(path).constData(), &state) == 0 ? quint64(state.st_ino) : 0;
#endif
}

#ifdef Q_OS_WIN
// The file's access list in the system's text form, "D:P(A;;FA;;;WD)".
QString accessList(const QString &path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(native(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return {};
    LPWSTR text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                         &text, nullptr);
    const QString list = text ? QString::fromWCharArray(text) : QString();
    LocalFree(text);
    LocalFree(descriptor);
    return list;
}

bool setAccessList(const QString &path, const QString &list)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(list.toStdWString().c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    std::wstring name = native(path);
    const bool set = GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) &&
                     SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                           nullptr, dacl, nullptr) == ERROR_SUCCESS;
    LocalFree(descriptor);
    // Wine takes an access list and keeps none.
    return set && accessList(path) == list;
}
#else
struct FileState {
    uid_t owner;
    gid_t group;
    mode_t mode;
    nlink_t links;
};

FileState fileState(const QString &path)
{
    struct stat state {};
    ::stat(QFile::encodeName(path).constData(), &state);
    return {state.st_uid, state.st_gid, mode_t(state.st_mode & 07777), state.st_nlink};
}

// The user nobody, whom root can become for a test.
std::optional<std::pair<uid_t, gid_t>> nobody()
{
    const passwd *user = ::getpwnam("nobody");
    if (::geteuid() != 0 || !user)
        return std::nullopt;
    return std::pair{user->pw_uid, user->pw_gid};
}

// Runs `save` in a child process that is the user nobody: its result and
// reason, or empty when the child could not become nobody.
std::optional<std::pair<bool, QString>> saveAsNobody(const std::function<bool(QString *)> &save)
{
    const auto [uid, gid] = *nobody();
    int channel[2];
    if (::pipe(channel) != 0)
        return std::nullopt;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(2);
        QString reason;
        const bool saved = save(&reason);
        const QByteArray bytes = reason.toUtf8();
        const bool told = ::write(channel[1], bytes.constData(), size_t(bytes.size())) == bytes.size();
        ::_exit(told ? (saved ? 0 : 1) : 2);
    }
    ::close(channel[1]);
    QByteArray bytes;
    char chunk[256];
    for (ssize_t got; (got = ::read(channel[0], chunk, sizeof chunk)) > 0;)
        bytes.append(chunk, int(got));
    ::close(channel[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 2)
        return std::nullopt;
    return std::pair{WEXITSTATUS(status) == 0, QString::fromUtf8(bytes)};
}
#endif

} // namespace

class TestDurableFile : public QObject, private TestFolder
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void neverCreatesFile_data();
    void neverCreatesFile();
    void followsLinks_data();
    void followsLinks();
    void refusesFileUserMayNotWrite();
    void keepsIdentity_data();
    void keepsIdentity();
    void keepsAccessList();
    void removesOwnLeftoversOnly();
    void leavesLiveSaveAlone();
    void failedWriteLeavesOldFileWhole_data();
    void failedWriteLeavesOldFileWhole();
    void saveOnFullDisk_data();
    void saveOnFullDisk();
    void inPlaceWrite_data();
    void inPlaceWrite();
    void failedInPlaceWriteRestoresOldBytes_data();
    void failedInPlaceWriteRestoresOldBytes();
    void heldFile_data();
    void heldFile();

private:
    QStringList filesIn(const QString &name = {}) const
    {
        return QDir(path(name)).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }
    int filesInFolder() const { return int(filesIn().size()); }
    std::optional<bool> saveInPlace(bool direct, const QByteArray &bytes, qint64 limit, QString *reason);
};

void TestDurableFile::init()
{
    QVERIFY(renewFolder());
}

void TestDurableFile::cleanup()
{
    dropFolder();
}

void TestDurableFile::neverCreatesFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("missing") << QStringLiteral("absent.ini");
    QTest::newRow("missing folder") << QStringLiteral("nofolder/absent.ini");
    QTest::newRow("dangling link") << QStringLiteral("dangling.ini");
}

void TestDurableFile::neverCreatesFile()
{
    QFETCH(QString, name);
    const bool dangling = name.startsWith(QLatin1String("dangling"));
    if (dangling && !makeSymbolicLink(path(QStringLiteral("absent.ini")), path(name)))
        QSKIP("this user cannot make symbolic links here");
    for (const bool inPlace : {false, true}) {
        QString reason;
        QVERIFY(!(inPlace ? overwriteFileInPlace : replaceFileDurably)(path(name), kNew, &reason));
        QVERIFY(!reason.isEmpty());
        QVERIFY(!QFile::exists(path(QStringLiteral("absent.ini"))));
    }
}

// The link stays a link, and the file it names gets the new text, beside
// itself, wherever it lies.
void TestDurableFile::followsLinks_data()
{
    QTest::addColumn<QString>("linkTo");
    QTest::addColumn<bool>("chain");
    QTest::newRow("absolute") << QString() << false;
    QTest::newRow("relative, three folders up") << QStringLiteral("../../../real.ini") << false;
    QTest::newRow("chain of two") << QStringLiteral("../../../second.ini") << true;
}

void TestDurableFile::followsLinks()
{
    QFETCH(QString, linkTo);
    QFETCH(bool, chain);
    QVERIFY(QDir(folder()).mkpath(QStringLiteral("a/b/c")));
    const QString real = path(QStringLiteral("real.ini")), link = path(QStringLiteral("a/b/c/Backward.ini"));
    QVERIFY(writeBytes(real, kOld));
    if (chain && !makeSymbolicLink(QStringLiteral("real.ini"), path(QStringLiteral("second.ini"))))
        QSKIP("this user cannot make symbolic links here");
    if (!makeSymbolicLink(linkTo.isEmpty() ? real : linkTo, link))
        QSKIP("this user cannot make symbolic links here");
    const QString linkTarget = QFileInfo(link).symLinkTarget();

    QString reason;
    QVERIFY2(replaceFileDurably(link, kNew, &reason), qPrintable(reason));
    QCOMPARE(readBytes(real), kNew);
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), linkTarget);
    QCOMPARE(filesIn(QStringLiteral("a/b/c")), QStringList{QStringLiteral("Backward.ini")});
    QCOMPARE(filesInFolder(), chain ? 2 : 1);
}

// Read-only rights on the file are how an administrator says "not this
// user": a rename through a folder the user may write must not get round
// them.
void TestDurableFile::refusesFileUserMayNotWrite()
{
    QVERIFY(writeBytes(path(), kOld));
#ifdef Q_OS_WIN
    if (!setAccessList(path(), QStringLiteral("D:P(A;;FR;;;WD)")))
        QSKIP("this system keeps no access lists (Wine)");
    const auto readable = qScopeGuard([this] { setAccessList(path(), QStringLiteral("D:P(A;;FA;;;WD)")); });
    const quint64 before = fileId(path());
    QString reason;
    QVERIFY(!replaceFileDurably(path(), kNew, &reason));
    QCOMPARE(fileId(path()), before);
#else
    if (!nobody())
        QSKIP("saving as another user needs root");
    QVERIFY(::chmod(QFile::encodeName(folder()).constData(), 0777) == 0);
    QVERIFY(::chmod(QFile::encodeName(path()).constData(), 0644) == 0);
    const quint64 before = fileId(path());
    const auto result = saveAsNobody([this](QString *why) { return replaceFileDurably(path(), kNew, why); });
    QVERIFY(result);
    const auto [saved, reason] = *result;
    QVERIFY(!saved);
    QCOMPARE(fileId(path()), before);
    QCOMPARE(fileState(path()).owner, uid_t(0));
#endif
    QVERIFY2(reason.contains(QLatin1String("may not write")), qPrintable(reason));
    QCOMPARE(readBytes(path()), kOld);
    QCOMPARE(filesInFolder(), 1);
}

// Where a new file could not be the same file, the save writes in place.
void TestDurableFile::keepsIdentity_data()
{
    QTest::addColumn<bool>("byNobody");
    QTest::addColumn<bool>("ownedByNobody");
    QTest::addColumn<bool>("hardLink");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("inPlace");
    QTest::newRow("own file, its mode") << false << false << false << 0640 << false;
    QTest::newRow("two hard links") << false << false << true << 0644 << true;
    QTest::newRow("another owner, saved by root") << false << true << false << 0640 << false;
    QTest::newRow("another owner, saved by that user") << true << false << false << 0666 << true;
}

void TestDurableFile::keepsIdentity()
{
    QFETCH(bool, byNobody);
    QFETCH(bool, ownedByNobody);
    QFETCH(bool, hardLink);
    QFETCH(int, mode);
    QFETCH(bool, inPlace);
    QVERIFY(writeBytes(path(), kOld));
    const QString other = path(QStringLiteral("Other name.ini"));
    if (hardLink && !makeHardLink(path(), other))
        QSKIP("no hard links here");
    const quint64 before = fileId(path());
    const auto save = [this](QString *why) { return replaceFileDurably(path(), kNew, why); };
    QString reason;
#ifdef Q_OS_WIN
    if (byNobody || ownedByNobody || mode != 0644)
        QSKIP("owners and modes are POSIX's; Windows keeps the access list");
    QVERIFY2(save(&reason), qPrintable(reason));
#else
    if ((byNobody || ownedByNobody) && !nobody())
        QSKIP("another user's file needs root");
    QVERIFY(::chmod(QFile::encodeName(folder()).constData(), 0777) == 0);
    QVERIFY(::chmod(QFile::encodeName(path()).constData(), mode_t(mode)) == 0);
    if (ownedByNobody)
        QVERIFY(::chown(QFile::encodeName(path()).constData(), nobody()->first, nobody()->second) == 0);
    const FileState old = fileState(path());
    const auto result = byNobody ? saveAsNobody(save) : std::pair{save(&reason), reason};
    QVERIFY(result);
    QVERIFY2(result->first, qPrintable(result->second));
    const FileState now = fileState(path());
    QCOMPARE(now.owner, old.owner);
    QCOMPARE(now.group, old.group);
    QCOMPARE(now.mode, mode_t(mode));
#endif
    QCOMPARE(readBytes(path()), kNew);
    if (hardLink)
        QCOMPARE(readBytes(other), kNew);
    QCOMPARE(fileId(path()) == before, inPlace);
    QCOMPARE(filesInFolder(), hardLink ? 2 : 1);
}

// Windows: the old file's own access list goes to the new file.
void TestDurableFile::keepsAccessList()
{
#ifdef Q_OS_WIN
    QVERIFY(writeBytes(path(), kOld));
    const QString list = QStringLiteral("D:P(A;;FA;;;WD)(A;;FR;;;BU)");
    if (!setAccessList(path(), list))
        QSKIP("this system keeps no access lists (Wine)");
    const quint64 before = fileId(path());
    QString reason;
    QVERIFY2(replaceFileDurably(path(), kNew, &reason), qPrintable(reason));
    QVERIFY(fileId(path()) != before);
    QCOMPARE(accessList(path()), list);
    QCOMPARE(readBytes(path()), kNew);
#else
    QSKIP("access lists are Windows's; elsewhere the mode, owner and group count");
#endif
}

// A save that died left its whole new file; the next save removes it, and
// only such files.
void TestDurableFile::removesOwnLeftoversOnly()
{
    QVERIFY(writeBytes(path(), kOld));
    const QStringList others = {
        QStringLiteral("Backward.ini.tavrin-AbCdE"), QStringLiteral("Backward.ini.tavrin-AbCdEfG"),
        QStringLiteral("Backward.ini.tavrin-Ab.dEf"), QStringLiteral("Backward.ini.AbCdEf"),
        QStringLiteral("Other.ini.tavrin-AbCdEf")};
    for (const QString &name : others + QStringList{QStringLiteral("Backward.ini.tavrin-x7Kq2Z")})
        QVERIFY(writeBytes(path(name), kNew));
    QVERIFY(QDir(folder()).mkdir(QStringLiteral("Backward.ini.tavrin-Folder")));

    QString reason;
    QVERIFY2(replaceFileDurably(path(), kNew, &reason), qPrintable(reason));
    QCOMPARE(readBytes(path()), kNew);
    QStringList expected = others + QStringList{QStringLiteral("Backward.ini")};
    expected.sort();
    QCOMPARE(filesIn(), expected);
    QVERIFY(QFileInfo(path(QStringLiteral("Backward.ini.tavrin-Folder"))).isDir());
}

// Another window's save is writing its new file: this save waits for it,
// and does not take that file for a leftover.
void TestDurableFile::leavesLiveSaveAlone()
{
    QVERIFY(writeBytes(path(), kOld));
    const QString live = path(QStringLiteral("Backward.ini.tavrin-LiveOn"));
    QSemaphore holding;
    bool held = false, stayed = false;
    const std::unique_ptr<QThread> otherSave(QThread::create([&] {
        const SaveLock lock(path());
        held = lock.isHeld() && writeBytes(live, kOld);
        holding.release();
        QThread::msleep(300);
        stayed = QFile::exists(live);
        QFile::remove(live);
    }));
    otherSave->start();
    holding.acquire();
    QString reason;
    const bool saved = replaceFileDurably(path(), kNew, &reason);
    otherSave->wait();
    QVERIFY(held);
    QVERIFY(stayed);
    QVERIFY2(saved, qPrintable(reason));
    QCOMPARE(readBytes(path()), kNew);
    QCOMPARE(filesInFolder(), 1);
}

// A settings file is about 300 bytes: a failing write of that size stays in
// Qt's write buffer until the file is flushed, a large one does not.
void TestDurableFile::failedWriteLeavesOldFileWhole_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("limit");
    const qint64 oldSize = kOld.size();
    for (const auto &[name, bytes] : {std::pair{"real size", kNew}, std::pair{"24 KB", text(";", 24 * 1024)}}) {
        QTest::addRow("%s, no room", name) << bytes << qint64(0);
        QTest::addRow("%s, limit below the old size", name) << bytes << oldSize / 3;
        QTest::addRow("%s, limit at the old size", name) << bytes << oldSize;
        QTest::addRow("%s, limit above the old size", name) << bytes << oldSize + 4;
    }
}

void TestDurableFile::failedWriteLeavesOldFileWhole()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, limit);
    QVERIFY(writeBytes(path(), kOld));
    QVERIFY(bytes.size() > limit);

    QString reason;
    bool written = false;
    {
        const FileSizeLimit fullDisk(limit);
        if (!fullDisk.isSet())
            QSKIP("no file size limit on this platform");
        written = replaceFileDurably(path(), bytes, &reason);
    }

    QVERIFY(!written);
    QVERIFY(!reason.isEmpty());
    QCOMPARE(readBytes(path()), kOld);
    QCOMPARE(filesInFolder(), 1);
}

// A real full file system, not a stand-in: a small one mounted for the test
// and filled up. Only a file that needs more room than the old one had can
// fail in place; every file written beside the old one needs new room.
void TestDurableFile::saveOnFullDisk_data()
{
    QTest::addColumn<bool>("inPlace");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("fits");
    const QByteArray large = text(";", 24 * 1024);
    QTest::newRow("replace, real size") << false << kNew << false;
    QTest::newRow("replace, 24 KB") << false << large << false;
    QTest::newRow("in place, real size") << true << kNew << true;
    QTest::newRow("in place, 24 KB") << true << large << false;
}

void TestDurableFile::saveOnFullDisk()
{
#ifdef __linux__
    QFETCH(bool, inPlace);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, fits);
    const QByteArray mountPoint = QFile::encodeName(folder());
    if (::mount("tavrin-test", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("cannot mount a small file system here (needs root)");
    const auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });
    QVERIFY(writeBytes(path(), kOld));
    {
        QFile filler(path(QStringLiteral("filler")));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size()) {
        }
    }

    QString reason;
    const bool written = (inPlace ? overwriteFileInPlace : replaceFileDurably)(path(), bytes, &reason);
    QCOMPARE(written, fits);
    QCOMPARE(reason.isEmpty(), fits);
    QCOMPARE(readBytes(path()), fits ? bytes : kOld);
    QCOMPARE(filesInFolder(), 2);
#else
    QSKIP("mounting a small file system is Linux's");
#endif
}

// Saves `bytes` in place, under a file size limit when `limit` is not 0: by
// a direct call, as for a file held against replacing on Windows, or by a
// save into a folder where no file can be made beside the file. Empty when
// that folder or the limit cannot be set up here.
std::optional<bool> TestDurableFile::saveInPlace(bool direct, const QByteArray &bytes, qint64 limit, QString *reason)
{
    std::optional<ImmutableFile> noFileBeside;
    if (!direct) {
        noFileBeside.emplace(folder());
        if (!noFileBeside->isSet() || writeBytes(path(QStringLiteral("probe")), {}))
            return std::nullopt;
    }
    std::optional<FileSizeLimit> sizeLimit;
    if (limit != 0 && !sizeLimit.emplace(limit).isSet())
        return std::nullopt;
    return (direct ? overwriteFileInPlace : replaceFileDurably)(path(), bytes, reason);
}

void TestDurableFile::inPlaceWrite_data()
{
    QTest::addColumn<bool>("direct");
    QTest::addColumn<QByteArray>("old");
    for (const bool direct : {true, false}) {
        const char *way = direct ? "direct" : "no file beside";
        QTest::addRow("%s, old file longer", way) << direct << text(";", 16 * 1024) + kOld;
        QTest::addRow("%s, old file shorter", way) << direct << QByteArray("old");
        QTest::addRow("%s, old file empty", way) << direct << QByteArray();
        // Padded with an odd number of blank bytes on the way.
        QTest::addRow("%s, old file one byte shorter", way) << direct << kNew.left(kNew.size() - 1);
        QTest::addRow("%s, old file one byte longer", way) << direct << kNew + ';';
    }
}

void TestDurableFile::inPlaceWrite()
{
    QFETCH(bool, direct);
    QFETCH(QByteArray, old);
    QVERIFY(writeBytes(path(), old));
    QString reason;
    const std::optional<bool> written = saveInPlace(direct, kNew, 0, &reason);
    if (!written)
        QSKIP("the file system or the user cannot close a folder to new files");
    QVERIFY2(*written, qPrintable(reason));
    QCOMPARE(readBytes(path()), kNew);
    QCOMPARE(filesInFolder(), 1);
}

// A full disk lets a write reach the end of the old file's room, no further;
// a size limit stops it wherever it lies.
void TestDurableFile::failedInPlaceWriteRestoresOldBytes_data()
{
    QTest::addColumn<bool>("direct");
    QTest::addColumn<qint64>("limit");
    const qint64 oldSize = kOld.size();
    for (const bool direct : {true, false}) {
        const char *way = direct ? "direct" : "no file beside";
        QTest::addRow("%s, full disk", way) << direct << oldSize;
        QTest::addRow("%s, size limit past the old end", way) << direct << oldSize + 4096;
        QTest::addRow("%s, size limit inside the old bytes", way) << direct << oldSize / 2;
    }
}

void TestDurableFile::failedInPlaceWriteRestoresOldBytes()
{
    QFETCH(bool, direct);
    QFETCH(qint64, limit);
    QVERIFY(writeBytes(path(), kOld));
    QString reason;
    const std::optional<bool> written = saveInPlace(direct, text(";", 64 * 1024) + kNew, limit, &reason);
    if (!written)
        QSKIP("no size limit, or the file system or the user cannot close a folder to new files");
    QVERIFY(!*written);
    QVERIFY(!reason.trimmed().isEmpty());
    QCOMPARE(readBytes(path()), kOld);
    QCOMPARE(filesInFolder(), 1);
}

// Another program holds the file open without delete sharing, so it cannot
// be replaced: saved in place when the holder allows writing, else refused.
void TestDurableFile::heldFile_data()
{
    QTest::addColumn<bool>("othersMayWrite");
    QTest::newRow("holder shares reading and writing") << true;
    QTest::newRow("holder shares reading only") << false;
}

void TestDurableFile::heldFile()
{
#ifdef Q_OS_WIN
    QFETCH(bool, othersMayWrite);
    QVERIFY(writeBytes(path(), kOld));
    const DWORD sharing = FILE_SHARE_READ | (othersMayWrite ? FILE_SHARE_WRITE : 0);
    const HANDLE holder = CreateFileW(native(path()).c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    QVERIFY(holder != INVALID_HANDLE_VALUE);
    QString reason;
    const bool written = replaceFileDurably(path(), kNew, &reason);
    CloseHandle(holder);
    QCOMPARE(written, othersMayWrite);
    QCOMPARE(readBytes(path()), othersMayWrite ? kNew : kOld);
    QCOMPARE(reason.isEmpty(), othersMayWrite);
    QCOMPARE(filesInFolder(), 1);
#else
    QSKIP("sharing modes are Windows's");
#endif
}

QTEST_GUILESS_MAIN(TestDurableFile)
#include "tst_durable_file.moc"
