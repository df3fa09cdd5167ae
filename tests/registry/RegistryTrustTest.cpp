#include "RegistryTestSupport.h"

#include "support/CRegSettings.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

using namespace platform::registry;

namespace {

using RegistryTrust = TempRegistry;

const QString Defaults = QStringLiteral("Defaults");
const QString ResourceFile = QStringLiteral("ResourceFile");
constexpr uid_t nobody = 65534;

// Bytes and owner, to tell that a file was left alone.
std::string fileState(const std::string &path)
{
    struct stat st = {};
    return fileBytes(path) + "|" + std::to_string(::lstat(path.c_str(), &st) == 0 ? st.st_uid : -1);
}

// The tool's first line on standard error.
std::string toolComplaint(const QStringList &arguments)
{
    return runTool(arguments).err.section(QLatin1Char('\n'), 0, 0).toStdString();
}

TEST_F(RegistryTrust, ForeignOrOpenFoldersAndFilesAreRefusedWithTheReason)
{
    using Spoil = std::function<bool(const std::string &)>;
    const Spoil toNobody = [](auto &p) { return ::chown(p.c_str(), nobody, nobody) == 0; };
    // Moves p aside and puts a link to target (to the moved p when empty) in its place.
    const auto toLink = [](std::string target) {
        return [target](const std::string &p) {
            const std::string aside = p + ".real";
            return ::rename(p.c_str(), aside.c_str()) == 0
                && ::symlink((target.empty() ? aside : target).c_str(), p.c_str()) == 0;
        };
    };
    const std::string victim = folder() + "/victim";
    const struct
    {
        const char *what;
        const char *spoiled; // "" the folder, else appended to the database's path
        Spoil spoil;
        std::string why;
        std::string kept = {}; // what must stay as it was, if not the spoiled file or database
    } cases[] = {
        {"folder of another user", "", toNobody, "owned by uid 65534, not 0"},
        {"group-writable folder", "", [](auto &p) { return ::chmod(p.c_str(), 0770) == 0; },
         "writable by group or others (mode 0770)"},
        {"folder behind a link", "", toLink(""), "a symbolic link"},
        // An empty file would become a database if the link were followed.
        {"link to an empty file", ".sqlite", toLink(victim), "a symbolic link", victim},
        {"second name", ".sqlite",
         [&](auto &p) { return ::link(p.c_str(), (victim + "2").c_str()) == 0; }, "2 hard links"},
        // Passes every check made before SQLite opens the database; SQLite meets it later.
        {"side file of another user", ".sqlite-wal",
         [&](auto &p) { return bool(std::ofstream(p) << "junk") && toNobody(p); },
         "owned by uid 65534, not 0"},
    };
    int index = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.why.starts_with("owned") && ::geteuid() != 0)
            continue; // needs root to give a file away
        const std::string dir = folder() + "/case" + std::to_string(++index);
        const std::string db = dir + "/registry.sqlite";
        const std::string spoiled = *c.spoiled ? dir + "/registry" + c.spoiled : dir;
        ::setenv("VEDEREVE_REGISTRY", db.c_str(), 1);
        // What another user would plant: a skin library for the panel to load.
        ASSERT_TRUE(CRegSettings().SaveSetting(Defaults, ResourceFile, QStringLiteral("/x.rcc")));
        std::ofstream(victim).close();
        ASSERT_TRUE(c.spoil(spoiled)) << std::strerror(errno);
        const std::string kept = !c.kept.empty() ? c.kept : *c.spoiled ? spoiled : db;
        const std::string keptBefore = fileState(kept);

        EXPECT_EQ(CRegSettings().GetSetting(Defaults, ResourceFile), QString());
        EXPECT_FALSE(CRegSettings().SaveSetting(Defaults, ResourceFile, QStringLiteral("/y")));
        EXPECT_EQ(toolComplaint({"query", "HKCU\\Software"}),
                  "registry: refusing " + spoiled + ": " + c.why);
        EXPECT_EQ(fileState(kept), keptBefore);
    }
}

TEST_F(RegistryTrust, AStoreTheUserCannotWriteIsStillRead)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hand the store to another user";
    ASSERT_TRUE(CRegSettings().SaveSetting(Defaults, ResourceFile, QStringLiteral("/skin.rcc")));
    const std::string dir = folder() + "/reg";
    ASSERT_EQ(::chmod(folder().c_str(), 0711), 0);
    ASSERT_EQ(::chown(dir.c_str(), nobody, nobody), 0);
    ASSERT_EQ(::chown(dbPath().c_str(), nobody, nobody), 0);
    for (const auto &[dirMode, fileMode] : {std::pair {0500, 0600}, std::pair {0700, 0400}}) {
        SCOPED_TRACE(testing::Message()
                     << std::oct << "folder " << dirMode << ", file " << fileMode);
        ASSERT_EQ(::chmod(dir.c_str(), dirMode), 0);
        ASSERT_EQ(::chmod(dbPath().c_str(), fileMode), 0);
        // As nobody: exits with 1 when the setting is not read, 2 when it is written.
        EXPECT_EXIT(
            {
                ASSERT_TRUE(::setgid(nobody) == 0 && ::setuid(nobody) == 0);
                CRegSettings settings;
                std::exit(int(settings.GetSetting(Defaults, ResourceFile) != "/skin.rcc")
                          | int(settings.SaveSetting(Defaults, ResourceFile, "/x")) << 1);
            },
            testing::ExitedWithCode(0), "");
        // No side file is left that its owner could not remove or that would stop a writer.
        EXPECT_EQ(fileBytes(dbPath() + "-wal") + fileBytes(dbPath() + "-shm"),
                  "<missing><missing>");
    }
}

TEST_F(RegistryTrust, ADatabaseOfANewerSchemaIsLeftUntouched)
{
    ASSERT_TRUE(CRegSettings().SaveSetting(Defaults, ResourceFile, QStringLiteral("/skin.rcc")));
    {
        // A newer program raised the version and left its last commit in the log.
        sqlite3 *raw = nullptr;
        ASSERT_EQ(sqlite3_open(dbPath().c_str(), &raw), SQLITE_OK);
        const std::unique_ptr<sqlite3, int (*)(sqlite3 *)> newer(raw, sqlite3_close);
        sqlite3_db_config(raw, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        ASSERT_EQ(sqlite3_exec(raw, "PRAGMA user_version = 2", nullptr, nullptr, nullptr),
                  SQLITE_OK);
    }
    const std::string before = fileBytes(dbPath()) + fileBytes(dbPath() + "-wal");
    EXPECT_EQ(CRegSettings().GetSetting(Defaults, ResourceFile), QString());
    EXPECT_FALSE(CRegSettings().SaveSetting(Defaults, ResourceFile, QStringLiteral("/x")));
    EXPECT_EQ(toolComplaint({"add", "HKCU\\Software\\New", "/f"}),
              "registry: " + dbPath()
                  + " has schema version 2, newer than this program's 1; leaving it untouched");
    EXPECT_EQ(fileBytes(dbPath()) + fileBytes(dbPath() + "-wal"), before);
}

} // namespace
