#include "settings/SettingsFile.h"

#include "settings/Cp1252.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
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

bool writeSettingsFile(const QString &path, const Settings &settings, QString *reason)
{
    auto fail = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };
    if (!makeWritable(path, reason))
        return false;
    const QByteArray text = renderSettings(settings);

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
