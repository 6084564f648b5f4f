#include "platform/ProfileStore.h"

#include <QMetaType>

#include <algorithm>

namespace {

constexpr std::int64_t kNumberMin = -2147483648LL; // the signed 32-bit form of a hand edit
constexpr std::int64_t kNumberMax = 4294967295LL;  // the unsigned form the program writes

ProfileValueState NumberInRange(std::int64_t nValue, std::uint32_t &dwValue)
{
    if (nValue < kNumberMin || nValue > kNumberMax)
        return ProfileValueState::WrongType;
    // Negative values keep their 32-bit two's complement bits.
    dwValue = static_cast<std::uint32_t>(nValue);
    return ProfileValueState::Present;
}

// An optional sign and at least one decimal digit, nothing else.
ProfileValueState NumberFromText(const QString &strText, std::uint32_t &dwValue)
{
    qsizetype i = 0;
    bool bNegative = false;
    if (i < strText.size() && (strText[i] == u'-' || strText[i] == u'+')) {
        bNegative = strText[i] == u'-';
        ++i;
    }
    if (i == strText.size())
        return ProfileValueState::WrongType;
    std::int64_t nMagnitude = 0;
    for (; i < strText.size(); ++i) {
        const char16_t ch = strText[i].unicode();
        if (ch < u'0' || ch > u'9')
            return ProfileValueState::WrongType;
        nMagnitude = nMagnitude * 10 + (ch - u'0');
        // Stop before the magnitude could overflow; anything this large is out of range anyway.
        if (nMagnitude > kNumberMax)
            return ProfileValueState::WrongType;
    }
    return NumberInRange(bNegative ? -nMagnitude : nMagnitude, dwValue);
}

QString JoinKey(const QString &strSection, const QString &strKey)
{
    return strSection + u'/' + strKey;
}

} // namespace

ProfileValueState ProfileNumberFromVariant(const QVariant &value, std::uint32_t &dwValue)
{
    if (!value.isValid())
        return ProfileValueState::Absent;
    switch (value.typeId()) {
    case QMetaType::QString:
        return NumberFromText(value.toString(), dwValue);
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
        return NumberInRange(value.toLongLong(), dwValue);
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort: {
        const qulonglong nValue = value.toULongLong();
        if (nValue > static_cast<qulonglong>(kNumberMax))
            return ProfileValueState::WrongType;
        dwValue = static_cast<std::uint32_t>(nValue);
        return ProfileValueState::Present;
    }
    default:
        return ProfileValueState::WrongType;
    }
}

ProfileValueState ProfileTextFromVariant(const QVariant &value, QString &strValue)
{
    if (!value.isValid())
        return ProfileValueState::Absent;
    if (value.typeId() != QMetaType::QString)
        return ProfileValueState::WrongType;
    strValue = value.toString();
    return ProfileValueState::Present;
}

QSettingsProfileStore::QSettingsProfileStore(const QString &strOrganization,
                                             const QString &strApplication)
    : m_settings(QSettings::NativeFormat, QSettings::UserScope, strOrganization, strApplication)
{}

ProfileValueState QSettingsProfileStore::ReadNumber(const QString &strSection,
                                                    const QString &strKey,
                                                    std::uint32_t &dwValue) const
{
    return ProfileNumberFromVariant(m_settings.value(JoinKey(strSection, strKey)), dwValue);
}

ProfileValueState QSettingsProfileStore::ReadText(const QString &strSection, const QString &strKey,
                                                  QString &strValue) const
{
    return ProfileTextFromVariant(m_settings.value(JoinKey(strSection, strKey)), strValue);
}

void QSettingsProfileStore::WriteNumber(const QString &strSection, const QString &strKey,
                                        std::uint32_t dwValue)
{
    // An int becomes a REG_DWORD in the registry and its signed decimal form
    // in a text file, the form a person edits (0xFFFFFFC4 is written as -60).
    // Reading takes the unsigned form of earlier files as well.
    m_settings.setValue(JoinKey(strSection, strKey),
                        QVariant(static_cast<int>(static_cast<std::int32_t>(dwValue))));
}

void QSettingsProfileStore::WriteText(const QString &strSection, const QString &strKey,
                                      const QString &strValue)
{
    m_settings.setValue(JoinKey(strSection, strKey), strValue);
}

bool QSettingsProfileStore::HoldsValues(const QString &strSection) const
{
    // childKeys needs the group entered, which a const store cannot do.
    const QString strPrefix = strSection + u'/';
    const QStringList keys = m_settings.allKeys();
    return std::any_of(keys.begin(), keys.end(),
                       [&](const QString &strKey) { return strKey.startsWith(strPrefix); });
}

void QSettingsProfileStore::Flush()
{
    // QSettings touches the file here only when setValue left something pending.
    m_settings.sync();
}

bool QSettingsProfileStore::FlushSucceeded() const
{
    // QSettings keeps its first error: a write that failed reads as AccessError.
    return m_settings.status() != QSettings::AccessError;
}

ProfileValueState MemoryProfileStore::ReadNumber(const QString &strSection, const QString &strKey,
                                                 std::uint32_t &dwValue) const
{
    return ProfileNumberFromVariant(Raw(strSection, strKey), dwValue);
}

ProfileValueState MemoryProfileStore::ReadText(const QString &strSection, const QString &strKey,
                                               QString &strValue) const
{
    return ProfileTextFromVariant(Raw(strSection, strKey), strValue);
}

void MemoryProfileStore::WriteNumber(const QString &strSection, const QString &strKey,
                                     std::uint32_t dwValue)
{
    m_values.insert(JoinKey(strSection, strKey), QVariant::fromValue<uint>(dwValue));
    m_strWriteLog.append(JoinKey(strSection, strKey));
}

void MemoryProfileStore::WriteText(const QString &strSection, const QString &strKey,
                                   const QString &strValue)
{
    m_values.insert(JoinKey(strSection, strKey), strValue);
    m_strWriteLog.append(JoinKey(strSection, strKey));
}

bool MemoryProfileStore::HoldsValues(const QString &strSection) const
{
    const QString strPrefix = strSection + u'/';
    for (auto it = m_values.cbegin(); it != m_values.cend(); ++it)
        if (it.key().startsWith(strPrefix))
            return true;
    return false;
}

void MemoryProfileStore::SetRaw(const QString &strSection, const QString &strKey,
                                const QVariant &value)
{
    if (value.isValid())
        m_values.insert(JoinKey(strSection, strKey), value);
    else
        m_values.remove(JoinKey(strSection, strKey));
}

QVariant MemoryProfileStore::Raw(const QString &strSection, const QString &strKey) const
{
    return m_values.value(JoinKey(strSection, strKey));
}
