#pragma once

#include <QByteArray>
#include <QStringView>

// Windows-1252, the controller's code page: the settings file's text is in
// it, whatever the file was saved as.

// The text in single bytes; a character that the code page lacks becomes "?".
QByteArray toCp1252(QStringView text);

// Upper case, byte by byte: a letter whose capital the code page lacks stays.
QByteArray toUpperCp1252(QByteArray text);
