#include "audio/input/PulseWaveInDriver.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

// No sound server needed: libpulse is pointed at sockets where none answers.
namespace {
struct NullClient : IWaveInClient
{
    void OnWaveInData(WaveHeader *) override {}
};
} // namespace

// No socket fails at once, a mute one at the time limit; nothing is left half open.
TEST(PulseWaveInDriver, WithoutAnAnsweringServerOpenFailsAndSaysWhy)
{
    QTemporaryDir dir;
    const QByteArray mute = dir.filePath("mute").toLocal8Bit(), old = qgetenv("PULSE_SERVER");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{AF_UNIX, {}};
    std::memcpy(addr.sun_path, mute.constData(), size_t(mute.size()));
    ASSERT_TRUE(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
                ::listen(fd, 4) == 0);
    PulseWaveInDriver driver;
    NullClient client;
    uint8_t memory[64];
    WaveHeader hdr{memory, sizeof memory};
    for (const auto &[server, reason] :
         {std::pair(dir.filePath("none").toLocal8Bit(), "cannot connect to the sound server: "),
          {dir.filePath("none").toLocal8Bit(), "cannot connect to the sound server: "},
          {mute, "timed out connecting to the sound server"}}) {
        qputenv("PULSE_SERVER", "unix:" + server); // the same driver tries again after a failure
        EXPECT_FALSE(driver.Open({1, 2, 22050, 22050 * 4, 4, 16}, &client) || driver.IsOpen() ||
                     driver.PrepareHeader(&hdr) || driver.Start());
        EXPECT_TRUE(driver.LastError().rfind(reason, 0) == 0 && driver.Close())
            << driver.LastError();
    }
    old.isNull() ? qunsetenv("PULSE_SERVER") : qputenv("PULSE_SERVER", old);
    ::close(fd);
}
