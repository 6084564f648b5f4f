#pragma once

#include <QHash>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>

// The per-user key/value store that holds the program's settings: named
// values inside a named section, each a 32-bit number (a REG_DWORD in the
// Windows registry) or a text (a REG_SZ). Only the settings code
// (app/Settings.cpp) talks to it. All calls come from the user-interface
// thread.

// What a read found. Anything but Present means "use the default".
enum class ProfileValueState
{
    Present,   // the value exists and has the asked-for type; the out argument holds it
    Absent,    // no such value (or no such section)
    WrongType, // a value exists but is not a usable number / text (damaged, hand-edited, a list)
};

class IProfileStore
{
public:
    virtual ~IProfileStore() = default;

    // A number is any whole value from -2147483648 to 4294967295; a negative one
    // comes back as its 32-bit two's complement (-60 reads as 4294967236).
    // dwValue is left alone unless the result is Present.
    virtual ProfileValueState ReadNumber(const QString &strSection, const QString &strKey,
                                         std::uint32_t &dwValue) const = 0;
    // An empty text is a text. strValue is left alone unless the result is Present.
    virtual ProfileValueState ReadText(const QString &strSection, const QString &strKey,
                                       QString &strValue) const = 0;

    // Writes may be held back until Flush. A value that cannot be stored is
    // simply not stored; only FlushSucceeded tells of it afterwards. A number
    // is meant as a signed 32-bit value: 4294967236 is -60.
    virtual void WriteNumber(const QString &strSection, const QString &strKey,
                             std::uint32_t dwValue) = 0;
    virtual void WriteText(const QString &strSection, const QString &strKey,
                           const QString &strValue) = 0;
    // Puts the pending writes where they belong. Does nothing when nothing was written.
    virtual void Flush() = 0;

    // After Flush: false when the values could not be put where they belong
    // (a file or folder in the way, a read-only or full disk). A store that
    // cannot fail says true.
    virtual bool FlushSucceeded() const { return true; }
    // Where the values live, for messages: a file path, a registry path.
    virtual QString Location() const = 0;
    // False when the store exists but could not be read (every read then
    // finds nothing).
    virtual bool IsReadable() const { return true; }
    // Whether the section holds any value at all.
    virtual bool HoldsValues(const QString &strSection) const = 0;
};

// The rules both stores apply to a stored value, whatever its origin: a text
// file holds every value as text, the registry holds typed values.
//
// A number is accepted as an integral value or as a text of an optional sign
// and decimal digits only, from -2147483648 to 4294967295. Refused (WrongType):
// an empty text, "abc", "1.5", " 7", "0x10", anything outside that range,
// lists, byte arrays, booleans and floating values.
ProfileValueState ProfileNumberFromVariant(const QVariant &value, std::uint32_t &dwValue);
// A text is accepted only as a string; a number, list or byte array is WrongType.
ProfileValueState ProfileTextFromVariant(const QVariant &value, QString &strValue);

// The real store: QSettings in the platform's native format for the given
// organisation and application, one group per section. That is the registry
// key HKEY_CURRENT_USER\Software\<organisation>\<application>\<section> on
// Windows and the file $XDG_CONFIG_HOME/<organisation>/<application>.conf
// (~/.config/... by default) on Linux.
//
// Reading never writes: the file or key is only written by Flush, or when the
// store is destroyed with writes still pending.
class QSettingsProfileStore final : public IProfileStore
{
public:
    QSettingsProfileStore(const QString &strOrganization, const QString &strApplication);

    ProfileValueState ReadNumber(const QString &strSection, const QString &strKey,
                                 std::uint32_t &dwValue) const override;
    ProfileValueState ReadText(const QString &strSection, const QString &strKey,
                               QString &strValue) const override;
    void WriteNumber(const QString &strSection, const QString &strKey,
                     std::uint32_t dwValue) override;
    void WriteText(const QString &strSection, const QString &strKey,
                   const QString &strValue) override;
    void Flush() override;
    bool FlushSucceeded() const override;

    // The file path, or the registry path on Windows.
    QString Location() const override { return m_settings.fileName(); }
    // False for a file that exists but cannot be read or parsed.
    bool IsReadable() const override { return m_settings.status() == QSettings::NoError; }
    bool HoldsValues(const QString &strSection) const override;

private:
    QSettings m_settings;
};

// An in-memory store for tests. Values are kept as QVariant so a test can
// plant a value of the wrong type where a number or a text belongs, the way a
// hand-edited or damaged file would hold it; reads apply the same rules as the
// real store. Every write is also logged as "section/key", in call order.
class MemoryProfileStore final : public IProfileStore
{
public:
    ProfileValueState ReadNumber(const QString &strSection, const QString &strKey,
                                 std::uint32_t &dwValue) const override;
    ProfileValueState ReadText(const QString &strSection, const QString &strKey,
                               QString &strValue) const override;
    void WriteNumber(const QString &strSection, const QString &strKey,
                     std::uint32_t dwValue) override;
    void WriteText(const QString &strSection, const QString &strKey,
                   const QString &strValue) override;
    void Flush() override { ++m_nFlushCount; }
    QString Location() const override { return QStringLiteral("(memory)"); }
    bool HoldsValues(const QString &strSection) const override;

    // Stores any value as it stands (not logged as a write); an invalid
    // QVariant removes the value.
    void SetRaw(const QString &strSection, const QString &strKey, const QVariant &value);
    // The stored value, or an invalid QVariant when there is none.
    QVariant Raw(const QString &strSection, const QString &strKey) const;
    int Count() const { return static_cast<int>(m_values.size()); }

    const QStringList &WriteLog() const { return m_strWriteLog; }
    int FlushCount() const { return m_nFlushCount; }

private:
    QHash<QString, QVariant> m_values; // keyed by "section/key"
    QStringList m_strWriteLog;
    int m_nFlushCount = 0;
};
