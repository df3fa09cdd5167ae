#include "RegistryTestSupport.h"

#include "RegTool.h"
#include "support/CRegSettings.h"

namespace {

using RegToolCommand = TempRegistry;

QString savedDefault()
{
    return CRegSettings().GetSetting(QStringLiteral("Defaults"), QStringLiteral("*"));
}

constexpr const char *Key = "HKCU\\Software\\Zedazido\\Defaults";

} // namespace

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
        EXPECT_FALSE(regtool::parseCommand(args, error)) << args.back();
        EXPECT_FALSE(error.empty()) << args.back();
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

TEST_F(RegToolCommand, AddQueryDeleteRoundTripThroughTheExecutable)
{
    ToolResult r = runTool({"query", Key});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("ERROR:"))) << r.err.toStdString();

    // What an installer does; the component then reads it back.
    r = runTool(
        {"add", Key, "/v", "ResourceFile", "/t", "REG_SZ", "/d", "/opt/skins/blue skin.rcc", "/f"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(CRegSettings().GetSetting(QStringLiteral("Defaults"), QStringLiteral("ResourceFile")),
              QStringLiteral("/opt/skins/blue skin.rcc"));
    r = runTool({"add", "HKEY_CURRENT_USER\\Software\\Zedazido\\Defaults", "/v", "Count", "/t",
                 "REG_DWORD", "/d", "0x10"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(runTool({"add", "HKCU\\Software\\Zedazido\\Defaults\\Sub"}).exitCode, 0);

    r = runTool({"QUERY", "hkcu\\software\\zedazido\\defaults", "-V", "resourcefile"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
              QStringLiteral("\nHKEY_CURRENT_USER\\software\\zedazido\\defaults\n"
                             "    resourcefile    REG_SZ    /opt/skins/blue skin.rcc\n\n"));
    r = runTool({"query", Key});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
              QStringLiteral("\nHKEY_CURRENT_USER\\Software\\Zedazido\\Defaults\n"
                             "    ResourceFile    REG_SZ    /opt/skins/blue skin.rcc\n"
                             "    Count    REG_DWORD    0x10\n"
                             "\n"
                             "HKEY_CURRENT_USER\\Software\\Zedazido\\Defaults\\Sub\n"));

    EXPECT_EQ(runTool({"delete", Key, "/v", "ResourceFile", "/f"}).exitCode, 0);
    EXPECT_EQ(runTool({"query", Key, "/v", "ResourceFile"}).exitCode, 1);
    EXPECT_EQ(runTool({"delete", "HKCU\\Software\\Zedazido", "/f"}).exitCode, 0);
    EXPECT_EQ(runTool({"query", Key}).exitCode, 1);
    r = runTool({"query", "HKCU\\Software"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, QStringLiteral("\nHKEY_CURRENT_USER\\Software\n\n"));
}

TEST_F(RegToolCommand, WithoutForceItAsksAndANoChangesNothing)
{
    ASSERT_TRUE(CRegSettings().SaveSetting(QStringLiteral("Defaults"), QStringLiteral("*"),
                                           QStringLiteral("old")));
    ToolResult r = runTool({"add", Key, "/ve", "/d", "new"}, "no\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.contains(QStringLiteral("(Default) exists, overwrite")))
        << r.out.toStdString();
    EXPECT_EQ(runTool({"delete", Key, "/ve"}).exitCode, 1); // no answer at all
    EXPECT_EQ(savedDefault(), QStringLiteral("old"));

    EXPECT_EQ(runTool({"add", Key, "/ve", "/d", "new"}, "yes\n").exitCode, 0);
    EXPECT_EQ(savedDefault(), QStringLiteral("new"));

    EXPECT_EQ(runTool({"delete", "HKCU", "/f"}).exitCode, 1);
}
