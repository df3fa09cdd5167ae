#include "RegistryTestSupport.h"

#include "platform/registry/Registry.h"
#include "support/CRegSettings.h"

#include <sys/stat.h>

#include <cstring>

using namespace platform::registry;

namespace {

using RegSettings = TempRegistry;

const QString Defaults = QStringLiteral("Defaults");

bool keyExists(std::string_view path)
{
    RegKey key;
    return RegKey::openCurrentUser(path, key) == ERROR_SUCCESS;
}

struct Stored
{
    std::uint32_t type = REG_NONE;
    std::string bytes;
    bool found = false;
};

Stored stored(std::string_view path, std::string_view name)
{
    Stored result;
    RegKey key;
    std::uint32_t size = 0;
    if (RegKey::openCurrentUser(path, key) != ERROR_SUCCESS
        || key.queryValue(name, &result.type, nullptr, &size) != ERROR_SUCCESS)
        return result;
    result.bytes.assign(size, '\0');
    result.found
        = key.queryValue(name, nullptr, reinterpret_cast<std::byte *>(result.bytes.data()), &size)
        == ERROR_SUCCESS;
    return result;
}

void storeDword(std::string_view path, std::string_view name, std::uint32_t value)
{
    RegKey key;
    ASSERT_EQ(RegKey::createCurrentUser(path, key), ERROR_SUCCESS);
    std::byte raw[4];
    std::memcpy(raw, &value, 4);
    ASSERT_EQ(key.setValue(name, REG_DWORD, raw, 4), ERROR_SUCCESS);
}

std::string withZero(const char *text)
{
    return std::string(text) + '\0';
}

} // namespace

TEST_F(RegSettings, ReadingOnAFreshProfileGivesTheDefaultAndCreatesNothing)
{
    CRegSettings settings;
    EXPECT_EQ(settings.GetSetting(Defaults, QStringLiteral("WebCamDevice"), QStringLiteral("-1")),
              QStringLiteral("-1"));
    EXPECT_EQ(settings.GetIESetting(QStringLiteral("Software\\Zedazido\\Defaults"),
                                    QStringLiteral("WebCamDevice"), QStringLiteral("-1")),
              QStringLiteral("-1"));
    EXPECT_TRUE(settings.GetAllSettings(Defaults).empty());
    EXPECT_FALSE(settings.DeleteSetting(Defaults, QStringLiteral("WebCamDevice")));
    EXPECT_FALSE(settings.DeleteSetting(Defaults));
    struct stat st
    { };
    EXPECT_NE(::stat(dbPath().c_str(), &st), 0) << "a read created the database";

    // Once the store exists, a read of another section still creates no key.
    ASSERT_TRUE(
        settings.SaveSetting(QStringLiteral("Other"), QStringLiteral("x"), QStringLiteral("1")));
    EXPECT_EQ(settings.GetSetting(Defaults, QStringLiteral("WebCamDevice"), QStringLiteral("-1")),
              QStringLiteral("-1"));
    EXPECT_FALSE(keyExists("Software\\Zedazido\\Defaults"));
}

TEST_F(RegSettings, TextsRoundTripWithTheirTerminatorCounted)
{
    const struct
    {
        QString text;
        std::string bytes; // as stored, terminator included
    } cases[] = {
        {QString(), withZero("")},
        {QStringLiteral("C:\\Pictures\\me.jpg"), withZero("C:\\Pictures\\me.jpg")},
        {QStringLiteral("Überblick 日本"),
         withZero("\xC3\x9C"
                  "berblick \xE6\x97\xA5\xE6\x9C\xAC")},
    };
    CRegSettings settings;
    for (const auto &c : cases) {
        ASSERT_TRUE(settings.SaveSetting(Defaults, QStringLiteral("WebCamPic1"), c.text));
        const Stored s = stored("Software\\Zedazido\\Defaults", "WebCamPic1");
        EXPECT_EQ(s.type, REG_SZ);
        EXPECT_EQ(s.bytes, c.bytes);
        // An existing empty text is a value, not a missing one: the default must not win.
        EXPECT_EQ(
            settings.GetSetting(Defaults, QStringLiteral("WebCamPic1"), QStringLiteral("fallback")),
            c.text);
    }
}

TEST_F(RegSettings, StarStandsForTheUnnamedDefaultValue)
{
    CRegSettings settings;
    ASSERT_TRUE(settings.SaveSetting(Defaults, QStringLiteral("*"), QStringLiteral("dflt")));
    EXPECT_EQ(stored("Software\\Zedazido\\Defaults", "").bytes, std::string("dflt\0", 5));
    EXPECT_FALSE(stored("Software\\Zedazido\\Defaults", "*").found);
    EXPECT_EQ(settings.GetSetting(Defaults, QStringLiteral("*")), QStringLiteral("dflt"));

    ASSERT_TRUE(settings.SaveWinSetting(QStringLiteral("Software\\Elsewhere"), QStringLiteral("*"),
                                        QStringLiteral("w")));
    EXPECT_EQ(settings.GetIESetting(QStringLiteral("Software\\Elsewhere"), QStringLiteral("*")),
              QStringLiteral("w"));

    // SaveRegDWord takes the name literally.
    ASSERT_TRUE(
        settings.SaveRegDWord(QStringLiteral("Software\\Elsewhere"), QStringLiteral("*"), 7));
    EXPECT_EQ(stored("Software\\Elsewhere", "*").type, REG_DWORD);
    EXPECT_EQ(stored("Software\\Elsewhere", "").type, REG_SZ);

    EXPECT_TRUE(settings.DeleteSetting(Defaults, QStringLiteral("*")));
    EXPECT_EQ(settings.GetSetting(Defaults, QStringLiteral("*"), QStringLiteral("gone")),
              QStringLiteral("gone"));
}

