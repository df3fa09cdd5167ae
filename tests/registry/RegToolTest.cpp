#include "RegistryTestSupport.h"

#include "RegTool.h"
#include "support/CRegSettings.h"

namespace {

using RegToolCommand = TempRegistry;

QString savedDefault()
{
    return CRegSettings().GetSetting(QStringLiteral("Defaults"), QStringLiteral("*"));
}

// Runs the tool and expects its exit code.
ToolResult run(const QStringList &arguments, int exitCode, const QByteArray &input = {})
{
    ToolResult r = runTool(arguments, input);
    EXPECT_EQ(r.exitCode, exitCode)
        << arguments.join(u' ').toStdString() << ": " << r.err.toStdString();
    return r;
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
    EXPECT_TRUE(run({"query", Key}, 1).err.startsWith(QStringLiteral("ERROR:")));
    // What an installer does; the component then reads it back.
    run({"add", Key, "/v", "ResourceFile", "/t", "REG_SZ", "/d", "/opt/skins/blue skin.rcc", "/f"},
        0);
    EXPECT_EQ(CRegSettings().GetSetting(QStringLiteral("Defaults"), QStringLiteral("ResourceFile")),
              QStringLiteral("/opt/skins/blue skin.rcc"));
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
    run({"query", Key}, 1);
    EXPECT_EQ(run({"query", "HKCU\\Software"}, 0).out,
              QStringLiteral("\nHKEY_CURRENT_USER\\Software\n\n"));
}

TEST_F(RegToolCommand, WithoutForceItAsksAndANoChangesNothing)
{
    ASSERT_TRUE(CRegSettings().SaveSetting(QStringLiteral("Defaults"), QStringLiteral("*"),
                                           QStringLiteral("old")));
    const ToolResult r = run({"add", Key, "/ve", "/d", "new"}, 1, "no\n");
    EXPECT_TRUE(r.out.contains(QStringLiteral("(Default) exists, overwrite")))
        << r.out.toStdString();
    run({"delete", Key, "/ve"}, 1); // no answer at all
    EXPECT_EQ(savedDefault(), QStringLiteral("old"));
    run({"add", Key, "/ve", "/d", "new"}, 0, "yes\n");
    EXPECT_EQ(savedDefault(), QStringLiteral("new"));
    run({"delete", "HKCU", "/f"}, 1);
}
