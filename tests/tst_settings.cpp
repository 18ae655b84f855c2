#include "settings/BackwardIni.h"
#include "ImmutableFile.h"
#include "TestFolder.h"
#include "settings/DurableFile.h"
#include "settings/SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
#endif


Q_DECLARE_METATYPE(Settings)

namespace {

using Assignments = std::initializer_list<std::pair<FieldId, QByteArray>>;

Settings initialWith(Assignments changes, QByteArray comments = {})
{
    Settings s = Settings::initial();
    for (const auto &[field, value] : changes)
        s[field] = value;
    s.leadingComments = comments;
    return s;
}

// `text` as Notepad saves it as "Unicode": UTF-16 after a byte-order mark.
QByteArray utf16(const QString &text, bool bigEndian)
{
    QByteArray bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const QChar c : text) {
        const char high = char(c.unicode() >> 8), low = char(c.unicode() & 0xFF);
        bytes.append(bigEndian ? high : low).append(bigEndian ? low : high);
    }
    return bytes;
}

// Serves `bytes` a few at a time, so that lines straddle reads, and fails
// every read from byte `failAt` on, as a failing disk does.
class FailingDevice : public QIODevice
{
public:
    FailingDevice(QByteArray bytes, qint64 failAt) : m_bytes(std::move(bytes)), m_failAt(failAt)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_pos >= m_failAt)
            return -1;
        const qint64 n = std::min({maxSize, qint64(5), m_failAt - m_pos, m_bytes.size() - m_pos});
        std::copy_n(m_bytes.constData() + m_pos, n, data);
        m_pos += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_failAt;
    qint64 m_pos = 0;
};

const QByteArray kInitialFile = "\r\n\r\n[TRACE]\r\nENABLE = FALSE\r\nFINISHED_SUB = SKIP\r\n"
                                "MOVEMENTS = 30\r\nCYCFLAGS = 5\r\n\r\n[OFC]\r\nSET_TO_FALSE = FALSE\r\n"
                                "TRACE = AT_LEAVING\r\nRESTORE = AT_BWD\r\n\r\n[SCAN]\r\nENABLE = FALSE\r\n"
                                "\r\n[GENERAL]\r\nBACKWARDSTART = FALSE\r\nIMPLICIT_BCO = FALSE\r\n"
                                "QUIT_M_TRACE_SCAN = FALSE\r\n\r\n[ENDSECTION]\r\n";

} // namespace

class TestSettings : public QObject, private TestFolder
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void lineValue_data();
    void lineValue();
    void normalize_data();
    void normalize();
    void load_data();
    void load();
    void loadFailsWithoutFile_data();
    void loadFailsWithoutFile();
    void loadMakesFileWritable();
    void loadStopsAtFailingRead_data();
    void loadStopsAtFailingRead();
    void loadLeavesWritableModeAlone();
    void loadSurvivesBadBytes_data();
    void loadSurvivesBadBytes();
    void writtenLayout_data();
    void writtenLayout();
    void writeLoadWriteIsIdentical();
    void writeOverwritesReadOnlyFile();
    void failedWriteGivesReason_data();
    void failedWriteGivesReason();
    void attributesBecomeArchiveOnly();
};

void TestSettings::init()
{
    QVERIFY(renewFolder());
}

void TestSettings::cleanup()
{
    dropFolder();
}

void TestSettings::lineValue_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("blanks around =") << QByteArray("ENABLE = TRUE") << QByteArray("TRUE");
    QTest::newRow("no blanks") << QByteArray("ENABLE=TRUE") << QByteArray("TRUE");
    QTest::newRow("cut at first blank") << QByteArray("MOVEMENTS = 12 ; NOTE") << QByteArray("12");
    QTest::newRow("many blanks") << QByteArray("MOVEMENTS =    45   ; TRACED MOVES") << QByteArray("45");
    QTest::newRow("no =") << QByteArray("QUIT_M_TRACE_SCAN") << QByteArray();
    QTest::newRow("nothing after =") << QByteArray("MOVEMENTS =") << QByteArray();
    QTest::newRow("first = counts") << QByteArray("A = B=C D") << QByteArray("B=C");
    QTest::newRow("tab is no blank") << QByteArray("A =\tX Y") << QByteArray("\tX");
    QTest::newRow("semicolon glued") << QByteArray("ENABLE = TRUE;X") << QByteArray("TRUE;X");
}

