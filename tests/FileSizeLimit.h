#pragma once

// While it lives, files of this process cannot grow beyond `bytes`: a write
// past the limit fails part-way, as on a full disk. POSIX only; elsewhere
// isSet() is false and a test skips.

#if defined(__unix__)
#include <sys/resource.h>
#include <csignal>

class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN); // a failing write, not a killed process
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool isSet() const { return m_set; }

private:
    rlimit m_saved{};
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
