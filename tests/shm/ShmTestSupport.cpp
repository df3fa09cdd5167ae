#include "ShmTestSupport.h"

#include "platform/shm/ShmName.h"

#include <QDir>

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

namespace shmtest {

void ShmNamespaceTest::SetUp()
{
    static std::atomic<int> serial {0};
    m_prefix
        = "/vedereve-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial) + "-";
    ::setenv(platform::shm::kPrefixVariable, m_prefix.c_str(), 1);
}

void ShmNamespaceTest::TearDown()
{
    for (const std::string &entry : leftovers())
        ::shm_unlink(("/" + entry).c_str());
    ::unsetenv(platform::shm::kPrefixVariable);
}

std::vector<std::string> ShmNamespaceTest::leftovers() const
{
    std::vector<std::string> found;
    for (const QString &entry : QDir(QStringLiteral("/dev/shm"))
                                    .entryList({QString::fromStdString(m_prefix.substr(1)) + '*'},
                                               QDir::Files | QDir::System | QDir::Hidden))
        found.push_back(entry.toStdString());
    return found;
}

namespace {
std::vector<std::string> g_warnings;
} // namespace

Warnings::Warnings()
{
    g_warnings.clear();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &message) {
        g_warnings.push_back(message.toStdString());
    });
}

Warnings::~Warnings()
{
    qInstallMessageHandler(nullptr);
}

bool Warnings::contains(const std::string &text) const
{
    return std::find(g_warnings.begin(), g_warnings.end(), text) != g_warnings.end();
}

HelperProcess::HelperProcess(const QStringList &arguments)
{
    m_process.start(QStringLiteral(SHM_TEST_HELPER), arguments);
    EXPECT_TRUE(m_process.waitForStarted());
}

HelperProcess::~HelperProcess()
{
    m_process.kill();
    m_process.waitForFinished();
}

std::optional<std::string> HelperProcess::readLine(std::chrono::milliseconds timeout)
{
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(int(timeout.count())))
            return std::nullopt;
    }
    return m_process.readLine().chopped(1).toStdString();
}

std::vector<std::string> HelperProcess::readAll(std::chrono::milliseconds timeout)
{
    std::vector<std::string> lines;
    while (auto line = readLine(timeout))
        lines.push_back(*line);
    return lines;
}

bool HelperProcess::writeLine(const std::string &line)
{
    const QByteArray text = QByteArray::fromStdString(line + "\n");
    return m_process.write(text) == text.size() && m_process.waitForBytesWritten();
}

void HelperProcess::kill(int signal)
{
    if (m_process.processId() > 0)
        ::kill(pid_t(m_process.processId()), signal);
}

int HelperProcess::wait()
{
    if (!m_process.waitForFinished() && m_process.state() != QProcess::NotRunning)
        return -2;
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

} // namespace shmtest
