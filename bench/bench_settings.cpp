// Loads a 10 MB junk file and writes the settings file, and prints the times.
#include "settings/SettingsFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Backward.ini"));

    QByteArray junk(10 * 1024 * 1024, '\0');
    QRandomGenerator rng(1);
    for (char &c : junk)
        c = char(rng.bounded(256));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(junk) != junk.size())
        return 1;
    f.close();

    constexpr int rounds = 5;
    QElapsedTimer timer;
    Settings settings = Settings::initial();
    timer.start();
    for (int i = 0; i < rounds; ++i)
        loadSettingsFile(path, settings);
    const double loadMs = double(timer.nsecsElapsed()) / 1e6 / rounds;

    timer.restart();
    constexpr int writes = 200;
    for (int i = 0; i < writes; ++i)
        writeSettingsFile(path, Settings::initial());
    const double writeMs = double(timer.nsecsElapsed()) / 1e6 / writes;

    std::printf("load 10 MB junk: %.1f ms (%.0f MB/s)\n", loadMs, 10.0 / (loadMs / 1000.0));
    std::printf("write settings file: %.3f ms\n", writeMs);
    return 0;
}
