#include "RegistryTestSupport.h"

#include "platform/registry/Registry.h"
#include "support/CRegSettings.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <set>

using namespace platform::registry;

namespace {

using RegistryStore = TempRegistry;

bool fileExists(const std::string &path)
{
    struct stat st
    { };
    return ::stat(path.c_str(), &st) == 0;
}

RegStatus setText(RegKey &key, std::string_view name, std::string_view text)
{
    std::string bytes(text);
    bytes.push_back('\0');
    return key.setValue(name, REG_SZ, reinterpret_cast<const std::byte *>(bytes.data()),
                        static_cast<std::uint32_t>(bytes.size()));
}

std::string readBytes(const RegKey &key, std::string_view name)
{
    std::uint32_t size = 0;
    if (key.queryValue(name, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return "<missing>";
    std::string bytes(size, '\0');
    if (key.queryValue(name, nullptr, reinterpret_cast<std::byte *>(bytes.data()), &size)
        != ERROR_SUCCESS)
        return "<failed>";
    bytes.resize(size);
    return bytes;
}

std::vector<std::string> subKeys(const RegKey &key)
{
    std::vector<std::string> names;
    std::string name;
    for (std::uint32_t i = 0; key.enumKey(i, name) == ERROR_SUCCESS; ++i)
        names.push_back(name);
    return names;
}

std::vector<std::string> valueNames(const RegKey &key)
{
    std::vector<std::string> names;
    std::string name;
    for (std::uint32_t i = 0; key.enumValue(i, name, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i)
        names.push_back(name);
    return names;
}

} // namespace

TEST_F(RegistryStore, OpeningAMissingKeyCreatesNoFileAndNoKey)
{
    RegKey key;
    EXPECT_EQ(RegKey::openCurrentUser("Software\\Zedazido\\Defaults", key), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(key.isOpen());
    EXPECT_FALSE(fileExists(dbPath()));

    ASSERT_EQ(RegKey::createCurrentUser("Software\\Other", key), ERROR_SUCCESS);
    EXPECT_EQ(RegKey::openCurrentUser("Software\\Zedazido\\Defaults", key), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegKey::openCurrentUser("Software", key), ERROR_SUCCESS);
    EXPECT_EQ(subKeys(key), std::vector<std::string> {"Other"});
}

TEST_F(RegistryStore, DatabaseIsPrivateToTheUser)
{
    RegKey key;
    ASSERT_EQ(RegKey::createCurrentUser("Software", key), ERROR_SUCCESS);
    struct stat st
    { };
    ASSERT_EQ(::stat(dbPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((folder() + "/reg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(RegistryStore, KeyNamesIgnoreCaseButKeepTheCaseTheyWereCreatedWith)
{
    RegKey key;
    bool created = false;
    ASSERT_EQ(RegKey::createCurrentUser("Software\\Zedazido\\Défauts", key, &created),
              ERROR_SUCCESS);
    EXPECT_TRUE(created);
    ASSERT_EQ(RegKey::createCurrentUser("SOFTWARE\\zedazido\\DÉFAUTS", key, &created),
              ERROR_SUCCESS);
    EXPECT_FALSE(created);
    ASSERT_EQ(setText(key, "WebCamPic1", "a"), ERROR_SUCCESS);
    ASSERT_EQ(setText(key, "WEBCAMPIC1", "b"), ERROR_SUCCESS);
    EXPECT_EQ(readBytes(key, "webcampic1"), std::string("b\0", 2));
    EXPECT_EQ(valueNames(key), std::vector<std::string> {"WebCamPic1"});

    ASSERT_EQ(RegKey::openCurrentUser("software", key), ERROR_SUCCESS);
    EXPECT_EQ(subKeys(key), std::vector<std::string> {"Zedazido"});
}

TEST_F(RegistryStore, MalformedPathsAreRefusedBeforeTouchingTheDisk)
{
    const struct
    {
        std::string path;
        RegStatus expected;
    } cases[] = {
        {"\\Software", ERROR_BAD_PATHNAME},
        {"Software\\\\Zedazido", ERROR_BAD_PATHNAME},
        {std::string(maxKeyNameLength + 1, 'k'), ERROR_INVALID_PARAMETER},
    };
    for (const auto &c : cases) {
        RegKey key;
        EXPECT_EQ(RegKey::createCurrentUser(c.path, key), c.expected) << c.path;
    }
    EXPECT_FALSE(fileExists(dbPath()));

    // A trailing separator names the same key; a name at the limit is fine.
    RegKey key;
    EXPECT_EQ(RegKey::createCurrentUser("Software\\", key), ERROR_SUCCESS);
    EXPECT_EQ(RegKey::createCurrentUser(std::string(maxKeyNameLength, 'k'), key), ERROR_SUCCESS);
    ASSERT_EQ(RegKey::openCurrentUser("", key), ERROR_SUCCESS);
    EXPECT_EQ(subKeys(key).size(), 2u);
}

TEST_F(RegistryStore, QueryValueNeverWritesPastTheCallersBuffer)
{
    RegKey key;
    ASSERT_EQ(RegKey::createCurrentUser("Software", key), ERROR_SUCCESS);
    ASSERT_EQ(setText(key, "Path", "abcdef"), ERROR_SUCCESS);

    std::uint32_t type = REG_NONE;
    std::uint32_t size = 0;
    ASSERT_EQ(key.queryValue("Path", &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 7u);

    std::byte buffer[8];
    std::memset(buffer, 0x5a, sizeof buffer);
    size = 6;
    EXPECT_EQ(key.queryValue("Path", &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 7u);
    for (std::byte b : buffer)
        EXPECT_EQ(b, std::byte {0x5a});

    size = 7;
    EXPECT_EQ(key.queryValue("Path", &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::memcmp(buffer, "abcdef", 7), 0);
    EXPECT_EQ(buffer[7], std::byte {0x5a});

    EXPECT_EQ(key.queryValue("Path", &type, buffer, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(key.queryValue("Missing", &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key.setValue("Big", REG_SZ, buffer, maxValueDataSize + 1), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryStore, DefaultValueIsSeparateFromNamedValuesAndEmptyDataIsKept)
{
    RegKey key;
    ASSERT_EQ(RegKey::createCurrentUser("Software", key), ERROR_SUCCESS);
    ASSERT_EQ(setText(key, "", "default"), ERROR_SUCCESS);
    ASSERT_EQ(key.setValue("Empty", REG_NONE, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(readBytes(key, ""), std::string("default\0", 8));
    EXPECT_EQ(readBytes(key, "Empty"), "");
    EXPECT_EQ(key.deleteValue(""), ERROR_SUCCESS);
    EXPECT_EQ(readBytes(key, ""), "<missing>");
    EXPECT_EQ(key.deleteValue(""), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(readBytes(key, "Empty"), "");
}

TEST_F(RegistryStore, OverwritingAValueKeepsItsPlaceInEnumeration)
{
    RegKey key;
    ASSERT_EQ(RegKey::createCurrentUser("Software", key), ERROR_SUCCESS);
    for (const char *name : {"a", "b", "c"})
        ASSERT_EQ(setText(key, name, name), ERROR_SUCCESS);
    ASSERT_EQ(setText(key, "a", "longer text"), ERROR_SUCCESS);
    EXPECT_EQ(valueNames(key), (std::vector<std::string> {"a", "b", "c"}));

    RegKeyInfo info;
    ASSERT_EQ(key.queryInfo(info), ERROR_SUCCESS);
    EXPECT_EQ(info.values, 3u);
    EXPECT_EQ(info.maxValueNameLen, 1u);
    EXPECT_EQ(info.maxValueLen, 12u);
    EXPECT_EQ(info.subKeys, 0u);

    std::string name;
    EXPECT_EQ(key.enumValue(3, name, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryStore, DeletingKeysRespectsSubkeysAndInvalidatesOpenHandles)
{
    RegKey parent;
    RegKey child;
    ASSERT_EQ(RegKey::createCurrentUser("Software\\Zedazido", parent), ERROR_SUCCESS);
    ASSERT_EQ(RegKey::createCurrentUser("Software\\Zedazido\\Defaults\\Deep", child),
              ERROR_SUCCESS);
    ASSERT_EQ(setText(child, "v", "old"), ERROR_SUCCESS);

    EXPECT_EQ(parent.deleteKey("Defaults"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(parent.deleteKey("Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(parent.deleteKey(""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(parent.deleteTree("defaults"), ERROR_SUCCESS);
    EXPECT_TRUE(subKeys(parent).empty());

    // A new key of the same name is a different key: the old handle must not reach it, and the
    // old values must not come back.
    RegKey again;
    ASSERT_EQ(RegKey::createCurrentUser("Software\\Zedazido\\Defaults\\Deep", again),
              ERROR_SUCCESS);
    EXPECT_EQ(readBytes(again, "v"), "<missing>");
    EXPECT_EQ(setText(child, "v", "new"), ERROR_KEY_DELETED);
    EXPECT_EQ(readBytes(again, "v"), "<missing>");

    // With no subkey, deleteTree empties the key but keeps it.
    ASSERT_EQ(setText(parent, "kept?", "no"), ERROR_SUCCESS);
    EXPECT_EQ(parent.deleteTree(""), ERROR_SUCCESS);
    EXPECT_TRUE(subKeys(parent).empty());
    EXPECT_TRUE(valueNames(parent).empty());
    EXPECT_EQ(RegKey::openCurrentUser("Software\\Zedazido", again), ERROR_SUCCESS);

    RegKey closed;
    EXPECT_EQ(closed.deleteValue("x"), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryStore, EachReadSeesWritesMadeThroughOtherConnections)
{
    RegKey reader;
    RegKey writer;
    ASSERT_EQ(RegKey::createCurrentUser("Software", reader), ERROR_SUCCESS);
    ASSERT_EQ(RegKey::openCurrentUser("Software", writer), ERROR_SUCCESS);
    EXPECT_EQ(readBytes(reader, "v"), "<missing>");
    ASSERT_EQ(setText(writer, "v", "1"), ERROR_SUCCESS);
    EXPECT_EQ(readBytes(reader, "v"), std::string("1\0", 2));
    ASSERT_EQ(setText(writer, "v", "22"), ERROR_SUCCESS);
    EXPECT_EQ(readBytes(reader, "v"), std::string("22\0", 3));
}

TEST_F(RegistryStore, TwoProcessesWritingAtOnceLoseNothing)
{
    constexpr int perProcess = 500;
    int go[2];
    ASSERT_EQ(::pipe(go), 0);

    // Both start on a missing database, so creating it races as well.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    const char *tag = child == 0 ? "child" : "parent";
    if (child == 0) {
        ::close(go[1]);
        char byte = 0;
        if (::read(go[0], &byte, 1) != 1)
            ::_exit(2);
    } else {
        ::close(go[0]);
        const auto written = ::write(go[1], "g", 1);
        ::close(go[1]);
        ASSERT_EQ(written, 1);
    }
    int failures = 0;
    for (int i = 0; i < perProcess; ++i) {
        CRegSettings settings;
        const QString name = QStringLiteral("%1-%2").arg(QLatin1String(tag)).arg(i);
        if (!settings.SaveSetting(QStringLiteral("Defaults"), name, QString::number(i)))
            ++failures;
    }
    if (child == 0)
        ::_exit(failures == 0 ? 0 : 1);

    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the other process failed some writes";
    EXPECT_EQ(failures, 0);

    const auto all = CRegSettings().GetAllSettings(QStringLiteral("Defaults"));
    std::set<QString> names;
    for (const auto &[name, text] : all) {
        names.insert(name);
        EXPECT_EQ(text, name.section(QLatin1Char('-'), 1));
    }
    EXPECT_EQ(names.size(), 2u * perProcess);
}

TEST_F(RegistryStore, WriteToALockedDatabaseFailsAfterABoundedWait)
{
    RegKey key;
    ASSERT_EQ(RegKey::createCurrentUser("Software", key), ERROR_SUCCESS);
    ASSERT_EQ(setText(key, "v", "before"), ERROR_SUCCESS);

    sqlite3 *raw = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath().c_str(), &raw), SQLITE_OK);
    std::unique_ptr<sqlite3, int (*)(sqlite3 *)> other(raw, sqlite3_close);
    ASSERT_EQ(sqlite3_exec(other.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(setText(key, "v", "during"), ERROR_BUSY);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(busyTimeoutMs / 2));
    EXPECT_LT(waited, std::chrono::milliseconds(busyTimeoutMs * 4));

    // Readers are not held up by a writer, and the failed write left nothing behind.
    EXPECT_EQ(readBytes(key, "v"), std::string("before\0", 7));

    ASSERT_EQ(sqlite3_exec(other.get(), "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(setText(key, "v", "after"), ERROR_SUCCESS);
    EXPECT_EQ(readBytes(key, "v"), std::string("after\0", 6));
}
