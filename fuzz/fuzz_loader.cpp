// Loads any bytes, and checks on every input: no crash or sanitizer report,
// time linear in the size, and for inputs that load without failure, writing
// and loading again gives the same fields and comments, and writing again
// gives the same bytes.
#include "BackwardIni.h"
#include "SettingsFile.h"

#include <QElapsedTimer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

static void fail(const char *what, std::size_t size)
{
    std::fprintf(stderr, "fuzz_loader: %s (input of %zu bytes)\n", what, size);
    std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    Settings loaded = Settings::initial();
    QElapsedTimer timer;
    timer.start();
    const bool complete = parseSettings(text, loaded);
    // Generous for sanitizers and a busy machine; a quadratic pass exceeds it.
    if (timer.nsecsElapsed() > 50'000'000 + qint64(size) * 2'000)
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
