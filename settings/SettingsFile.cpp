#include "SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

QString settingsFilePath()
{
#ifdef Q_OS_WIN
    return QString::fromLatin1(kSettingsDisplayPath);
#else
    QString driveC = qEnvironmentVariable("TAVRIN_DRIVE_C");
    if (driveC.isEmpty())
        driveC = QStringLiteral("/mnt/c");
    return QDir(driveC).filePath(QStringLiteral("QEL/Roboter/Init/Backward.ini"));
#endif
}

bool makeWritable(const QString &path, QString *reason)
{
    auto fail = [reason](const QString &why) {
        if (reason)
            *reason = why;
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
    if (!file.setPermissions(file.permissions() | QFileDevice::WriteOwner))
        return fail(file.errorString());
    return true;
#endif
}

namespace {

// Calls `take` with each line; a line ends at CR LF, a lone CR or a lone LF.
template <typename Take>
bool forEachLine(const QByteArray &text, Take take)
{
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n')
            continue;
        if (!take(text.mid(start, i - start)))
            return false;
        if (c == '\r' && i + 1 < size && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    return start >= size || take(text.mid(start));
}

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

} // namespace

bool parseSettings(const QByteArray &text, Settings &settings)
{
    settings.leadingComments.clear();
    LineReader reader(settings);
    return forEachLine(text, [&reader](const QByteArray &line) { return reader.read(line); });
}

bool loadSettingsFile(const QString &path, Settings &settings)
{
    if (!makeWritable(path))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        settings.leadingComments.clear();
        return false;
    }
    return parseSettings(text, settings);
}

bool writeSettingsFile(const QString &path, const Settings &settings, QString *reason)
{
    if (!makeWritable(path, reason))
        return false;
    QSaveFile file(path);
    // Only where no temporary file can be made beside it.
    file.setDirectWriteFallback(true);
    const QByteArray text = renderSettings(settings);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        if (reason)
            *reason = file.errorString();
        return false;
    }
    return true;
}
