// Writes the built-in music-like demo signal to a WAV file, for measuring
// the whole program on a file input:  make_demo_wav <path> [seconds] [rate]
#include "audio/input/DemoSignal.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <path> [seconds] [rate]\n", argv[0]);
        return 2;
    }
    const int nSeconds = argc > 2 ? std::atoi(argv[2]) : 30;
    const int nRate = argc > 3 ? std::atoi(argv[3]) : 44100;
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::WriteOnly) || file.write(SynthesizeDemoWav(nSeconds, nRate)) < 0) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
