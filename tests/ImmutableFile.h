#pragma once

// While it lives, the file's mode cannot be changed, not even by root: the
// position of a user who may write a file but does not own it. On a folder,
// no file can be made, removed or renamed in it, while the files it holds
// stay writable: the position of a user who may write a file in a folder he
// may not create files in. Needs a file system with the immutable flag and
// the right to set it; see isSet(). The old flags come back when it dies.

#include <QFile>

#if defined(__linux__)
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

class ImmutableFile
{
public:
    explicit ImmutableFile(const QString &path) : m_path(path)
    {
        m_set = flags(path, &m_saved) && setFlags(path, m_saved | FS_IMMUTABLE_FL);
    }
    ~ImmutableFile()
    {
        if (m_set)
            setFlags(m_path, m_saved);
    }
    ImmutableFile(const ImmutableFile &) = delete;
    ImmutableFile &operator=(const ImmutableFile &) = delete;

    bool isSet() const { return m_set; }

private:
    // The ioctls take an int, whatever their names say.
    static bool flags(const QString &path, int *out) { return call(path, FS_IOC_GETFLAGS, out); }
    static bool setFlags(const QString &path, int in) { return call(path, FS_IOC_SETFLAGS, &in); }
    static bool call(const QString &path, unsigned long request, int *value)
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
        if (fd < 0)
            return false;
        const bool ok = ::ioctl(fd, request, value) == 0;
        ::close(fd);
        return ok;
    }

    QString m_path;
    int m_saved = 0;
    bool m_set = false;
};
#else
class ImmutableFile
{
public:
    explicit ImmutableFile(const QString &) {}
    bool isSet() const { return false; }
};
#endif
