#include "audio/input/PulseWaveInDriver.h"

#include <QByteArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

// These tests need no sound server: they point libpulse at sockets where no
// server answers. Recording from a live server is the end-to-end test's part.

namespace {
// Sets PULSE_SERVER for one test and puts the old value back.
class PulseServerOverride
{
public:
    explicit PulseServerOverride(const QByteArray &value)
        : m_bHad(qEnvironmentVariableIsSet("PULSE_SERVER")), m_old(qgetenv("PULSE_SERVER"))
    {
        qputenv("PULSE_SERVER", value);
    }
    ~PulseServerOverride()
    {
        if (m_bHad)
            qputenv("PULSE_SERVER", m_old);
        else
            qunsetenv("PULSE_SERVER");
    }
    PulseServerOverride(const PulseServerOverride &) = delete;
    PulseServerOverride &operator=(const PulseServerOverride &) = delete;

private:
    bool m_bHad;
    QByteArray m_old;
};

WaveFormat StereoFormat(uint32_t rate)
{
    return {1, 2, rate, rate * 4, 4, 16};
}

class NullClient : public IWaveInClient
{
public:
    void OnWaveInData(WaveHeader *) override { ++m_nData; }
    void OnWaveInFailed() override { ++m_nFailed; }
    int m_nData = 0;
    int m_nFailed = 0;
};
} // namespace

TEST(PulseWaveInDriver, WithoutAServerOpenFailsAndSaysWhy)
{
    QTemporaryDir dir;
    PulseServerOverride server("unix:" + dir.filePath("no-such-socket").toLocal8Bit());
    PulseWaveInDriver driver;
    NullClient client;
    // The format check is the shared one, and opens nothing.
    WaveFormat real = StereoFormat(22050);
    real.wFormatTag = 3;
    EXPECT_TRUE(driver.IsFormatSupported(StereoFormat(44100)));
    EXPECT_FALSE(driver.IsFormatSupported(real));
    EXPECT_FALSE(driver.Open(StereoFormat(22050), &client));
    EXPECT_FALSE(driver.IsOpen());
    EXPECT_EQ(driver.LastError().rfind("cannot connect to the sound server: ", 0), 0u)
        << driver.LastError();

    // Nothing was left half open: blocks are refused, a close is quiet.
    uint8_t memory[64];
    WaveHeader hdr{memory, sizeof memory};
    uint64_t pos = 0;
    EXPECT_FALSE(driver.GetPosition(&pos));
    EXPECT_FALSE(driver.PrepareHeader(&hdr));
    EXPECT_FALSE(driver.Start());
    EXPECT_FALSE(driver.Reset());
    EXPECT_TRUE(driver.Close());
    EXPECT_EQ(hdr.dwFlags, 0u);
    // A second attempt fails the same way: nothing was left half open.
    EXPECT_FALSE(driver.Open(StereoFormat(11025), &client));
    EXPECT_EQ(client.m_nFailed, 0);
}

TEST(PulseWaveInDriver, AServerThatNeverAnswersMakesOpenGiveUp)
{
    // A listening socket that accepts connections into its backlog but never
    // speaks: the connection hangs in its handshake until the time limit.
    QTemporaryDir dir;
    const QByteArray path = dir.filePath("mute").toLocal8Bit();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(size_t(path.size()), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 4), 0);

    {
        PulseServerOverride server("unix:" + path);
        PulseWaveInDriver driver;
        NullClient client;
        EXPECT_FALSE(driver.Open(StereoFormat(22050), &client));
        EXPECT_EQ(driver.LastError(), "timed out connecting to the sound server");
        EXPECT_FALSE(driver.IsOpen());
    }
    ::close(fd);
}