void TestSettings::lineValue()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, value);
    QCOMPARE(GetLineValue(line), value);
}

void TestSettings::normalize_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("normalized");
    QTest::newRow("ascii") << QByteArray("  enable = true  ") << QByteArray("ENABLE = TRUE");
    QTest::newRow("tab stays") << QByteArray("\tenable ") << QByteArray("\tENABLE");
    QTest::newRow("cp1252 letters") << QByteArray("caf\xe9 \xff \x9a\x9c\x9e \xf7")
                                    << QByteArray("CAF\xc9 \x9f \x8a\x8c\x8e \xf7");
    QTest::newRow("other bytes stay") << QByteArray("\x01\x7f\xdf\x80", 4) << QByteArray("\x01\x7f\xdf\x80", 4);
}

void TestSettings::normalize()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, normalized);
    QCOMPARE(normalizeLine(line), normalized);
}

void TestSettings::load_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<Settings>("expected");

    const Settings initial = Settings::initial();
    QTest::newRow("empty file") << QByteArray() << true << initial;
    QTest::newRow("lower case") << QByteArray("[trace]\r\n  enable = true\r\n") << true
                                << initialWith({{FieldId::T_Check_Enable, "TRUE"}});
    QTest::newRow("comments before first section only")
        << QByteArray("; my note\r\n;second\r\n[TRACE]\r\n; inside\r\n[SCAN]\r\n;later\r\n") << true
        << initialWith({}, "; MY NOTE\r\n;SECOND\r\n");
    QTest::newRow("only comments") << QByteArray(";a\r\n\r\n;b") << true << initialWith({}, ";A\r\n;B\r\n");
    QTest::newRow("key in wrong section") << QByteArray("[SCAN]\r\nMOVEMENTS = 12\r\n") << true << initial;
    QTest::newRow("key before any section") << QByteArray("ENABLE = TRUE\r\n[GENERAL]\r\n") << true << initial;
    QTest::newRow("enable per section")
        << QByteArray("[SCAN]\r\nENABLE = TRUE\r\n[TRACE]\r\nENABLE = FALSE\r\n") << true
        << initialWith({{FieldId::S_Check_Enable, "TRUE"}});
    QTest::newRow("after endsection") << QByteArray("[GENERAL]\r\n[ENDSECTION]\r\nIMPLICIT_BCO = TRUE\r\n")
                                      << true << initialWith({{FieldId::G_Check_ImplicitBCO, "TRUE"}});
    QTest::newRow("unknown header keeps section") << QByteArray("[TRACE]\r\n[FOO]\r\nCYCFLAGS=7\r\n") << true
                                                  << initialWith({{FieldId::T_Text_Cycflags, "7"}});
    QTest::newRow("tab indent not recognised")
        << QByteArray("[TRACE]\r\n\tENABLE = TRUE\r\n\t[SCAN]\r\nMOVEMENTS = 9\r\n") << true
        << initialWith({{FieldId::T_Text_Movements, "9"}});
    QTest::newRow("space indent recognised") << QByteArray("   [SCAN]\r\n   ENABLE = TRUE   \r\n") << true
                                             << initialWith({{FieldId::S_Check_Enable, "TRUE"}});
    QTest::newRow("glued comment clears")
        << QByteArray("[TRACE]\r\nENABLE = TRUE\r\nENABLE = TRUE;X\r\n") << true << initial;
    QTest::newRow("comment after blank") << QByteArray("[TRACE]\r\nENABLE = TRUE ;X\r\n") << true
                                         << initialWith({{FieldId::T_Check_Enable, "TRUE"}});
    QTest::newRow("switch 1 clears") << QByteArray("[OFC]\r\nSET_TO_FALSE = 1\r\n") << true << initial;
    QTest::newRow("key prefix counts") << QByteArray("[TRACE]\r\nENABLED_X = TRUE\r\n") << true
                                       << initialWith({{FieldId::T_Check_Enable, "TRUE"}});
    QTest::newRow("no = clears and empties")
        << QByteArray("[GENERAL]\r\nQUIT_M_TRACE_SCAN = TRUE\r\nQUIT_M_TRACE_SCAN\r\n[TRACE]\r\nMOVEMENTS\r\n")
        << true << initialWith({{FieldId::T_Text_Movements, ""}});
    QTest::newRow("later line wins, two sections")
        << QByteArray("[TRACE]\r\nMOVEMENTS = 1\r\nCYCFLAGS = 2\r\n[TRACE]\r\nMOVEMENTS = 3\r\n") << true
        << initialWith({{FieldId::T_Text_Movements, "3"}, {FieldId::T_Text_Cycflags, "2"}});
    QTest::newRow("count kept unchecked") << QByteArray("[TRACE]\r\nCYCFLAGS = 99x\r\n") << true
                                          << initialWith({{FieldId::T_Text_Cycflags, "99X"}});
    QTest::newRow("options") << QByteArray("[OFC]\r\ntrace = no_trace\r\nRESTORE=AT_FWD\r\n[TRACE]\r\nFINISHED_SUB = STOP")
                             << true
                             << initialWith({{FieldId::O_Combo_Trace, "NO_TRACE"},
                                             {FieldId::O_Combo_Restore, "AT_FWD"},
                                             {FieldId::T_Combo_FinishedSub, "STOP"}});
    QTest::newRow("option not in list stops the load")
        << QByteArray("[OFC]\r\nSET_TO_FALSE = TRUE\r\nRESTORE = AT_BWDX\r\n[SCAN]\r\nENABLE = TRUE\r\n") << false
        << initialWith({{FieldId::O_Check_SetToFalse, "TRUE"}});
    QByteArray withBadTrace = kInitialFile;
    withBadTrace.replace("ENABLE = FALSE", "ENABLE = TRUE")
        .replace("MOVEMENTS = 30", "MOVEMENTS = 12")
        .replace("STOP", "SKIP")
        .replace("SET_TO_FALSE = FALSE", "SET_TO_FALSE = TRUE")
        .replace("TRACE = AT_LEAVING", "TRACE = AT_BWDSTART")
        .replace("AT_BWD\r\n", "AT_FWD\r\n");
    QTest::newRow("failure keeps what came before")
        << withBadTrace << false
        << initialWith({{FieldId::T_Check_Enable, "TRUE"},
                        {FieldId::T_Text_Movements, "12"},
                        {FieldId::O_Check_SetToFalse, "TRUE"}});
    // Unix and old Mac line ends both separate lines.
    QTest::newRow("LF line ends") << QByteArray(";c\n[TRACE]\nENABLE = TRUE\nCYCFLAGS = 3\n") << true
                                  << initialWith({{FieldId::T_Check_Enable, "TRUE"},
                                                  {FieldId::T_Text_Cycflags, "3"}},
                                                 ";C\r\n");
    QTest::newRow("CR line ends") << QByteArray("[SCAN]\rENABLE = TRUE") << true
                                  << initialWith({{FieldId::S_Check_Enable, "TRUE"}});
    QTest::newRow("mixed line ends") << QByteArray("[TRACE]\r\n\r\rMOVEMENTS=1\n\nCYCFLAGS=2\n\r") << true
                                     << initialWith({{FieldId::T_Text_Movements, "1"},
                                                     {FieldId::T_Text_Cycflags, "2"}});
    QTest::newRow("NUL inside value") << QByteArray("[TRACE]\r\nENABLE = TRUE\0\r\nCYCFLAGS=4\0", 36) << true
                                      << initialWith({{FieldId::T_Text_Cycflags, QByteArray("4\0", 2)}});
    QTest::newRow("byte-order mark hides first header")
        << QByteArray("\xef\xbb\xbf[TRACE]\r\nENABLE = TRUE\r\n[SCAN]\r\nENABLE = TRUE\r\n") << true
        << initialWith({{FieldId::S_Check_Enable, "TRUE"}});
    // Read as the same text in the controller's code page, comments kept.
    const QString unicode = QStringLiteral("; Zelle 4 \u2013 \u00d6l\r\n[TRACE]\r\nENABLE = TRUE\r\nMOVEMENTS = 45\r\n");
    const Settings fromUnicode = initialWith({{FieldId::T_Check_Enable, "TRUE"}, {FieldId::T_Text_Movements, "45"}},
                                             "; ZELLE 4 \x96 \xD6L\r\n");
    QTest::newRow("UTF-16 LE") << utf16(unicode, false) << true << fromUnicode;
    QTest::newRow("UTF-16 BE") << utf16(unicode, true) << true << fromUnicode;
    QTest::newRow("UTF-16 with a lone surrogate fails")
        << utf16(QStringLiteral("[TRACE]\r\nENABLE = TRUE\r\n") + QChar(0xD800) + QStringLiteral("x"), false)
        << false << initial;
    QTest::newRow("UTF-16 of odd length fails") << utf16(QStringLiteral("[SCAN]\r\nENABLE = TRUE"), false) + 'x'
                                                << false << initial;
}

