#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/shm/HandleTable.h"

namespace testenv {

namespace {
std::unique_ptr<QTemporaryDir> g_dir;
std::string g_prefix;
// A test binary started by a test of the same run (a parent process, a helper) joins that run's
// environment instead of making its own; the run that made it cleans up.
bool g_joined = false;
} // namespace

QString tempDir()
{
    return g_dir->path();
}

const std::string &shmPrefix()
{
    return g_prefix;
}

int shmObjectCount()
{
    return int(QDir(QStringLiteral("/dev/shm"))
                   .entryList({QString::fromStdString(g_prefix.substr(1)) + u'*'},
                              QDir::Files | QDir::System | QDir::Hidden)
                   .size());
}

int openDescriptorCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System | QDir::Files).size());
}

void removeRegistry()
{
    const QString path = QString::fromLocal8Bit(qgetenv("VEDEREVE_REGISTRY"));
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1StringView(suffix));
}

// Before Qt or any of our code reads the environment.
void setUp(const char *argv0)
{
    const char *run = std::getenv("VEDEREVE_TEST_RUN");
    g_joined = run && *run;
    const std::string name = QFileInfo(QString::fromLocal8Bit(argv0)).fileName().toStdString();
    g_dir = g_joined
        ? std::make_unique<QTemporaryDir>()
        : std::make_unique<QTemporaryDir>(
            QDir::tempPath() + QStringLiteral("/vedereve-%1-XXXXXX").arg(name.c_str()));
    g_prefix = g_joined ? run : "/vedereve-test-" + name + "-" + std::to_string(::getpid()) + "-";
    if (g_joined)
        return;
    ::setenv("VEDEREVE_SHM_PREFIX", g_prefix.c_str(), 1);
    ::setenv("VEDEREVE_TEST_RUN", g_prefix.c_str(), 1);
    ::setenv("VEDEREVE_REGISTRY", qPrintable(g_dir->filePath(QStringLiteral("registry.sqlite"))),
             1);
    ::setenv("XDG_CONFIG_HOME", qPrintable(g_dir->filePath(QStringLiteral("config"))), 1);
}

} // namespace testenv

int main(int argc, char **argv)
{
    testenv::setUp(argv[0]);
    // Window tests ask for xcb; without a display they fall back to offscreen and skip.
    if (qgetenv("QT_QPA_PLATFORM") == "xcb" && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    if (testenv::g_joined)
        return result;
    // The counter block and its mutex outlive their users by design; a test run's must not.
    platform::shm::removeObject("dirUzevevav");
    platform::shm::removeObject("ridEvadezaz");
    if (const int left = testenv::shmObjectCount(); left > 0) {
        std::fprintf(stderr, "%d shared-memory objects of this run were left in /dev/shm\n", left);
        result = 1;
    }
    return result;
}
