#pragma once

#include "settings/BackwardIni.h"

#include <QIODevice>
#include <QString>

// The settings file's fixed path, as the messages show it.
inline constexpr char kSettingsDisplayPath[] = "C:\\QEL\\Roboter\\Init\\Backward.ini";

// Where the file lies below a folder that stands for drive C:.
QString settingsFileOnDrive(const QString &driveC);

// Clears the read-only state, as every load and save does first. Fails when
// the file is missing or cannot be changed; `reason` is then never empty.
bool makeWritable(const QString &path, QString *reason = nullptr);

// Reads the file into `settings`, starting from the values it holds. Returns
// false when the load failed and stopped early; what was read before the
// failure stays. The comment block is replaced only once the file is open.
bool loadSettingsFile(const QString &path, Settings &settings);

// The same on an open device: empties the comment block, then reads line by
// line until the end, the first line that fails or a failing read. A line
// that a failing read cut off is not used. Text after a UTF-16 byte-order
// mark is read as the same text in Windows-1252; invalid UTF-16 fails.
bool loadSettings(QIODevice &device, Settings &settings);

// The same on bytes in memory.
bool parseSettings(const QByteArray &text, Settings &settings);

// Replaces the existing file with the written layout, atomically, so that it
// is always either the old or the new file, and returns only once the new
// file and its name are on the disk. Where no file can be made beside it,
// and on Windows for a file that another program holds open against
// replacing (retried for a moment first), it writes in place instead, with
// overwriteFileInPlace(). Never creates the file. On failure `reason` is
// never empty and the old file stays as it was, except where only the sync
// of the folder after the rename fails: then the new file stands, maybe not
// yet on the disk.
bool writeSettingsFile(const QString &path, const Settings &settings, QString *reason = nullptr);

// Writes `text` over the bytes of the existing file, cuts the file to the
// text's length and syncs both to the disk. A failing step (a full disk, a
// size limit, a device error, a failed sync) puts the old bytes and length
// back, so the file stays whole; only a crash or power loss between the one
// write and the cut can leave a mix. Never creates the file. On failure
// `reason` is never empty.
bool overwriteFileInPlace(const QString &path, const QByteArray &text, QString *reason = nullptr);