void TestSettings::load()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, ok);
    QFETCH(Settings, expected);
    QVERIFY(writeBytes(path(), content));
    Settings loaded = Settings::initial();
    loaded.leadingComments = "; FROM BEFORE\r\n";
    QCOMPARE(loadSettingsFile(path(), loaded), ok);
    QCOMPARE(renderSettings(loaded), renderSettings(expected));
}

void TestSettings::loadFailsWithoutFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("missing") << QStringLiteral("missing.ini");
    QTest::newRow("missing folder") << QStringLiteral("nofolder/Backward.ini");
    QTest::newRow("directory") << QString();
#ifndef Q_OS_WIN // there QFile::link makes a shortcut, an ordinary file
    QTest::newRow("dangling link") << QStringLiteral("dangling.ini");
#endif
}

void TestSettings::loadFailsWithoutFile()
{
    QFETCH(QString, name);
    QFile::link(path(QStringLiteral("nowhere")), path(QStringLiteral("dangling.ini")));
    Settings loaded = initialWith({{FieldId::T_Text_Movements, "7"}}, "; KEPT\r\n");
    const Settings before = loaded;
    QVERIFY(!loadSettingsFile(name.isNull() ? folder() : path(name), loaded));
    QCOMPARE(renderSettings(loaded), renderSettings(before));
    QVERIFY(!QFile::exists(path(QStringLiteral("missing.ini"))));
}

