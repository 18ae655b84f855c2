#include "settings/SettingsFile.h"

#include "settings/Cp1252.h"
#include "settings/DurableFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QtEndian>

#include <array>
#include <optional>
#include <utility>

QString settingsFileOnDrive(const QString &driveC)
{
    return QDir(driveC).filePath(QStringLiteral("QEL/Roboter/Init/Backward.ini"));
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

namespace {

// A file that Notepad saved as "Unicode": the UTF-16 text after its
// byte-order mark, as the single-byte text the rest of the loader reads.
// Empty when the bytes are no valid UTF-16.
std::optional<QByteArray> utf16ToCp1252(const QByteArray &bytes, bool bigEndian)
{
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    QString text(bytes.size() / 2, Qt::Uninitialized);
    if (bigEndian)
        qFromBigEndian<quint16>(bytes.constData(), text.size(), text.data());
    else
        qFromLittleEndian<quint16>(bytes.constData(), text.size(), text.data());
    if (!text.isValidUtf16())
        return std::nullopt;
    return toCp1252(text);
}

enum class Encoding { Unknown, Bytes, Utf16Le, Utf16Be };

Encoding encodingOf(const QByteArray &start)
{
    if (start.startsWith("\xFF\xFE"))
        return Encoding::Utf16Le;
    if (start.startsWith("\xFE\xFF"))
        return Encoding::Utf16Be;
    return Encoding::Bytes;
}

} // namespace

bool parseSettings(const QByteArray &text, Settings &settings)
{
    QByteArray bytes = text;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return loadSettings(buffer, settings);
}

bool loadSettings(QIODevice &device, Settings &settings)
{
    settings.leadingComments.clear();
    LineReader reader(settings);
    LineSplitter lines(reader);
    // Single-byte text goes to the lines as it comes; UTF-16 text is held
    // whole, and so are the first bytes until they tell which it is.
    Encoding encoding = Encoding::Unknown;
    QByteArray held;
    std::array<char, 16 * 1024> chunk;
    for (;;) {
        const qint64 got = device.read(chunk.data(), qint64(chunk.size()));
        // A failing read ends the load; a line it cut off may hold a cut value.
        if (got < 0)
            return false;
        if (got == 0)
            break;
        if (encoding == Encoding::Bytes) {
            if (!lines.feed(chunk.data(), got))
                return false;
            continue;
        }
        held.append(chunk.data(), int(got));
        if (encoding == Encoding::Unknown && held.size() >= 2) {
            encoding = encodingOf(held);
            const QByteArray start = encoding == Encoding::Bytes ? std::exchange(held, {}) : QByteArray();
            if (!lines.feed(start.constData(), start.size()))
                return false;
        }
    }
    if (encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be) {
        const std::optional<QByteArray> text = utf16ToCp1252(held.mid(2), encoding == Encoding::Utf16Be);
        if (!text)
            return false;
        held = *text;
    }
    return lines.feed(held.constData(), held.size()) && lines.finish();
}

bool loadSettingsFile(const QString &path, Settings &settings)
{
    // Reading needs no write right: a file whose read-only state this user
    // may not clear is still shown, and a save reports why it cannot write.
    makeWritable(path);
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && loadSettings(file, settings);
}

bool writeSettingsFile(const QString &path, const Settings &settings, QString *reason)
{
    return makeWritable(path, reason) && replaceFileDurably(path, renderSettings(settings), reason);
}