TEST_F(RegSettings, CompanyIsTrimmedOfSpacesAndResetByEmptyText)
{
    const struct
    {
        QString put;
        QString expected;
    } cases[] = {
        {QStringLiteral("  Acme Corp  "), QStringLiteral("Acme Corp")},
        {QString(), QStringLiteral("Zedazido")},
        {QStringLiteral("\tTabbed "), QStringLiteral("\tTabbed")},
    };
    for (const auto &c : cases) {
        CRegSettings settings;
        settings.setCompany(QStringLiteral("Previous"));
        settings.setCompany(c.put);
        EXPECT_EQ(settings.Company(), c.expected);
    }

    CRegSettings settings;
    EXPECT_EQ(settings.Company(), QStringLiteral("Zedazido"));
    settings.setCompany(QStringLiteral(" Acme "));
    ASSERT_TRUE(settings.SaveSetting(Defaults, QStringLiteral("k"), QStringLiteral("v")));
    EXPECT_TRUE(keyExists("Software\\Acme\\Defaults"));
    EXPECT_FALSE(keyExists("Software\\ Acme \\Defaults"));
}

TEST_F(RegSettings, DeleteSettingRemovesTheSectionOrOnlyTheNamedValue)
{
    CRegSettings settings;
    ASSERT_TRUE(
        settings.SaveSetting(Defaults, QStringLiteral("ResourceFile"), QStringLiteral("r")));
    ASSERT_TRUE(
        settings.SaveSetting(Defaults, QStringLiteral("WebCamDevice"), QStringLiteral("2")));
    ASSERT_TRUE(
        settings.SaveSetting(QStringLiteral("Keep"), QStringLiteral("x"), QStringLiteral("1")));

    EXPECT_TRUE(settings.DeleteSetting(Defaults, QStringLiteral("ResourceFile")));
    EXPECT_EQ(settings.GetSetting(Defaults, QStringLiteral("ResourceFile"), QStringLiteral("-")),
              QStringLiteral("-"));
    EXPECT_EQ(settings.GetSetting(Defaults, QStringLiteral("WebCamDevice")), QStringLiteral("2"));
    EXPECT_FALSE(settings.DeleteSetting(Defaults, QStringLiteral("ResourceFile")));

    EXPECT_TRUE(settings.DeleteSetting(Defaults));
    EXPECT_FALSE(keyExists("Software\\Zedazido\\Defaults"));
    EXPECT_TRUE(keyExists("Software\\Zedazido\\Keep"));
    EXPECT_FALSE(settings.DeleteSetting(Defaults));

    // An empty section would name the company key itself: never deleted this way.
    EXPECT_FALSE(settings.DeleteSetting(QString()));
    EXPECT_TRUE(keyExists("Software\\Zedazido"));

    // A section with subkeys is refused and left whole.
    ASSERT_TRUE(settings.SaveSetting(QStringLiteral("Keep\\Inner"), QStringLiteral("y"),
                                     QStringLiteral("2")));
    EXPECT_FALSE(settings.DeleteSetting(QStringLiteral("Keep")));
    EXPECT_EQ(settings.GetSetting(QStringLiteral("Keep\\Inner"), QStringLiteral("y")),
              QStringLiteral("2"));
}

TEST_F(RegSettings, GetIESettingReadsDwordsAsDecimalText)
{
    const struct
    {
        std::uint32_t stored;
        QString text;
    } cases[] = {
        {1, QStringLiteral("1")},
        {0, QStringLiteral("0")},
        {0x7fffffff, QStringLiteral("2147483647")},
        {0xffffffff, QStringLiteral("-1")},
    };
    CRegSettings settings;
    const QString path = QStringLiteral("Software\\Browser\\Main");
    for (const auto &c : cases) {
        storeDword(path.toStdString(), "Flag", c.stored);
        EXPECT_EQ(settings.GetIESetting(path, QStringLiteral("flag"), QStringLiteral("x")), c.text);
    }
    ASSERT_TRUE(settings.SaveRegDWord(path, QStringLiteral("Other"), 42));
    EXPECT_EQ(settings.GetIESetting(path, QStringLiteral("Other")), QStringLiteral("42"));
    ASSERT_TRUE(settings.SaveWinSetting(path, QStringLiteral("Text"), QStringLiteral("hello")));
    EXPECT_EQ(settings.GetIESetting(path, QStringLiteral("Text")), QStringLiteral("hello"));
}

TEST_F(RegSettings, GetAllSettingsListsOnlyTextsInCreationOrder)
{
    CRegSettings settings;
    ASSERT_TRUE(settings.SaveSetting(Defaults, QStringLiteral("WebCamPic2"), QStringLiteral("b")));
    ASSERT_TRUE(settings.SaveRegDWord(QStringLiteral("Software\\Zedazido\\Defaults"),
                                      QStringLiteral("Count"), 3));
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
    EXPECT_TRUE(settings.GetAllSettings(QStringLiteral("Missing")).empty());
}

TEST_F(RegSettings, GetSettingDoesNotExamineTheType)
{
    // A DWORD read as text yields its bytes less the last one, as the settings reader always has.
    storeDword("Software\\Zedazido\\Defaults", "Raw", 0x00434241);
    CRegSettings settings;
    EXPECT_EQ(settings.GetSetting(Defaults, QStringLiteral("Raw")), QStringLiteral("ABC"));
}
