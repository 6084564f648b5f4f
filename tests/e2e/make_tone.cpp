// e2e_tone <path> <seconds> <rate> <frequency Hz> <amplitude 0..1>: writes a
// 16-bit stereo PCM WAV file of one sine in both channels. Where rate /
// frequency allows, a whole number of periods fits, so a looping player adds
// no click at the seam.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s <path> <seconds> <rate> <frequency> <amplitude>\n",
                     argv[0]);
        return 2;
    }
    const double seconds = std::atof(argv[2]), hz = std::atof(argv[4]), amp = std::atof(argv[5]);
    const long rate = std::atol(argv[3]);
    if (seconds <= 0 || rate < 1000 || rate > 192000 || hz <= 0 || amp < 0 || amp > 1) {
        std::fprintf(stderr, "%s: argument out of range\n", argv[0]);
        return 2;
    }
    const auto frames = uint32_t(seconds * double(rate));
    std::string file;
    const auto put = [&file](uint32_t v, int nBytes) {
        for (int i = 0; i < nBytes; ++i)
            file += char((v >> (8 * i)) & 0xFF);
    };
    file += "RIFF";
    put(36 + frames * 4, 4);
    file += "WAVEfmt ";
    for (const uint32_t v :
         {16u, 1u | (2u << 16), uint32_t(rate), uint32_t(rate) * 4, 4u | (16u << 16)})
        put(v, 4); // PCM, 2 channels, the rate, bytes a second, 4 a frame of 16-bit samples
    file += "data";
    put(frames * 4, 4);
    for (uint32_t i = 0; i < frames; ++i) {
        const double x = amp * std::sin(2 * std::numbers::pi * hz * i / double(rate));
        put(uint16_t(int16_t(std::lround(x * 32767))) * 0x10001u, 4);
    }
    FILE *f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(file.data(), 1, file.size(), f) != file.size() || std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
