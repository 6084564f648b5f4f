#include "platform/ProfileStore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
constexpr std::uint32_t kUntouched = 0xDEADBEEF;
} // namespace

TEST(ProfileStoreConversion, AcceptsOnly32BitNumbersAndStrings)
{
    // clang-format off
    const std::pair<QVariant, std::uint32_t> accepted[] = {
        {"0", 0u}, {"+7", 7u}, {"-60", 4294967236u}, // a hand edit in signed form
        {"4294967295", 0xFFFFFFFFu}, {"-2147483648", 0x80000000u},
        {int(-60), 4294967236u}, // a REG_DWORD as QSettings reads it on Windows
        {QVariant::fromValue<uint>(4294967168u), 4294967168u}, {qulonglong(4294967295u), 0xFFFFFFFFu}};
    const QVariant refused[] = {"", "abc", "1.5", "12abc", " 7", "0x10", "-", "４２", "4294967296",
        "-2147483649", "99999999999999999999999", QStringList{"1", "2"}, QByteArray("12"), true, 1.0,
        qlonglong(1) << 32, qulonglong(1) << 32};
    // clang-format on
    for (const auto &[value, dwExpected] : accepted) {
        std::uint32_t dwValue = kUntouched;
        EXPECT_EQ(ProfileNumberFromVariant(value, dwValue), ProfileValueState::Present);
        EXPECT_EQ(dwValue, dwExpected) << value.toString().toStdString();
    }
    for (const QVariant &value : refused) {
        std::uint32_t dwValue = kUntouched;
        EXPECT_EQ(ProfileNumberFromVariant(value, dwValue), ProfileValueState::WrongType)
            << value.toString().toStdString();
        EXPECT_EQ(dwValue, kUntouched);
    }
    std::uint32_t dwValue = kUntouched;
    EXPECT_EQ(ProfileNumberFromVariant(QVariant(), dwValue), ProfileValueState::Absent);
}

// The file store reads a hand-edited file section by section and writes unsigned numbers.
TEST(QSettingsProfileStore, ReadsAHandEditedFileAndWritesUnsignedNumbers)
{
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    ASSERT_TRUE(QDir().mkpath(dir.path() + "/tanuwel"));
    QFile file(dir.path() + "/tanuwel/vexlor.conf");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Config]\nLmin=-60\nFdiv=abc\nLmax=1, 2\nBmpName=\"C:/絵/背景, 1.bmp\"\n"
               "bmpName1=@ByteArray(sp.bmp)\n[Other]\nType=3\n");
    file.close();
    QSettingsProfileStore store("tanuwel", "vexlor");
    store.WriteNumber("Config", "FontCharSet", 0xFFFFFF80u);
    store.WriteText("Config", "bmpName2", "a, b");
    store.Flush();
    using S = ProfileValueState;
    std::uint32_t dwLmin = 0, dwOther = kUntouched;
    QString strName;
    EXPECT_EQ(store.ReadNumber("Config", "Lmin", dwLmin), S::Present);
    EXPECT_EQ(store.ReadText("Config", "BmpName", strName), S::Present);
    EXPECT_EQ(std::pair(dwLmin, strName), std::pair(4294967236u, QString("C:/絵/背景, 1.bmp")));
    for (const char *pszKey : {"Fdiv", "Lmax", "BmpName"})
        EXPECT_EQ(store.ReadNumber("Config", pszKey, dwOther), S::WrongType) << pszKey;
    EXPECT_EQ(store.ReadNumber("Config", "Type", dwOther), S::Absent); // another section's
    EXPECT_EQ(store.ReadText("Config", "bmpName1", strName), S::WrongType);
    EXPECT_EQ(dwOther, kUntouched);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    EXPECT_TRUE(content.contains("\nFontCharSet=-128\n") &&
                content.contains("\nbmpName2=\"a, b\"\n"))
        << content.toStdString();
}
