#include "RegistryTestSupport.h"

#include "RegTool.h"
#include "support/CRegSettings.h"

#include <QProcess>
#include <QProcessEnvironment>

using regtool::Operation;

namespace {

using RegToolCommand = TempRegistry;

struct Result
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the installed tool's binary with the test's database.
Result runTool(const QStringList &args, const QByteArray &input = QByteArray())
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VEDEREVE_REGISTRY"),
               QString::fromLocal8Bit(qgetenv("VEDEREVE_REGISTRY")));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(VEDEREVE_REG_TOOL), args);
    if (!process.waitForStarted(5000))
        return {};
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    Result result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

const QString DefaultsKey = QStringLiteral("HKCU\\Software\\Zedazido\\Defaults");

} // namespace

TEST(RegToolParse, AcceptsTheDocumentedFormsAndRejectsTheRest)
{
    const struct
    {
        std::vector<std::string> args;
        bool ok;
        Operation operation;
        std::string subKey;
        std::optional<std::string> valueName;
        std::uint32_t type;
        bool force;
    } cases[] = {
        {{"query", "HKCU\\Software\\Zedazido\\Defaults"},
         true,
         Operation::Query,
         "Software\\Zedazido\\Defaults",
         std::nullopt,
         1,
         false},
        {{"QUERY", "hkey_current_user\\Software\\", "-V", "x"},
         true,
         Operation::Query,
         "Software",
         "x",
         1,
         false},
        {{"add", "HKCU\\S", "/ve", "/d", "v", "/f"}, true, Operation::Add, "S", "", 1, true},
        {{"add", "HKCU\\S", "/v", "n", "/t", "reg_dword", "/d", "1"},
         true,
         Operation::Add,
         "S",
         "n",
         4,
         false},
        {{"delete", "HKCU", "/v", "n"}, true, Operation::Delete, "", "n", 1, false},
        {{"query"}, false, {}, {}, {}, 0, false},
        {{"copy", "HKCU\\S"}, false, {}, {}, {}, 0, false},
        {{"query", "HKLM\\Software"}, false, {}, {}, {}, 0, false},
        {{"query", "HKCUX\\Software"}, false, {}, {}, {}, 0, false},
        {{"query", "HKCU\\S", "/v"}, false, {}, {}, {}, 0, false},
        {{"query", "HKCU\\S", "/f"}, false, {}, {}, {}, 0, false},
        {{"query", "HKCU\\S", "/v", "a", "/ve"}, false, {}, {}, {}, 0, false},
        {{"add", "HKCU\\S", "/v", "a", "/t", "REG_BINARY"}, false, {}, {}, {}, 0, false},
        {{"add", "HKCU\\S", "/d", "data"}, false, {}, {}, {}, 0, false},
        {{"add", "HKCU\\S", "/v", "a", "/d", "1", "/d", "2"}, false, {}, {}, {}, 0, false},
        {{"delete", "HKCU\\S", "/t", "REG_SZ"}, false, {}, {}, {}, 0, false},
        {{"add", "HKCU\\S", "stray"}, false, {}, {}, {}, 0, false},
    };
    for (const auto &c : cases) {
        std::string error;
        const auto cmd = regtool::parseCommand(c.args, error);
        const std::string where
            = c.args.empty() ? "" : c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : "");
        ASSERT_EQ(cmd.has_value(), c.ok) << where << " (" << c.args.size() << " args)";
        if (!cmd) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(cmd->operation, c.operation) << where;
        EXPECT_EQ(cmd->subKey, c.subKey) << where;
        EXPECT_EQ(cmd->valueName, c.valueName) << where;
        EXPECT_EQ(cmd->type, c.type) << where;
        EXPECT_EQ(cmd->force, c.force) << where;
    }
}

TEST(RegToolParse, DwordDataAndDisplay)
{
    const struct
    {
        const char *text;
        std::optional<std::uint32_t> value;
    } numbers[] = {
        {"1", 1u},
        {"0x1F", 31u},
        {"0XfF", 255u},
        {"4294967295", 0xffffffffu},
        {"0xFFFFFFFF", 0xffffffffu},
        {"4294967296", std::nullopt},
        {"-1", std::nullopt},
        {"0x", std::nullopt},
        {"", std::nullopt},
        {"12abc", std::nullopt},
        {" 1", std::nullopt},
    };
    for (const auto &n : numbers)
        EXPECT_EQ(regtool::parseDword(n.text), n.value) << '"' << n.text << '"';

    EXPECT_EQ(regtool::formatData(4, std::string("\x1f\0\0\0", 4)), "0x1f");
    EXPECT_EQ(regtool::formatData(1, std::string("path\0", 5)), "path");
    EXPECT_EQ(regtool::formatData(1, "no terminator"), "no terminator");
    EXPECT_EQ(regtool::formatData(3, std::string("\x01\xab", 2)), "01AB");
    // A DWORD of the wrong size is shown as bytes, not read past its end.
    EXPECT_EQ(regtool::formatData(4, "\x01\x02"), "0102");
    EXPECT_EQ(regtool::typeName(4), "REG_DWORD");
    EXPECT_EQ(regtool::typeName(0x1234), "0x1234");
}

