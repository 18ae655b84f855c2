#pragma once

// A folder of its own for every test function and data row, made anew in
// init(), and the plain reads and writes that tests check files with.

#include <QFile>
#include <QTemporaryDir>

#include <memory>

class TestFolder
{
protected:
    bool renewFolder()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        return m_dir->isValid();
    }
    void dropFolder() { m_dir.reset(); }
    QString folder() const { return m_dir->path(); }
    QString path(const QString &name = QStringLiteral("Backward.ini")) const { return m_dir->filePath(name); }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}