void TestSettings::loadMakesFileWritable()
{
    QVERIFY(writeBytes(path(), "[TRACE]\r\nENABLE = TRUE\r\n"));
    QFile::setPermissions(path(), QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    Settings loaded = Settings::initial();
    QVERIFY(loadSettingsFile(path(), loaded));
    QCOMPARE(loaded[FieldId::T_Check_Enable], QByteArray("TRUE"));
    QVERIFY(QFile::permissions(path()) & QFileDevice::WriteOwner);
}

const QByteArray kCutFile = "; note\r\n; more\r\n[TRACE]\r\nENABLE = TRUE\r\nMOVEMENTS = 45\r\nCYCFLAGS = 7\r\n";

void TestSettings::loadStopsAtFailingRead_data()
{
    QTest::addColumn<qint64>("failAt");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<Settings>("expected");
    const qint64 moves = kCutFile.indexOf("45");
    const QByteArray comments = "; NOTE\r\n; MORE\r\n";
    const Settings enabled = initialWith({{FieldId::T_Check_Enable, "TRUE"}}, comments);
    const Settings withMoves = initialWith({{FieldId::T_Check_Enable, "TRUE"}, {FieldId::T_Text_Movements, "45"}},
                                           comments);
    QTest::newRow("inside a value") << moves + 1 << false << enabled;
    QTest::newRow("between CR and LF") << moves + 3 << false << withMoves;
    QTest::newRow("after a whole line") << moves + 4 << false << withMoves;
    QTest::newRow("inside the comments") << qint64(kCutFile.indexOf("more")) << false << initialWith({}, "; NOTE\r\n");
    QTest::newRow("at byte 0") << qint64(0) << false << Settings::initial();
    QTest::newRow("no failure") << qint64(kCutFile.size()) + 1 << true
                                << initialWith({{FieldId::T_Check_Enable, "TRUE"},
                                                {FieldId::T_Text_Movements, "45"},
                                                {FieldId::T_Text_Cycflags, "7"}},
                                               comments);
}

void TestSettings::loadStopsAtFailingRead()
{
    QFETCH(qint64, failAt);
    QFETCH(bool, ok);
    QFETCH(Settings, expected);
    FailingDevice device(kCutFile, failAt);
    Settings loaded = Settings::initial();
    loaded.leadingComments = "; FROM BEFORE\r\n";
    QCOMPARE(loadSettings(device, loaded), ok);
    QCOMPARE(renderSettings(loaded), renderSettings(expected));
}

// Changing the mode needs ownership; a file that is writable already loads
// and saves without it.
void TestSettings::loadLeavesWritableModeAlone()
{
    QVERIFY(writeBytes(path(), "[TRACE]\r\nMOVEMENTS = 45\r\n"));
    QVERIFY(QFile::setPermissions(path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const ImmutableFile fixedMode(path());
    if (!fixedMode.isSet())
        QSKIP("the file system or the user cannot fix a file's mode");
    Settings loaded = Settings::initial();
    QVERIFY(loadSettingsFile(path(), loaded));
    QCOMPARE(loaded[FieldId::T_Text_Movements], QByteArray("45"));
    QVERIFY(makeWritable(path()));
}

void TestSettings::loadSurvivesBadBytes_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<Settings>("expected");
    // Each byte is 16 or 17 below the one before, modulo 256: no line of the
    // junk starts with a comment or is a section header.
    QByteArray junk(10 * 1024 * 1024, '\0');
    for (int i = 0; i < junk.size(); ++i)
        junk[i] = char((qint64(i) * 7919 + i / 97) % 256);
    QTest::newRow("10 MB junk") << junk << Settings::initial();
    const QByteArray nines(1024 * 1024, '9');
    QTest::newRow("1 MB line") << "[TRACE]\r\nMOVEMENTS = " + nines
                               << initialWith({{FieldId::T_Text_Movements, nines}});
    QTest::newRow("NUL bytes") << QByteArray(4096, '\0') << Settings::initial();
    QTest::newRow("only line ends") << QByteArray(100000, '\n') << Settings::initial();
}

void TestSettings::loadSurvivesBadBytes()
{
    QFETCH(QByteArray, content);
    QFETCH(Settings, expected);
    QVERIFY(writeBytes(path(), content));
    Settings loaded = Settings::initial();
    loaded.leadingComments = "; FROM BEFORE\r\n";
    QVERIFY(loadSettingsFile(path(), loaded));
    QCOMPARE(renderSettings(loaded), renderSettings(expected));
}

void TestSettings::writtenLayout_data()
{
    QTest::addColumn<Settings>("settings");
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("initial") << Settings::initial() << kInitialFile;
    QByteArray commented = kInitialFile;
    commented.prepend("; A\r\n; B\r\n");
    QTest::newRow("comments") << initialWith({}, "; A\r\n; B\r\n") << commented;
    QByteArray emptyCount = kInitialFile;
    emptyCount.replace("MOVEMENTS = 30\r\n", "MOVEMENTS = \r\n");
    QTest::newRow("empty count") << initialWith({{FieldId::T_Text_Movements, ""}}) << emptyCount;
    QByteArray switched = kInitialFile;
    switched.replace("QUIT_M_TRACE_SCAN = FALSE", "QUIT_M_TRACE_SCAN = TRUE").replace("AT_BWD", "AT_FWD");
    QTest::newRow("values") << initialWith({{FieldId::G_CheckQuitMess, "TRUE"},
                                            {FieldId::O_Combo_Restore, "AT_FWD"}})
                            << switched;
}

void TestSettings::writtenLayout()
{
    QFETCH(Settings, settings);
    QFETCH(QByteArray, file);
    QVERIFY(writeBytes(path(), "old"));
    QString reason;
    QVERIFY2(writeSettingsFile(path(), settings, &reason), qPrintable(reason));
    QCOMPARE(readBytes(path()), file);
}

void TestSettings::writeLoadWriteIsIdentical()
{
    QVERIFY(writeBytes(path(), "; note one\r\n\t;tabbed\r\n[general]\r\nbackwardstart=true\r\n[trace]\r\n"
                               "movements = 030\r\nfinished_sub = stop\r\n"));
    Settings first = Settings::initial();
    QVERIFY(loadSettingsFile(path(), first));
    QCOMPARE(first.leadingComments, QByteArray("; NOTE ONE\r\n"));
    QVERIFY(writeSettingsFile(path(), first));
    const QByteArray written = readBytes(path());

    Settings second = Settings::initial();
    QVERIFY(loadSettingsFile(path(), second));
    QCOMPARE(renderSettings(second), renderSettings(first));
    QVERIFY(writeSettingsFile(path(), second));
    QCOMPARE(readBytes(path()), written);
}

void TestSettings::writeOverwritesReadOnlyFile()
{
    QVERIFY(writeBytes(path(), "old"));
    QFile::setPermissions(path(), QFileDevice::ReadOwner);
    QVERIFY(writeSettingsFile(path(), Settings::initial()));
    QCOMPARE(readBytes(path()), kInitialFile);
    QVERIFY(QFile::permissions(path()) & QFileDevice::WriteOwner);
}

void TestSettings::failedWriteGivesReason_data()
{
    QTest::addColumn<bool>("writable");
    QTest::newRow("mode cannot change") << false;
    QTest::newRow("file cannot change") << true;
}

void TestSettings::failedWriteGivesReason()
{
    QFETCH(bool, writable);
    QVERIFY(writeBytes(path(), "old"));
    QFile::setPermissions(path(), writable ? QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                           : QFileDevice::ReadOwner);
    const ImmutableFile fixed(path());
    if (!fixed.isSet())
        QSKIP("the file system or the user cannot fix a file");
    QString reason;
    QVERIFY(!writeSettingsFile(path(), Settings::initial(), &reason));
    QVERIFY(!reason.trimmed().isEmpty());
}

void TestSettings::attributesBecomeArchiveOnly()
{
#ifdef Q_OS_WIN
    const QString native = QDir::toNativeSeparators(path());
    const auto nativePath = reinterpret_cast<LPCWSTR>(native.utf16());
    const DWORD readOnlyHidden = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    QVERIFY(writeBytes(path(), "[TRACE]\r\nENABLE = TRUE\r\n"));
    QVERIFY(SetFileAttributesW(nativePath, readOnlyHidden));
    Settings loaded = Settings::initial();
    QVERIFY(loadSettingsFile(path(), loaded));
    QCOMPARE(loaded[FieldId::T_Check_Enable], QByteArray("TRUE"));
    QCOMPARE(GetFileAttributesW(nativePath), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    QVERIFY(SetFileAttributesW(nativePath, readOnlyHidden));
    QVERIFY(writeSettingsFile(path(), loaded));
    QCOMPARE(GetFileAttributesW(nativePath), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    QVERIFY(readBytes(path()).contains("ENABLE = TRUE"));
#else
    QSKIP("file attributes are Windows's");
#endif
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
