#include "settings/SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>

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
QString reasonText(const QString &detail, const char *step)
{
    if (!detail.isEmpty())
        return detail;
    const QString system = qt_error_string();
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

// Writes the text over the file's old contents, for a file that cannot be
// replaced. Opens only an existing file.
bool rewriteInPlace(const QString &path, const QByteArray &text, QString *why)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::ExistingOnly) &&
        file.write(text) == text.size() && file.flush())
        return true;
    *why = file.errorString();
    return false;
}

} // namespace

bool writeSettingsFile(const QString &path, const Settings &settings, QString *reason)
{
    if (!makeWritable(path, reason))
        return false;
    const QByteArray text = renderSettings(settings);
    QString why;
    for (int attempt = 1;; ++attempt) {
        QSaveFile file(path);
        // Only where no temporary file can be made beside it.
        file.setDirectWriteFallback(true);
        if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
            return true;
        why = file.errorString();
        if (file.error() != QFileDevice::RenameError)
            break;
        if (attempt == kReplaceTries) {
            // Still held: where the holder lets others write, write in place.
            if (rewriteInPlace(path, text, &why))
                return true;
            break;
        }
        QThread::msleep(kReplacePauseMs);
    }
    if (reason)
        *reason = reasonText(why, "Cannot write the file");
    return false;
}
