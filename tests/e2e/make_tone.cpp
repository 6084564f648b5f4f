// Writes the test signal of the end-to-end test: a 16-bit stereo PCM WAV file
// holding a sine in both channels.
//
//   e2e_tone <path> <seconds> <rate> <frequency Hz> <amplitude 0..1>
//
// A whole number of periods fits the file when rate / frequency allows, so a
// player that loops it adds no click at the seam.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace {
void Put16(std::vector<uint8_t> &b, uint16_t v)
{
    b.push_back(uint8_t(v & 0xFF));
    b.push_back(uint8_t(v >> 8));
}

void Put32(std::vector<uint8_t> &b, uint32_t v)
{
    Put16(b, uint16_t(v & 0xFFFF));
    Put16(b, uint16_t(v >> 16));
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s <path> <seconds> <rate> <frequency> <amplitude>\n",
                     argv[0]);
        return 2;
    }
    const double seconds = std::atof(argv[2]);
    const long rate = std::atol(argv[3]);
    const double frequency = std::atof(argv[4]);
    const double amplitude = std::atof(argv[5]);
    if (seconds <= 0 || rate < 1000 || rate > 192000 || frequency <= 0 || amplitude < 0 ||
        amplitude > 1) {
        std::fprintf(stderr, "%s: argument out of range\n", argv[0]);
        return 2;
    }
    const auto frames = uint32_t(seconds * double(rate));
    const uint32_t dataBytes = frames * 4;

    std::vector<uint8_t> file;
    file.reserve(44 + size_t(dataBytes));
    file.insert(file.end(), {'R', 'I', 'F', 'F'});
    Put32(file, 36 + dataBytes);
    file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(file, 16);
    Put16(file, 1); // PCM
    Put16(file, 2);
    Put32(file, uint32_t(rate));
    Put32(file, uint32_t(rate) * 4);
    Put16(file, 4);
    Put16(file, 16);
    file.insert(file.end(), {'d', 'a', 't', 'a'});
    Put32(file, dataBytes);
    for (uint32_t i = 0; i < frames; ++i) {
        const double x = amplitude * std::sin(2 * std::numbers::pi * frequency * i / double(rate));
        const auto s = int16_t(std::lround(x * 32767));
        Put16(file, uint16_t(s));
        Put16(file, uint16_t(s));
    }

    FILE *f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(file.data(), 1, file.size(), f) != file.size() || std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
