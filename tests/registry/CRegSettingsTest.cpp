#include "RegistryTestSupport.h"

#include "support/CRegSettings.h"

using RegSettings = TempRegistry;

namespace {

const QString Defaults = QStringLiteral("Defaults");
constexpr std::string_view DefaultsPath = "Software\\Zedazido\\Defaults";

void storeDword(std::string_view path, std::string_view name, std::uint32_t value)
{
    reg::RegKey key;
    ASSERT_EQ(reg::RegKey::createCurrentUser(path, key), reg::ERROR_SUCCESS);
    ASSERT_EQ(putValue(key, name, reg::REG_DWORD,
                       std::string_view(reinterpret_cast<const char *>(&value), 4)),
              reg::ERROR_SUCCESS);
}

} // namespace

TEST_F(RegSettings, ReadingOnAFreshProfileGivesTheDefaultAndCreatesNothing)
{
    CRegSettings settings;
    const QString device = QStringLiteral("WebCamDevice");
    EXPECT_EQ(settings.GetSetting(Defaults, device, QStringLiteral("-1")), QStringLiteral("-1"));
    EXPECT_EQ(settings.GetIESetting(QString::fromLatin1(DefaultsPath), device, QStringLiteral("x")),
              QStringLiteral("x"));
    EXPECT_TRUE(settings.GetAllSettings(Defaults).empty());
    EXPECT_FALSE(settings.DeleteSetting(Defaults, device));
    EXPECT_EQ(fileBytes(dbPath()), "<missing>") << "a read created the database";
    // Once the store exists, a read of another section still creates no key.
    ASSERT_TRUE(settings.SaveSetting(QStringLiteral("Other"), device, QStringLiteral("1")));
    EXPECT_EQ(settings.GetSetting(Defaults, device, QStringLiteral("-1")), QStringLiteral("-1"));
    EXPECT_FALSE(keyExists(DefaultsPath));
}

TEST_F(RegSettings, TextsAreStoredTerminatedAndListedInCreationOrderWithStarAsTheDefaultValue)
{
    CRegSettings settings;
    const QString text = QStringLiteral("Überblick 日本");
    ASSERT_TRUE(settings.SaveSetting(Defaults, QStringLiteral("WebCamPic2"), text));
    storeDword(DefaultsPath, "Count", 3);
    ASSERT_TRUE(settings.SaveSetting(Defaults, QStringLiteral("WebCamPic1"), QString()));
    ASSERT_TRUE(settings.SaveSetting(Defaults, QStringLiteral("*"), QStringLiteral("d")));
    const QString longText(300, QLatin1Char('z'));
    ASSERT_TRUE(settings.SaveSetting(Defaults, QStringLiteral("Long"), longText));
    std::uint32_t type = reg::REG_NONE;
    EXPECT_EQ(readBytes(DefaultsPath, "WebCamPic2", &type), text.toStdString() + '\0');
    EXPECT_EQ(type, reg::REG_SZ);
    EXPECT_EQ(readBytes(DefaultsPath, "WebCamPic1"), std::string(1, '\0'));
    EXPECT_EQ(readBytes(DefaultsPath, ""), std::string("d\0", 2));
    EXPECT_EQ(readBytes(DefaultsPath, "*"), "<missing>");
    // An existing empty text is a value, not a missing one: the default must not win.
    EXPECT_EQ(settings.GetSetting(Defaults, QStringLiteral("WebCamPic1"), QStringLiteral("-")),
              QString());
    EXPECT_EQ(settings.GetSetting(Defaults, QStringLiteral("*")), QStringLiteral("d"));
    // DWORDs are not texts and are left out.
    const CRegSettings::SettingList expected = {{QStringLiteral("WebCamPic2"), text},
                                                {QStringLiteral("WebCamPic1"), QString()},
                                                {QString(), QStringLiteral("d")},
                                                {QStringLiteral("Long"), longText}};
    EXPECT_EQ(settings.GetAllSettings(Defaults), expected);

    const QString elsewhere = QStringLiteral("Software\\Elsewhere");
    ASSERT_TRUE(settings.SaveWinSetting(elsewhere, QStringLiteral("*"), QStringLiteral("w")));
    EXPECT_EQ(settings.GetIESetting(elsewhere, QStringLiteral("*")), QStringLiteral("w"));
    // SaveRegDWord takes the name literally.
    ASSERT_TRUE(settings.SaveRegDWord(elsewhere, QStringLiteral("*"), 7));
    EXPECT_EQ(readBytes("Software\\Elsewhere", "*"), std::string("\7\0\0\0", 4));
}

TEST_F(RegSettings, CompanyIsTrimmedOfSpacesAndResetByEmptyText)
{
    CRegSettings settings;
    settings.setCompany(QStringLiteral("\tTabbed "));
    EXPECT_EQ(settings.Company(), QStringLiteral("\tTabbed"));
    settings.setCompany(QString());
    EXPECT_EQ(settings.Company(), QStringLiteral("Zedazido"));
    settings.setCompany(QStringLiteral(" Acme "));
    ASSERT_TRUE(settings.SaveSetting(Defaults, QStringLiteral("k"), QStringLiteral("v")));
    EXPECT_TRUE(keyExists("Software\\Acme\\Defaults"));
}

TEST_F(RegSettings, DeleteSettingRemovesTheSectionOrOnlyTheNamedValue)
{
    CRegSettings settings;
    const QString file = QStringLiteral("ResourceFile");
    ASSERT_TRUE(settings.SaveSetting(Defaults, file, QStringLiteral("r")));
    ASSERT_TRUE(settings.SaveSetting(Defaults, QStringLiteral("Device"), QStringLiteral("2")));
    ASSERT_TRUE(settings.SaveSetting(QStringLiteral("Keep"), file, QStringLiteral("1")));
    EXPECT_TRUE(settings.DeleteSetting(Defaults, file));
    EXPECT_FALSE(settings.DeleteSetting(Defaults, file));
    EXPECT_EQ(settings.GetSetting(Defaults, QStringLiteral("Device")), QStringLiteral("2"));
    EXPECT_TRUE(settings.DeleteSetting(Defaults));
    EXPECT_FALSE(keyExists(DefaultsPath));
    EXPECT_TRUE(keyExists("Software\\Zedazido\\Keep"));
    // An empty section would name the company key itself: never deleted this way.
    EXPECT_FALSE(settings.DeleteSetting(QString()));
    EXPECT_TRUE(keyExists("Software\\Zedazido"));
}

TEST_F(RegSettings, OnlyGetIESettingReadsDwordsAsDecimalText)
{
    CRegSettings settings;
    const QString path = QStringLiteral("Software\\Browser\\Main");
    for (const auto &[stored, text] :
         {std::pair {1u, "1"}, std::pair {0xffffffffu, "-1"}, std::pair {0x00434241u, "4407873"}}) {
        storeDword(path.toStdString(), "Flag", stored);
        EXPECT_EQ(settings.GetIESetting(path, QStringLiteral("flag"), QStringLiteral("x")),
                  QLatin1String(text));
    }
    // GetSetting does not look at the type: a DWORD yields its bytes less the last one.
    storeDword(DefaultsPath, "Raw", 0x00434241);
    EXPECT_EQ(settings.GetSetting(Defaults, QStringLiteral("Raw")), QStringLiteral("ABC"));
}
