#pragma once

// While it lives, files of this process cannot grow beyond `bytes`: a write
// past the limit fails part-way, as on a full disk. POSIX only; elsewhere
// isSet() is false and a test skips. The old limit and the old handling of
// SIGXFSZ come back when it dies.

#if defined(__unix__)
#include <sys/resource.h>
#include <csignal>

class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        if (getrlimit(RLIMIT_FSIZE, &m_saved) != 0)
            return;
        // A failing write, not a killed process.
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &limited) == 0;
        if (!m_set)
            std::signal(SIGXFSZ, m_savedHandler);
    }
    ~FileSizeLimit()
    {
        if (!m_set)
            return;
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool isSet() const { return m_set; }

private:
    rlimit m_saved{};
    void (*m_savedHandler)(int) = SIG_DFL;
    bool m_set = false;
};
#else
class FileSizeLimit
{
public:
    explicit FileSizeLimit(long long) {}
    bool isSet() const { return false; }
};
#endif
