#pragma once

#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

// The component's settings in the current user's registry, below
// HKEY_CURRENT_USER\Software\<Company>. An object is made for one use; it holds nothing but the
// company name, and every member opens the key it needs and closes it before returning.
//
// Texts are stored as REG_SZ in the store's code page, which is UTF-8: the bytes of the text
// followed by one zero byte, counted in the stored size. A key name of "*" stands for the key's
// unnamed default value (all members except SaveRegDWord). Reads never create a key. A store the
// user does not own alone (see platform/registry/Registry.h) reads as empty, every Default, and
// takes no writes; one the user may only read is read.
class CRegSettings final
{
public:
    // Name and text of each string value of a section, in the order the values were created.
    using SettingList = std::vector<std::pair<QString, QString>>;

    QString Company() const { return m_Company; }
    // Leading and trailing spaces are dropped; an empty text restores the default company.
    void setCompany(const QString &newval);

    // Below Software\<Company>\<Section>. A missing key or value gives Default; an existing
    // empty text gives "".
    QString GetSetting(const QString &Section, const QString &Key,
                       const QString &Default = QString()) const;
    bool SaveSetting(const QString &Section, const QString &Key, const QString &Setting);
    // Without Key, removes the section's key (refused when it has subkeys); with Key, only that
    // value.
    bool DeleteSetting(const QString &Section, const QString &Key = QString());
    SettingList GetAllSettings(const QString &Section) const;

    // Section is the full path below HKEY_CURRENT_USER. A REG_DWORD value reads as its decimal
    // text (as a signed 32-bit number).
    QString GetIESetting(const QString &Section, const QString &Key,
                         const QString &Default = QString()) const;
    bool SaveWinSetting(const QString &Section, const QString &Key, const QString &Setting);
    // Stores Setting as REG_DWORD under the name Key as given ("*" is an ordinary name here).
    bool SaveRegDWord(const QString &Section, const QString &Key, std::int32_t Setting);

private:
    QString keyPath(const QString &Section) const;

    QString m_Company = QStringLiteral("Zedazido");
};
