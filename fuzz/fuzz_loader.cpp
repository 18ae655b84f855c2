// Loads any bytes, and checks on every input: no crash or sanitizer report,
// time linear in the size, and for inputs that load without failure, writing
// and loading again gives the same fields and comments, and writing again
// gives the same bytes.
#include "settings/BackwardIni.h"
#include "settings/SettingsFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

static void fail(const char *what, std::size_t size)
{
    std::fprintf(stderr, "fuzz_loader: %s (input of %zu bytes)\n", what, size);
    std::abort();
}

// CPU time of this thread: a busy machine does not count against the input.
static std::int64_t threadNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    // Generous for the sanitizers; a quadratic pass exceeds it. The best of
    // three tries, so that a cache or page fault alone does not count.
    const std::int64_t allowed = 20'000'000 + std::int64_t(size) * 2'000;
    Settings loaded;
    bool complete = false;
    std::int64_t fastest = INT64_MAX;
    for (int attempt = 0; attempt < 3 && fastest > allowed; ++attempt) {
        loaded = Settings::initial();
        const std::int64_t start = threadNanoseconds();
        complete = parseSettings(text, loaded);
        fastest = std::min(fastest, threadNanoseconds() - start);
    }
    if (fastest > allowed)
        fail("loading took longer than linear time allows", size);
    if (!complete)
        return 0;

    const QByteArray written = renderSettings(loaded);
    Settings reloaded = Settings::initial();
    if (!parseSettings(written, reloaded))
        fail("the written file does not load", size);
    if (!(reloaded == loaded))
        fail("loading the written file gives other fields or comments", size);
    if (renderSettings(reloaded) != written)
        fail("writing again gives other bytes", size);
    return 0;
}
