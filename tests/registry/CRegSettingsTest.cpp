#include "RegistryTestSupport.h"

#include "support/CRegSettings.h"

using RegSettings = TempRegistry;
using namespace Qt::StringLiterals;

namespace {

const QString Defaults = u"Defaults"_s;
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
    const QString device = u"WebCamDevice"_s;
    EXPECT_EQ(settings.GetSetting(Defaults, device, u"-1"_s), u"-1"_s);
    EXPECT_EQ(settings.GetIESetting(QString::fromLatin1(DefaultsPath), device, u"x"_s), u"x"_s);
    EXPECT_TRUE(settings.GetAllSettings(Defaults).empty());
    EXPECT_FALSE(settings.DeleteSetting(Defaults, device));
    EXPECT_EQ(fileBytes(dbPath()), "<missing>") << "a read created the database";
    // Once the store exists, a read of another section still creates no key.
    ASSERT_TRUE(settings.SaveSetting(u"Other"_s, device, u"1"_s));
    EXPECT_EQ(settings.GetSetting(Defaults, device, u"-1"_s), u"-1"_s);
    EXPECT_FALSE(keyExists(DefaultsPath));
}

TEST_F(RegSettings, TextsAreStoredTerminatedAndListedInCreationOrderWithStarAsTheDefaultValue)
{
    CRegSettings settings;
    const QString text = u"Überblick 日本"_s, longText(300, u'z');
    ASSERT_TRUE(settings.SaveSetting(Defaults, u"WebCamPic2"_s, text));
    storeDword(DefaultsPath, "Count", 3);
    ASSERT_TRUE(settings.SaveSetting(Defaults, u"WebCamPic1"_s, QString()));
    ASSERT_TRUE(settings.SaveSetting(Defaults, u"*"_s, u"d"_s));
    ASSERT_TRUE(settings.SaveSetting(Defaults, u"Long"_s, longText));
    std::uint32_t type = reg::REG_NONE;
    EXPECT_EQ(readBytes(DefaultsPath, "WebCamPic2", &type), text.toStdString() + '\0');
    EXPECT_EQ(type, reg::REG_SZ);
    EXPECT_EQ(readBytes(DefaultsPath, "WebCamPic1"), std::string(1, '\0'));
    EXPECT_EQ(readBytes(DefaultsPath, ""), std::string("d\0", 2));
    EXPECT_EQ(readBytes(DefaultsPath, "*"), "<missing>");
    // An existing empty text is a value, not a missing one: the default must not win.
    EXPECT_EQ(settings.GetSetting(Defaults, u"WebCamPic1"_s, u"-"_s), QString());
    EXPECT_EQ(settings.GetSetting(Defaults, u"*"_s), u"d"_s);
    // DWORDs are not texts and are left out.
    const CRegSettings::SettingList expected = {
        {u"WebCamPic2"_s, text}, {u"WebCamPic1"_s, QString()}, {{}, u"d"_s}, {u"Long"_s, longText}};
    EXPECT_EQ(settings.GetAllSettings(Defaults), expected);

    const QString elsewhere = u"Software\\Elsewhere"_s;
    ASSERT_TRUE(settings.SaveWinSetting(elsewhere, u"*"_s, u"w"_s));
    EXPECT_EQ(settings.GetIESetting(elsewhere, u"*"_s), u"w"_s);
    // SaveRegDWord takes the name literally.
    ASSERT_TRUE(settings.SaveRegDWord(elsewhere, u"*"_s, 7));
    EXPECT_EQ(readBytes("Software\\Elsewhere", "*"), std::string("\7\0\0\0", 4));
}

TEST_F(RegSettings, CompanyIsTrimmedOfSpacesAndResetByEmptyText)
{
    CRegSettings settings;
    settings.setCompany(u"\tTabbed "_s);
    EXPECT_EQ(settings.Company(), u"\tTabbed"_s);
    settings.setCompany(QString());
    EXPECT_EQ(settings.Company(), u"Zedazido"_s);
    settings.setCompany(u" Acme "_s);
    ASSERT_TRUE(settings.SaveSetting(Defaults, u"k"_s, u"v"_s));
    EXPECT_TRUE(keyExists("Software\\Acme\\Defaults"));
}

TEST_F(RegSettings, DeleteSettingRemovesTheSectionOrOnlyTheNamedValue)
{
    CRegSettings settings;
    const QString file = u"ResourceFile"_s;
    ASSERT_TRUE(settings.SaveSetting(Defaults, file, u"r"_s));
    ASSERT_TRUE(settings.SaveSetting(Defaults, u"Device"_s, u"2"_s));
    ASSERT_TRUE(settings.SaveSetting(u"Keep"_s, file, u"1"_s));
    EXPECT_TRUE(settings.DeleteSetting(Defaults, file));
    EXPECT_FALSE(settings.DeleteSetting(Defaults, file));
    EXPECT_EQ(settings.GetSetting(Defaults, u"Device"_s), u"2"_s);
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
    const QString path = u"Software\\Browser\\Main"_s;
    for (const auto &[stored, text] :
         {std::pair {1u, "1"}, std::pair {0xffffffffu, "-1"}, std::pair {0x00434241u, "4407873"}}) {
        storeDword(path.toStdString(), "Flag", stored);
        EXPECT_EQ(settings.GetIESetting(path, u"flag"_s, u"x"_s), QLatin1String(text));
    }
    // GetSetting does not look at the type: a DWORD yields its bytes less the last one.
    storeDword(DefaultsPath, "Raw", 0x00434241);
    EXPECT_EQ(settings.GetSetting(Defaults, u"Raw"_s), u"ABC"_s);
}
