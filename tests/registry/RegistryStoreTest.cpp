#include "RegistryTestSupport.h"

#include "support/CRegSettings.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <set>

using namespace platform::registry;

namespace {

using RegistryStore = TempRegistry;
using RegistryTrust = TempRegistry;

const QString Defaults = QStringLiteral("Defaults");
const QString Device = QStringLiteral("WebCamDevice");
const QString ResourceFile = QStringLiteral("ResourceFile");
constexpr uid_t nobody = 65534;

// Bytes and owner, to tell that a file was left alone.
std::string fileState(const std::string &path)
{
    struct stat st = {};
    return fileBytes(path) + "|" + std::to_string(::lstat(path.c_str(), &st) == 0 ? st.st_uid : -1);
}

std::string toolComplaint(const QStringList &arguments)
{
    return runTool(arguments).err.section(QLatin1Char('\n'), 0, 0).toStdString();
}

// A second connection holding a lock (a writer's, or an exclusive one that keeps readers out).
using Database = std::unique_ptr<sqlite3, int (*)(sqlite3 *)>;
Database lockDatabase(const std::string &path, const char *sql)
{
    sqlite3 *raw = nullptr;
    sqlite3_open(path.c_str(), &raw);
    Database db(raw, sqlite3_close);
    EXPECT_EQ(sqlite3_exec(raw, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    return db;
}

// A clock whose sleep only adds to g_slept; past g_releaseAfter it drops g_lock.
std::chrono::steady_clock::time_point g_now;
std::chrono::microseconds g_slept;
std::chrono::milliseconds g_releaseAfter {-1};
Database *g_lock = nullptr;
constexpr WaitClock fakeClock {
    [] { return g_now; },
    [](std::chrono::microseconds pause) {
        g_now += pause;
        g_slept += pause;
        if (g_lock && g_releaseAfter.count() >= 0 && g_slept >= g_releaseAfter)
            g_lock->reset();
    },
};
auto waitedMs()
{
    return std::chrono::round<std::chrono::milliseconds>(std::exchange(g_slept, {})).count();
}

std::vector<std::string> subKeys(const RegKey &key)
{
    std::vector<std::string> names;
    std::string name;
    for (std::uint32_t i = 0; key.enumKey(i, name) == ERROR_SUCCESS; ++i)
        names.push_back(name);
    return names;
}

} // namespace

TEST_F(RegistryStore, PrivateStoreWhoseNamesIgnoreCaseButKeepTheCaseAndPlaceTheyWereCreatedWith)
{
    RegKey key;
    bool created = false;
    ASSERT_EQ(RegKey::createCurrentUser("Software\\Zedazido\\Défauts", key, &created),
              ERROR_SUCCESS);
    EXPECT_TRUE(created);
    struct stat st = {}; // the store is private to the user
    EXPECT_TRUE(::stat(dbPath().c_str(), &st) == 0 && (st.st_mode & 0777) == 0600);
    EXPECT_TRUE(::stat((folder() + "/reg").c_str(), &st) == 0 && (st.st_mode & 0777) == 0700);
    ASSERT_EQ(RegKey::createCurrentUser("SOFTWARE\\zedazido\\DÉFAUTS", key, &created),
              ERROR_SUCCESS);
    EXPECT_FALSE(created);
    for (const auto &[name, text] :
         {std::pair {"WebCamPic1", "a"}, {"Other", "x"}, {"WEBCAMPIC1", "longer"}})
        ASSERT_EQ(setText(key, name, text), ERROR_SUCCESS);
    EXPECT_EQ(readBytes(key, "webcampic1"), std::string("longer\0", 7));
    std::string names, name;
    for (std::uint32_t i = 0; key.enumValue(i, name, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i)
        names += name + "|";
    EXPECT_EQ(names, "WebCamPic1|Other|");

    ASSERT_EQ(RegKey::openCurrentUser("software", key), ERROR_SUCCESS);
    EXPECT_EQ(subKeys(key), std::vector<std::string> {"Zedazido"});
}

TEST_F(RegistryStore, MalformedPathsAreRefusedBeforeTouchingTheDisk)
{
    const std::pair<std::string, RegStatus> cases[] = {
        {"\\Software", ERROR_BAD_PATHNAME},
        {"Software\\\\Zedazido", ERROR_BAD_PATHNAME},
        {std::string(maxKeyNameLength + 1, 'k'), ERROR_INVALID_PARAMETER},
    };
    RegKey key;
    for (const auto &[path, expected] : cases)
        EXPECT_EQ(RegKey::createCurrentUser(path, key), expected) << path;
    EXPECT_EQ(fileBytes(dbPath()), "<missing>");
    // A name at the limit is fine.
    EXPECT_EQ(RegKey::createCurrentUser(std::string(maxKeyNameLength, 'k'), key), ERROR_SUCCESS);
}

TEST_F(RegistryStore, QueryValueNeverWritesPastTheCallersBuffer)
{
    RegKey key;
    ASSERT_EQ(RegKey::createCurrentUser("Software", key), ERROR_SUCCESS);
    ASSERT_EQ(setText(key, "Path", "abcdef"), ERROR_SUCCESS);
    std::uint32_t type = REG_NONE, size = 6;
    std::byte buffer[8];
    std::memset(buffer, 0x5a, sizeof buffer);
    EXPECT_EQ(key.queryValue("Path", &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_TRUE(size == 7 && std::memcmp(buffer, "ZZZZZZZZ", 8) == 0);
    EXPECT_EQ(key.queryValue("Path", &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_TRUE(type == REG_SZ && std::memcmp(buffer, "abcdef\0Z", 8) == 0);
    EXPECT_EQ(std::pair(key.queryValue("Path", &type, buffer, nullptr),
                        key.setValue("Big", REG_SZ, buffer, maxValueDataSize + 1)),
              std::pair(ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER));
}

TEST_F(RegistryStore, DeletingKeysRespectsSubkeysAndInvalidatesOpenHandles)
{
    RegKey parent, child;
    ASSERT_EQ(RegKey::createCurrentUser("Software\\Zedazido", parent), ERROR_SUCCESS);
    ASSERT_EQ(RegKey::createCurrentUser("Software\\Zedazido\\Defaults\\Deep", child),
              ERROR_SUCCESS);
    ASSERT_EQ(setText(child, "v", "old"), ERROR_SUCCESS);
    EXPECT_EQ(std::vector({parent.deleteKey("Defaults"), parent.deleteKey("Missing"),
                           parent.deleteKey(""), parent.deleteTree("defaults")}),
              std::vector({ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_INVALID_PARAMETER,
                           ERROR_SUCCESS}));
    EXPECT_TRUE(subKeys(parent).empty());

    // A new key of the same name is another key: the old handle and old values do not reach it.
    RegKey again;
    ASSERT_EQ(RegKey::createCurrentUser("Software\\Zedazido\\Defaults\\Deep", again),
              ERROR_SUCCESS);
    EXPECT_EQ(setText(child, "v", "new"), ERROR_KEY_DELETED);
    EXPECT_EQ(readBytes(again, "v"), "<missing>");
    // Without a subkey the tree below the key goes and the key itself stays.
    EXPECT_EQ(parent.deleteTree(""), ERROR_SUCCESS);
    EXPECT_TRUE(subKeys(parent).empty());
    EXPECT_EQ(setText(parent, "w", "kept"), ERROR_SUCCESS);

    EXPECT_EQ(RegKey().deleteValue("x"), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryStore, TwoProcessesWritingAtOnceLoseNothing)
{
    constexpr int perProcess = 500;
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    // Both start on a missing database, so creating it races as well.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    char byte = 'g';
    const bool started = child == 0 ? ::read(go[0], &byte, 1) == 1 : ::write(go[1], &byte, 1) == 1;
    ::close(go[0]);
    ::close(go[1]);
    int failures = started ? 0 : 1;
    const char *tag = child == 0 ? "child" : "parent";
    for (int i = 0; i < perProcess; ++i) {
        const QString name = QStringLiteral("%1-%2").arg(QLatin1String(tag)).arg(i);
        failures += !CRegSettings().SaveSetting(Defaults, name, QString::number(i));
    }
    if (child == 0)
        ::_exit(failures == 0 ? 0 : 1);

    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(status == 0 && failures == 0) << "failed: " << status << " " << failures;
    std::set<QString> names;
    for (const auto &[name, text] : CRegSettings().GetAllSettings(Defaults)) {
        names.insert(name);
        EXPECT_EQ(text, name.section(QLatin1Char('-'), 1));
    }
    EXPECT_EQ(names.size(), 2u * perProcess);
}

TEST_F(RegistryStore, LockedDatabaseIsWaitedForAtMostTheBoundPerOperation)
{
    ASSERT_TRUE(CRegSettings().SaveSetting(Defaults, Device, QStringLiteral("2")));
    Database lock = lockDatabase(
        dbPath(), "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; SELECT count(*) FROM keys");
    setWaitClock(&fakeClock);
    waitedMs();
    EXPECT_TRUE(CRegSettings().GetSetting(Defaults, Device, QStringLiteral("-1")) == "-1"
                && waitedMs() == busyTimeoutMs);
    EXPECT_TRUE(!CRegSettings().SaveSetting(Defaults, Device, QStringLiteral("3"))
                && waitedMs() == busyTimeoutMs);

    // An open in after 1.5 s leaves the next write 0.5 s; reads pass a writer's lock.
    g_lock = &lock;
    g_releaseAfter = std::chrono::milliseconds(1500);
    RegKey key;
    ASSERT_EQ(RegKey::openCurrentUser("Software\\Zedazido\\Defaults", key), ERROR_SUCCESS);
    g_lock = nullptr;
    const Database writer = lockDatabase(dbPath(), "BEGIN IMMEDIATE");
    for (int call = 0; call < 2; ++call) // the second after the first's 2 s
        EXPECT_TRUE(setText(key, "WebCamDevice", "4") == ERROR_BUSY && waitedMs() == busyTimeoutMs);
    EXPECT_TRUE(readBytes(key, "WebCamDevice") == std::string("2\0", 2) && waitedMs() == 0);
}

// Two processes starting on a missing store at once: the second one's switch of the new file to
// its log mode meets the first one's lock, which SQLite reports at once instead of through the
// wait; it is waited for like any busy store.
TEST_F(RegistryStore, NewStoreLockedByAnotherProcessIsWaitedForLikeABusyOne)
{
    ASSERT_EQ(::mkdir((folder() + "/reg").c_str(), 0700), 0);
    Database lock = lockDatabase(dbPath(), "BEGIN IMMEDIATE");
    setWaitClock(&fakeClock);
    waitedMs();
    g_lock = &lock;
    g_releaseAfter = std::chrono::milliseconds(300);
    EXPECT_TRUE(CRegSettings().SaveSetting(Defaults, Device, QStringLiteral("5")));
    g_lock = nullptr;
    EXPECT_EQ(waitedMs(), 300);
    EXPECT_EQ(CRegSettings().GetSetting(Defaults, Device, QString()), "5");
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
    // A newer program raised the version and left its last commit in the log.
    sqlite3_db_config(lockDatabase(dbPath(), "PRAGMA user_version = 2").get(),
                      SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    const std::string before = fileBytes(dbPath()) + fileBytes(dbPath() + "-wal");
    EXPECT_EQ(CRegSettings().GetSetting(Defaults, ResourceFile), QString());
    EXPECT_FALSE(CRegSettings().SaveSetting(Defaults, ResourceFile, QStringLiteral("/x")));
    EXPECT_EQ(toolComplaint({"add", "HKCU\\Software\\New", "/f"}),
              "registry: " + dbPath()
                  + " has schema version 2, newer than this program's 1; leaving it untouched");
    EXPECT_EQ(fileBytes(dbPath()) + fileBytes(dbPath() + "-wal"), before);
}
