#include "RegistryTestSupport.h"

#include "RegTool.h"
#include "support/CRegSettings.h"

using RegSettings = TempRegistry;
using RegToolCommand = TempRegistry;
using namespace Qt::StringLiterals;

namespace {

const QString Defaults = u"Defaults"_s;
constexpr std::string_view DefaultsPath = "Software\\Zedazido\\Defaults";

void storeDword(std::string_view path, std::string_view name, std::uint32_t value)
{
    reg::RegKey key;
    ASSERT_EQ(reg::RegKey::createCurrentUser(path, key), reg::ERROR_SUCCESS);
    ASSERT_EQ(key.setValue(name, reg::REG_DWORD, reinterpret_cast<const std::byte *>(&value), 4),
              reg::ERROR_SUCCESS);
}

ToolResult run(const QStringList &arguments, int exitCode, const QByteArray &input = {})
{
    ToolResult r = runTool(arguments, input);
    EXPECT_EQ(r.exitCode, exitCode)
        << arguments.join(u' ').toStdString() << ": " << r.err.toStdString();
    return r;
}

constexpr const char *Key = "HKCU\\Software\\Zedazido\\Defaults";

} // namespace

TEST_F(RegSettings, ReadingOnAFreshProfileGivesTheDefaultAndCreatesNothing)
{
    CRegSettings settings;
    const QString device = u"WebCamDevice"_s;
    EXPECT_EQ(
        QStringList({settings.GetSetting(Defaults, device, u"-1"_s),
                     settings.GetIESetting(QString::fromLatin1(DefaultsPath), device, u"x"_s)}),
        QStringList({u"-1"_s, u"x"_s}));
    EXPECT_TRUE(settings.GetAllSettings(Defaults).empty()
                && !settings.DeleteSetting(Defaults, device));
    EXPECT_EQ(fileBytes(dbPath()), "<missing>") << "a read created the database";
    // Once the store exists, a read of another section still creates no key.
    ASSERT_TRUE(settings.SaveSetting(u"Other"_s, device, u"1"_s));
    EXPECT_TRUE(settings.GetSetting(Defaults, device, u"-1"_s) == u"-1"_s
                && !keyExists(DefaultsPath));
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
    EXPECT_EQ(
        std::vector({readBytes(DefaultsPath, "WebCamPic2", &type),
                     readBytes(DefaultsPath, "WebCamPic1"), readBytes(DefaultsPath, ""),
                     readBytes(DefaultsPath, "*")}),
        std::vector<std::string>({text.toStdString() + '\0', {'\0'}, {'d', '\0'}, "<missing>"}));
    EXPECT_EQ(type, reg::REG_SZ);
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
    EXPECT_TRUE(settings.DeleteSetting(Defaults, file) && !settings.DeleteSetting(Defaults, file));
    EXPECT_EQ(settings.GetSetting(Defaults, u"Device"_s), u"2"_s);
    EXPECT_TRUE(settings.DeleteSetting(Defaults));
    EXPECT_TRUE(!keyExists(DefaultsPath) && keyExists("Software\\Zedazido\\Keep"));
    // An empty section would name the company key itself: never deleted this way.
    EXPECT_TRUE(!settings.DeleteSetting(QString()) && keyExists("Software\\Zedazido"));
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

TEST(RegToolParse, RejectsMalformedCommands)
{
    const std::vector<std::string> rejected[] = {
        {"query"},
        {"copy", "HKCU\\S"},
        {"query", "HKLM\\Software"},
        {"query", "HKCU\\S", "/v"},
        {"query", "HKCU\\S", "/v", "a", "/ve"},
        {"add", "HKCU\\S", "/v", "a", "/t", "REG_BINARY"},
        {"add", "HKCU\\S", "/d", "data"},
        {"add", "HKCU\\S", "stray"},
    };
    for (const auto &args : rejected) {
        std::string error;
        EXPECT_TRUE(!regtool::parseCommand(args, error) && !error.empty()) << args.back();
    }
}

TEST(RegToolParse, DwordDataAndDisplay)
{
    const std::pair<const char *, std::optional<std::uint32_t>> numbers[] = {
        {"0XfF", 255u},       {"4294967295", 0xffffffffu}, {"4294967296", std::nullopt},
        {"-1", std::nullopt}, {"0x", std::nullopt},        {"12abc", std::nullopt},
        {" 1", std::nullopt},
    };
    for (const auto &[text, value] : numbers)
        EXPECT_EQ(regtool::parseDword(text), value) << '"' << text << '"';
    EXPECT_EQ(regtool::formatData(1, "no terminator"), "no terminator");
    // A DWORD of the wrong size is shown as bytes, not read past its end.
    EXPECT_EQ(regtool::formatData(4, "\x01\xab"), "01AB");
}

TEST_F(RegToolCommand, AddQueryDeleteRoundTripThroughTheExecutableAskingWithoutForce)
{
    EXPECT_TRUE(run({"query", Key}, 1).err.startsWith(u"ERROR:"_s));
    // What an installer does; the component then reads it back.
    run({"add", Key, "/v", "ResourceFile", "/t", "REG_SZ", "/d", "/opt/skins/blue skin.rcc", "/f"},
        0);
    EXPECT_EQ(CRegSettings().GetSetting(Defaults, u"ResourceFile"_s),
              u"/opt/skins/blue skin.rcc"_s);
    run({"add", "HKEY_CURRENT_USER\\Software\\Zedazido\\Defaults", "/v", "Count", "/t", "REG_DWORD",
         "/d", "0x10"},
        0);
    run({"add", "HKCU\\Software\\Zedazido\\Defaults\\Sub"}, 0);

    EXPECT_EQ(run({"QUERY", "hkcu\\software\\zedazido\\defaults", "-V", "resourcefile"}, 0).out,
              QStringLiteral("\nHKEY_CURRENT_USER\\software\\zedazido\\defaults\n"
                             "    resourcefile    REG_SZ    /opt/skins/blue skin.rcc\n\n"));
    EXPECT_EQ(run({"query", Key}, 0).out,
              QStringLiteral("\nHKEY_CURRENT_USER\\Software\\Zedazido\\Defaults\n"
                             "    ResourceFile    REG_SZ    /opt/skins/blue skin.rcc\n"
                             "    Count    REG_DWORD    0x10\n"
                             "\n"
                             "HKEY_CURRENT_USER\\Software\\Zedazido\\Defaults\\Sub\n"));
    run({"delete", Key, "/v", "ResourceFile", "/f"}, 0);
    run({"query", Key, "/v", "ResourceFile"}, 1);
    run({"delete", "HKCU\\Software\\Zedazido", "/f"}, 0);
    EXPECT_EQ(run({"query", "HKCU\\Software"}, 0).out, u"\nHKEY_CURRENT_USER\\Software\n\n"_s);

    // Without /f it asks, and a no changes nothing.
    ASSERT_TRUE(CRegSettings().SaveSetting(Defaults, u"*"_s, u"old"_s));
    const ToolResult r = run({"add", Key, "/ve", "/d", "new"}, 1, "no\n");
    EXPECT_TRUE(r.out.contains(u"(Default) exists, overwrite"_s)) << r.out.toStdString();
    run({"delete", Key, "/ve"}, 1); // no answer at all
    EXPECT_EQ(CRegSettings().GetSetting(Defaults, u"*"_s), u"old"_s);
    run({"add", Key, "/ve", "/d", "new"}, 0, "yes\n");
    EXPECT_EQ(CRegSettings().GetSetting(Defaults, u"*"_s), u"new"_s);
    run({"delete", "HKCU", "/f"}, 1);
}
