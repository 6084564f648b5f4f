#include "audio/input/PulseWaveInDriver.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

// No sound server needed: libpulse is pointed at sockets where none answers.

namespace {
// Sets PULSE_SERVER for one test and puts the old value back.
struct PulseServerOverride
{
    explicit PulseServerOverride(const QByteArray &value) { qputenv("PULSE_SERVER", value); }
    ~PulseServerOverride() { bHad ? qputenv("PULSE_SERVER", old) : qunsetenv("PULSE_SERVER"); }
    bool bHad = qEnvironmentVariableIsSet("PULSE_SERVER");
    QByteArray old = qgetenv("PULSE_SERVER");
};

struct NullClient : IWaveInClient
{
    void OnWaveInData(WaveHeader *) override {}
};

const WaveFormat kStereo22k = {1, 2, 22050, 22050 * 4, 4, 16};
} // namespace

TEST(PulseWaveInDriver, WithoutAServerOpenFailsSaysWhyAndLeavesNothingHalfOpen)
{
    QTemporaryDir dir;
    PulseServerOverride server("unix:" + dir.filePath("no-such-socket").toLocal8Bit());
    PulseWaveInDriver driver;
    NullClient client;
    for (int nAttempt = 0; nAttempt < 2; ++nAttempt) {
        EXPECT_FALSE(driver.Open(kStereo22k, &client));
        EXPECT_FALSE(driver.IsOpen());
        EXPECT_EQ(driver.LastError().rfind("cannot connect to the sound server: ", 0), 0u)
            << driver.LastError();
    }
    uint8_t memory[64];
    WaveHeader hdr{memory, sizeof memory};
    EXPECT_FALSE(driver.PrepareHeader(&hdr) || driver.Start());
    EXPECT_TRUE(driver.Close());
}

// A listening socket that never speaks: the handshake hangs until the time limit.
TEST(PulseWaveInDriver, AServerThatNeverAnswersMakesOpenGiveUp)
{
    QTemporaryDir dir;
    const QByteArray path = dir.filePath("mute").toLocal8Bit();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(size_t(path.size()), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    PulseServerOverride server("unix:" + path);
    PulseWaveInDriver driver;
    NullClient client;
    EXPECT_FALSE(driver.Open(kStereo22k, &client));
    EXPECT_EQ(driver.LastError(), "timed out connecting to the sound server");
    ::close(fd);
}
