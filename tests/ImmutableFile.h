#pragma once

// While it lives, the file's mode cannot be changed, not even by root: the
// position of a user who may write a file but does not own it. Needs a file
// system with the immutable flag and the right to set it; see isSet().

#include <QFile>

#if defined(__linux__)
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

class ImmutableFile
{
public:
    explicit ImmutableFile(const QString &path) : m_path(path), m_set(setFlag(path, true)) {}
    ~ImmutableFile()
    {
        if (m_set)
            setFlag(m_path, false);
    }
    ImmutableFile(const ImmutableFile &) = delete;
    ImmutableFile &operator=(const ImmutableFile &) = delete;

    bool isSet() const { return m_set; }

private:
    static bool setFlag(const QString &path, bool on)
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
        if (fd < 0)
            return false;
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (ok) {
            flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
            ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return ok;
    }

    QString m_path;
    bool m_set;
};
#else
class ImmutableFile
{
public:
    explicit ImmutableFile(const QString &) {}
    bool isSet() const { return false; }
};
#endif
