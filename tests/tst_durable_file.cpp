#include "FileSizeLimit.h"
#include "ImmutableFile.h"
#include "settings/DurableFile.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

#ifdef Q_OS_WIN
#include <windows.h>
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

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

#ifdef Q_OS_WIN
std::wstring native(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}
#endif

} // namespace

class TestDurableFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void neverCreatesFile_data();
    void neverCreatesFile();
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
    // A folder of its own for every test function and data row.
    std::unique_ptr<QTemporaryDir> m_dir;
    QString folder() const { return m_dir->path(); }
    QString path(const QString &name = QStringLiteral("Backward.ini")) const { return m_dir->filePath(name); }
    int filesInFolder() const { return int(QDir(folder()).entryList(QDir::Files | QDir::Hidden).size()); }
    std::optional<bool> saveInPlace(bool direct, const QByteArray &bytes, qint64 limit, QString *reason);
};

void TestDurableFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestDurableFile::cleanup()
{
    m_dir.reset();
}

void TestDurableFile::neverCreatesFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("missing") << QStringLiteral("absent.ini");
    QTest::newRow("missing folder") << QStringLiteral("nofolder/absent.ini");
}

void TestDurableFile::neverCreatesFile()
{
    QFETCH(QString, name);
    for (const bool inPlace : {false, true}) {
        QString reason;
        QVERIFY(!(inPlace ? overwriteFileInPlace : replaceFileDurably)(path(name), kNew, &reason));
        QVERIFY(!reason.isEmpty());
        QVERIFY(!QFile::exists(path(QStringLiteral("absent.ini"))));
    }
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
