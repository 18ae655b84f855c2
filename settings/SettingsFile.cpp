#include "settings/SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>

#include <algorithm>
#include <array>
#include <utility>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

QString settingsFileOnDrive(const QString &driveC)
{
    return QDir(driveC).filePath(QStringLiteral("QEL/Roboter/Init/Backward.ini"));
}

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

namespace {

class LineReader
{
public:
    explicit LineReader(Settings &settings) : m_settings(settings) {}

    // False when the line makes the load fail.
    bool read(QByteArray line)
    {
        line = normalizeLine(line);
        if (line.startsWith(';')) {
            if (m_section == Section::None) {
                m_settings.leadingComments += line + "\r\n";
                return true;
            }
            line.clear();
        }
        for (Section s : {Section::Trace, Section::Scan, Section::Ofc, Section::General}) {
            if (line == sectionHeader(s))
                m_section = s;
        }
        if (m_section == Section::None)
            return true;
        for (const KeyDef &def : keyTable()) {
            if (def.section == m_section && line.startsWith(def.key))
                return setField(def, GetLineValue(line));
        }
        return true;
    }

private:
    bool setField(const KeyDef &def, const QByteArray &value)
    {
        switch (def.kind) {
        case ValueKind::Switch:
            m_settings[def.field] = value == kSwitchOn ? kSwitchOn : kSwitchOff;
            return true;
        case ValueKind::Option:
            if (!def.options.contains(value))
                return false;
            m_settings[def.field] = value;
            return true;
        case ValueKind::Count:
            m_settings[def.field] = value;
            return true;
        }
        return false;
    }

    Settings &m_settings;
    Section m_section = Section::None;
};

// Cuts bytes that arrive in pieces into lines for the reader: a line ends at
// CR LF, a lone CR or a lone LF, and is passed on only once its end is in.
class LineSplitter
{
public:
    explicit LineSplitter(LineReader &reader) : m_reader(reader) {}

    // False when a line makes the load fail.
    bool feed(const char *bytes, qsizetype size)
    {
        qsizetype start = 0;
        for (qsizetype i = 0; i < size; ++i) {
            const char c = bytes[i];
            const bool lfOfCrLf = c == '\n' && m_afterCr;
            m_afterCr = c == '\r';
            if (lfOfCrLf) {
                start = i + 1;
                continue;
            }
            if (c != '\r' && c != '\n')
                continue;
            m_partial.append(bytes + start, int(i - start));
            start = i + 1;
            if (!m_reader.read(std::exchange(m_partial, {})))
                return false;
        }
        m_partial.append(bytes + start, int(size - start));
        return true;
    }

    // The last line, when it has no line end.
    bool finish() { return m_partial.isEmpty() || m_reader.read(std::exchange(m_partial, {})); }

private:
    LineReader &m_reader;
    QByteArray m_partial;
    bool m_afterCr = false;
};

} // namespace

bool parseSettings(const QByteArray &text, Settings &settings)
{
    settings.leadingComments.clear();
    LineReader reader(settings);
    LineSplitter lines(reader);
    return lines.feed(text.constData(), text.size()) && lines.finish();
}

bool loadSettings(QIODevice &device, Settings &settings)
{
    settings.leadingComments.clear();
    LineReader reader(settings);
    LineSplitter lines(reader);
    std::array<char, 16 * 1024> chunk;
    for (;;) {
        const qint64 got = device.read(chunk.data(), qint64(chunk.size()));
        // A failing read ends the load; a line it cut off may hold a cut value.
        if (got < 0)
            return false;
        if (got == 0)
            return lines.finish();
        if (!lines.feed(chunk.data(), got))
            return false;
    }
}

bool loadSettingsFile(const QString &path, Settings &settings)
{
    if (!makeWritable(path))
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && loadSettings(file, settings);
}

namespace {

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

} // namespace

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
    if (written != text.size())
        why = stepFailure(file, "Cannot write the file");
    else if (!file.flush() || !file.resize(text.size()))
        why = stepFailure(file, "Cannot shorten the file");
    if (why.isEmpty())
        return true;

    // Put back the old bytes that the write reached, then the old length. The
    // bytes past those are untouched: rewriting them could fail for no reason
    // under a size limit that the old file already exceeds.
    const qint64 reached = std::min<qint64>(std::max<qint64>(written, 0), old.size());
    const bool restored = file.seek(0) && file.write(old.constData(), reached) == reached &&
                          (file.size() == old.size() || file.resize(old.size()));
    if (!restored)
        why += QStringLiteral("; the old contents could not be put back: ") +
               stepFailure(file, "Cannot restore the file");
    return fail(why);
}

bool writeSettingsFile(const QString &path, const Settings &settings, QString *reason)
{
    if (!makeWritable(path, reason))
        return false;
    const QByteArray text = renderSettings(settings);
    QString why;
    for (int attempt = 1;; ++attempt) {
        QSaveFile file(path);
        const bool opened = file.open(QIODevice::WriteOnly);
        if (opened && file.write(text) == text.size() && file.commit())
            return true;
        // No temporary file can be made beside it (a folder the user may not
        // create files in): write in place.
        if (!opened && file.error() == QFileDevice::OpenError)
            return overwriteFileInPlace(path, text, reason);
        why = stepFailure(file, "Cannot write the file");
        if (file.error() != QFileDevice::RenameError)
            break;
        // Still held: where the holder lets others write, write in place.
        if (attempt == kReplaceTries)
            return overwriteFileInPlace(path, text, reason);
        QThread::msleep(kReplacePauseMs);
    }
    if (reason)
        *reason = why;
    return false;
}
