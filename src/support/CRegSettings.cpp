#include "support/CRegSettings.h"

#include "platform/registry/Registry.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>
#include <string>

using namespace platform::registry;

namespace {

std::string bytes(const QString &text)
{
    return text.toUtf8().toStdString();
}

// The value name a caller's key name stands for.
std::string valueName(const QString &Key)
{
    return Key == QLatin1String("*") ? std::string() : bytes(Key);
}

// Removes spaces only (not tabs or line ends) from both ends.
QString trimSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

// Reads a value as text: the stored bytes less the last one (its terminating zero), whatever the
// value's type. With dwordAsNumber, a REG_DWORD value gives its decimal text instead.
QString readText(const QString &path, const QString &Key, const QString &Default,
                 bool dwordAsNumber)
{
    RegKey key;
    if (RegKey::openCurrentUser(bytes(path), key) != ERROR_SUCCESS)
        return Default;
    const std::string name = valueName(Key);

    std::uint32_t type = REG_NONE;
    std::uint32_t size = 0;
    if (key.queryValue(name, &type, nullptr, &size) != ERROR_SUCCESS || size == 0)
        return Default;

    if (dwordAsNumber && type == REG_DWORD) {
        std::byte raw[4] = {};
        std::uint32_t rawSize = sizeof raw;
        if (key.queryValue(name, nullptr, raw, &rawSize) != ERROR_SUCCESS)
            return Default;
        std::int32_t number = 0;
        std::memcpy(&number, raw, sizeof number);
        return QString::number(number);
    }

    // The size was asked for first; if another process grows the value in between, the read
    // fails with ERROR_MORE_DATA and the default stands.
    QByteArray buffer(static_cast<qsizetype>(size), '\0');
    if (key.queryValue(name, nullptr, reinterpret_cast<std::byte *>(buffer.data()), &size)
            != ERROR_SUCCESS
        || size == 0)
        return Default;
    return QString::fromUtf8(buffer.constData(), static_cast<qsizetype>(size) - 1);
}

bool writeText(const QString &path, const QString &Key, const QString &Setting)
{
    RegKey key;
    if (RegKey::createCurrentUser(bytes(path), key) != ERROR_SUCCESS)
        return false;
    // QByteArray keeps a zero after its last byte, so size() + 1 takes the terminator along.
    const QByteArray text = Setting.toUtf8();
    return key.setValue(valueName(Key), REG_SZ,
                        reinterpret_cast<const std::byte *>(text.constData()),
                        static_cast<std::uint32_t>(text.size()) + 1)
        == ERROR_SUCCESS;
}

} // namespace

void CRegSettings::setCompany(const QString &newval)
{
    m_Company = newval.isEmpty() ? QStringLiteral("Zedazido") : trimSpaces(newval);
}

QString CRegSettings::keyPath(const QString &Section) const
{
    QString path = QStringLiteral("Software\\") + m_Company;
    if (!Section.isEmpty())
        path += QLatin1Char('\\') + Section;
    return path;
}

QString CRegSettings::GetSetting(const QString &Section, const QString &Key,
                                 const QString &Default) const
{
    return readText(keyPath(Section), Key, Default, false);
}

bool CRegSettings::SaveSetting(const QString &Section, const QString &Key, const QString &Setting)
{
    return writeText(keyPath(Section), Key, Setting);
}

bool CRegSettings::DeleteSetting(const QString &Section, const QString &Key)
{
    RegKey key;
    if (Key.isEmpty()) {
        if (RegKey::openCurrentUser(bytes(keyPath(QString())), key) != ERROR_SUCCESS)
            return false;
        return key.deleteKey(bytes(Section)) == ERROR_SUCCESS;
    }
    if (RegKey::openCurrentUser(bytes(keyPath(Section)), key) != ERROR_SUCCESS)
        return false;
    return key.deleteValue(valueName(Key)) == ERROR_SUCCESS;
}

CRegSettings::SettingList CRegSettings::GetAllSettings(const QString &Section) const
{
    SettingList result;
    RegKey key;
    if (RegKey::openCurrentUser(bytes(keyPath(Section)), key) != ERROR_SUCCESS)
        return result;
    RegKeyInfo info;
    if (key.queryInfo(info) != ERROR_SUCCESS)
        return result;

    // Never empty, so the buffer handed over is always a real one.
    std::vector<std::byte> data(std::max<std::uint32_t>(info.maxValueLen, 1));
    std::string name;
    int retries = 0;
    for (std::uint32_t index = 0;;) {
        std::uint32_t type = REG_NONE;
        auto size = static_cast<std::uint32_t>(data.size());
        const RegStatus status = key.enumValue(index, name, &type, data.data(), &size);
        if (status == ERROR_MORE_DATA && size <= maxValueDataSize && retries < 3) {
            // Another process grew a value since the key was measured; read it again.
            data.resize(size);
            ++retries;
            continue;
        }
        retries = 0;
        if (status == ERROR_MORE_DATA) {
            ++index;
            continue;
        }
        if (status != ERROR_SUCCESS)
            break;
        ++index;
        if (type != REG_SZ)
            continue;
        std::uint32_t length = size;
        if (length > 0 && data[length - 1] == std::byte {0})
            --length;
        result.emplace_back(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())),
                            QString::fromUtf8(reinterpret_cast<const char *>(data.data()),
                                              static_cast<qsizetype>(length)));
    }
    return result;
}

QString CRegSettings::GetIESetting(const QString &Section, const QString &Key,
                                   const QString &Default) const
{
    return readText(Section, Key, Default, true);
}

bool CRegSettings::SaveWinSetting(const QString &Section, const QString &Key,
                                  const QString &Setting)
{
    return writeText(Section, Key, Setting);
}

bool CRegSettings::SaveRegDWord(const QString &Section, const QString &Key, std::int32_t Setting)
{
    RegKey key;
    if (RegKey::createCurrentUser(bytes(Section), key) != ERROR_SUCCESS)
        return false;
    std::byte raw[4];
    std::memcpy(raw, &Setting, sizeof raw);
    return key.setValue(bytes(Key), REG_DWORD, raw, sizeof raw) == ERROR_SUCCESS;
}
