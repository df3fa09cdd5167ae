#include "RegistryTestSupport.h"

#include "support/CRegSettings.h"

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <set>

using namespace platform::registry;

namespace {

using RegistryStore = TempRegistry;

const QString Defaults = QStringLiteral("Defaults");
const QString Device = QStringLiteral("WebCamDevice");

// A second connection holding a lock: a writer's keeps other writers out, an exclusive one
// readers as well.
using Database = std::unique_ptr<sqlite3, int (*)(sqlite3 *)>;
Database lockDatabase(const std::string &path, const char *sql)
{
    sqlite3 *raw = nullptr;
    sqlite3_open(path.c_str(), &raw);
    Database db(raw, sqlite3_close);
    EXPECT_EQ(sqlite3_exec(raw, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    return db;
}

// A clock whose sleep only moves the time on, so a test learns exactly how long a call would
// have waited (g_slept, which the test may reset); past g_releaseAfter it drops g_lock.
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
long long waitedMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::exchange(g_slept, {}))
        .count();
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
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(std::memcmp(buffer, "ZZZZZZZZ", 8), 0);

    EXPECT_EQ(key.queryValue("Path", &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(std::memcmp(buffer, "abcdef\0Z", 8), 0);
    EXPECT_EQ(key.queryValue("Path", &type, buffer, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(key.setValue("Big", REG_SZ, buffer, maxValueDataSize + 1), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryStore, DeletingKeysRespectsSubkeysAndInvalidatesOpenHandles)
{
    RegKey parent, child;
    ASSERT_EQ(RegKey::createCurrentUser("Software\\Zedazido", parent), ERROR_SUCCESS);
    ASSERT_EQ(RegKey::createCurrentUser("Software\\Zedazido\\Defaults\\Deep", child),
              ERROR_SUCCESS);
    ASSERT_EQ(setText(child, "v", "old"), ERROR_SUCCESS);
    EXPECT_EQ(parent.deleteKey("Defaults"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(parent.deleteKey("Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(parent.deleteKey(""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(parent.deleteTree("defaults"), ERROR_SUCCESS);
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
    EXPECT_EQ(status, 0) << "the other process failed";
    EXPECT_EQ(failures, 0);
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
    EXPECT_EQ(CRegSettings().GetSetting(Defaults, Device, QStringLiteral("-1")), "-1");
    EXPECT_EQ(waitedMs(), busyTimeoutMs);
    EXPECT_FALSE(CRegSettings().SaveSetting(Defaults, Device, QStringLiteral("3")));
    EXPECT_EQ(waitedMs(), busyTimeoutMs);

    // An open that got in after 1.5 s leaves the write after it the rest of the same 2 s, and a
    // writer's lock does not hold up reading; past those 2 s a call has a wait of its own.
    g_lock = &lock;
    g_releaseAfter = std::chrono::milliseconds(1500);
    RegKey key;
    ASSERT_EQ(RegKey::openCurrentUser("Software\\Zedazido\\Defaults", key), ERROR_SUCCESS);
    g_lock = nullptr;
    const Database writer = lockDatabase(dbPath(), "BEGIN IMMEDIATE");
    EXPECT_EQ(setText(key, "WebCamDevice", "4"), ERROR_BUSY);
    EXPECT_EQ(readBytes(key, "WebCamDevice"), std::string("2\0", 2));
    EXPECT_EQ(waitedMs(), busyTimeoutMs);
    EXPECT_EQ(setText(key, "WebCamDevice", "4"), ERROR_BUSY);
    EXPECT_EQ(waitedMs(), busyTimeoutMs);
}
