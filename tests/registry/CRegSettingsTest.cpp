#include "RegistryTestSupport.h"

#include "support/CRegSettings.h"

#include <cstring>

using namespace platform::registry;

namespace {

using RegSettings = TempRegistry;

const QString Defaults = QStringLiteral("Defaults");
constexpr std::string_view DefaultsPath = "Software\\Zedazido\\Defaults";

void storeDword(std::string_view path, std::string_view name, std::uint32_t value)
{
    RegKey key;
    ASSERT_EQ(RegKey::createCurrentUser(path, key), ERROR_SUCCESS);
    char raw[4];
    std::memcpy(raw, &value, 4);
    ASSERT_EQ(putValue(key, name, REG_DWORD, std::string_view(raw, 4)), ERROR_SUCCESS);
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
    EXPECT_FALSE(fileExists(dbPath())) << "a read created the database";

    // Once the store exists, a read of another section still creates no key.
    ASSERT_TRUE(
        settings.SaveSetting(QStringLiteral("Other"), QStringLiteral("x"), QStringLiteral("1")));
    EXPECT_EQ(settings.GetSetting(Defaults, device, QStringLiteral("-1")), QStringLiteral("-1"));
    EXPECT_FALSE(keyExists(DefaultsPath));
}

TEST_F(RegSettings, TextsRoundTripWithTheirTerminatorCounted)
{
    const std::pair<QString, std::string> cases[] = {
        {QString(), std::string(1, '\0')},
        {QStringLiteral("Überblick 日本"),
         "\xC3\x9C"
         "berblick \xE6\x97\xA5\xE6\x9C\xAC"
             + std::string(1, '\0')},
    };
    CRegSettings settings;
    for (const auto &[text, bytes] : cases) {
        ASSERT_TRUE(settings.SaveSetting(Defaults, QStringLiteral("WebCamPic1"), text));
        std::uint32_t type = REG_NONE;
        EXPECT_EQ(readBytes(DefaultsPath, "WebCamPic1", &type), bytes);
        EXPECT_EQ(type, REG_SZ);
        // An existing empty text is a value, not a missing one: the default must not win.
        EXPECT_EQ(settings.GetSetting(Defaults, QStringLiteral("WebCamPic1"), QStringLiteral("-")),
                  text);
    }
}

TEST_F(RegSettings, StarStandsForTheUnnamedDefaultValue)
{
    CRegSettings settings;
    const QString star = QStringLiteral("*");
    ASSERT_TRUE(settings.SaveSetting(Defaults, star, QStringLiteral("dflt")));
    EXPECT_EQ(readBytes(DefaultsPath, ""), std::string("dflt\0", 5));
    EXPECT_EQ(readBytes(DefaultsPath, "*"), "<missing>");
    EXPECT_EQ(settings.GetSetting(Defaults, star), QStringLiteral("dflt"));

    const QString elsewhere = QStringLiteral("Software\\Elsewhere");
    ASSERT_TRUE(settings.SaveWinSetting(elsewhere, star, QStringLiteral("w")));
    EXPECT_EQ(settings.GetIESetting(elsewhere, star), QStringLiteral("w"));
    // SaveRegDWord takes the name literally.
    ASSERT_TRUE(settings.SaveRegDWord(elsewhere, star, 7));
    EXPECT_EQ(readBytes("Software\\Elsewhere", "*"), std::string("\7\0\0\0", 4));

    EXPECT_TRUE(settings.DeleteSetting(Defaults, star));
    EXPECT_EQ(settings.GetSetting(Defaults, star, QStringLiteral("gone")), QStringLiteral("gone"));
}

TEST_F(RegSettings, CompanyIsTrimmedOfSpacesAndResetByEmptyText)
{
    CRegSettings settings;
    EXPECT_EQ(settings.Company(), QStringLiteral("Zedazido"));
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
    ASSERT_TRUE(
        settings.SaveSetting(QStringLiteral("Keep"), QStringLiteral("x"), QStringLiteral("1")));

    EXPECT_TRUE(settings.DeleteSetting(Defaults, file));
    EXPECT_EQ(settings.GetSetting(Defaults, file, QStringLiteral("-")), QStringLiteral("-"));
    EXPECT_EQ(settings.GetSetting(Defaults, QStringLiteral("Device")), QStringLiteral("2"));
    EXPECT_FALSE(settings.DeleteSetting(Defaults, file));

    EXPECT_TRUE(settings.DeleteSetting(Defaults));
    EXPECT_FALSE(keyExists(DefaultsPath));
    EXPECT_TRUE(keyExists("Software\\Zedazido\\Keep"));
    EXPECT_FALSE(settings.DeleteSetting(Defaults));

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

TEST_F(RegSettings, GetAllSettingsListsOnlyTextsInCreationOrder)
{
    CRegSettings settings;
    ASSERT_TRUE(settings.SaveSetting(Defaults, QStringLiteral("WebCamPic2"), QStringLiteral("b")));
    storeDword(DefaultsPath, "Count", 3);
    ASSERT_TRUE(settings.SaveSetting(Defaults, QStringLiteral("WebCamPic1"), QString()));
    ASSERT_TRUE(settings.SaveSetting(Defaults, QStringLiteral("*"), QStringLiteral("d")));
    ASSERT_TRUE(
        settings.SaveSetting(Defaults, QStringLiteral("Long"), QString(300, QLatin1Char('z'))));

    const CRegSettings::SettingList expected = {
        {QStringLiteral("WebCamPic2"), QStringLiteral("b")},
        {QStringLiteral("WebCamPic1"), QString()},
        {QString(), QStringLiteral("d")},
        {QStringLiteral("Long"), QString(300, QLatin1Char('z'))},
    };
    EXPECT_EQ(settings.GetAllSettings(Defaults), expected);
}