TEST_F(RegToolCommand, AddQueryDeleteRoundTripThroughTheExecutable)
{
    Result r = runTool({QStringLiteral("query"), DefaultsKey});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("ERROR:"))) << r.err.toStdString();

    // What an installer does; the component then reads it back.
    r = runTool({QStringLiteral("add"), DefaultsKey, QStringLiteral("/v"),
                 QStringLiteral("ResourceFile"), QStringLiteral("/t"), QStringLiteral("REG_SZ"),
                 QStringLiteral("/d"), QStringLiteral("/opt/skins/blue skin.rcc"),
                 QStringLiteral("/f")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(CRegSettings().GetSetting(QStringLiteral("Defaults"), QStringLiteral("ResourceFile")),
              QStringLiteral("/opt/skins/blue skin.rcc"));

    r = runTool({QStringLiteral("add"),
                 QStringLiteral("HKEY_CURRENT_USER\\Software\\Zedazido\\Defaults"),
                 QStringLiteral("/v"), QStringLiteral("Count"), QStringLiteral("/t"),
                 QStringLiteral("REG_DWORD"), QStringLiteral("/d"), QStringLiteral("0x10")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = runTool({QStringLiteral("add"), DefaultsKey + QStringLiteral("\\Sub")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    r = runTool({QStringLiteral("query"), QStringLiteral("hkcu\\software\\zedazido\\defaults"),
                 QStringLiteral("/v"), QStringLiteral("resourcefile")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
              QStringLiteral("\nHKEY_CURRENT_USER\\software\\zedazido\\defaults\n"
                             "    resourcefile    REG_SZ    /opt/skins/blue skin.rcc\n\n"));

    r = runTool({QStringLiteral("query"), DefaultsKey});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
              QStringLiteral("\nHKEY_CURRENT_USER\\Software\\Zedazido\\Defaults\n"
                             "    ResourceFile    REG_SZ    /opt/skins/blue skin.rcc\n"
                             "    Count    REG_DWORD    0x10\n"
                             "\n"
                             "HKEY_CURRENT_USER\\Software\\Zedazido\\Defaults\\Sub\n"));

    r = runTool({QStringLiteral("delete"), DefaultsKey, QStringLiteral("/v"),
                 QStringLiteral("ResourceFile"), QStringLiteral("/f")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = runTool({QStringLiteral("query"), DefaultsKey, QStringLiteral("/v"),
                 QStringLiteral("ResourceFile")});
    EXPECT_EQ(r.exitCode, 1);

    r = runTool({QStringLiteral("delete"), QStringLiteral("HKCU\\Software\\Zedazido"),
                 QStringLiteral("/f")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = runTool({QStringLiteral("query"), DefaultsKey});
    EXPECT_EQ(r.exitCode, 1);
    r = runTool({QStringLiteral("query"), QStringLiteral("HKCU\\Software")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, QStringLiteral("\nHKEY_CURRENT_USER\\Software\n\n"));
}

TEST_F(RegToolCommand, WithoutForceItAsksAndANoChangesNothing)
{
    ASSERT_TRUE(CRegSettings().SaveSetting(QStringLiteral("Defaults"), QStringLiteral("*"),
                                           QStringLiteral("old")));

    Result r = runTool({QStringLiteral("add"), DefaultsKey, QStringLiteral("/ve"),
                        QStringLiteral("/d"), QStringLiteral("new")},
                       "no\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.contains(QStringLiteral("(Default) exists, overwrite")))
        << r.out.toStdString();
    r = runTool({QStringLiteral("delete"), DefaultsKey, QStringLiteral("/ve")}); // no answer at all
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(CRegSettings().GetSetting(QStringLiteral("Defaults"), QStringLiteral("*")),
              QStringLiteral("old"));

    r = runTool({QStringLiteral("add"), DefaultsKey, QStringLiteral("/ve"), QStringLiteral("/d"),
                 QStringLiteral("new")},
                "yes\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(CRegSettings().GetSetting(QStringLiteral("Defaults"), QStringLiteral("*")),
              QStringLiteral("new"));

    r = runTool({QStringLiteral("delete"), QStringLiteral("HKCU"), QStringLiteral("/f")});
    EXPECT_EQ(r.exitCode, 1);
    r = runTool({QStringLiteral("add"), DefaultsKey, QStringLiteral("/v"), QStringLiteral("n"),
                 QStringLiteral("/t"), QStringLiteral("REG_DWORD"), QStringLiteral("/d"),
                 QStringLiteral("lots")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.err.isEmpty());
}
