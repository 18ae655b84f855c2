#pragma once

#include "settings/BackwardIni.h"

#include <QIODevice>
#include <QString>

// The settings file's fixed path, as the messages show it.
inline constexpr char kSettingsDisplayPath[] = "C:\\QEL\\Roboter\\Init\\Backward.ini";

// Where the file lies below a folder that stands for drive C:.
QString settingsFileOnDrive(const QString &driveC);

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

// Clears the file's read-only state, as every save does first, and replaces
// it with the written layout through replaceFileDurably(). Never creates the
// file. On failure `reason` is never empty.
bool writeSettingsFile(const QString &path, const Settings &settings, QString *reason = nullptr);
