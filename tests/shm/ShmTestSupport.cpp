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
    const QStringList entries = QDir(QStringLiteral("/dev/shm"))
                                    .entryList({QString::fromStdString(m_prefix.substr(1)) + '*'},
                                               QDir::Files | QDir::System | QDir::Hidden);
    for (const QString &entry : entries)
        found.push_back(entry.toStdString());
    return found;
}

namespace {

std::vector<std::string> *g_warnings = nullptr;

void collect(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (g_warnings)
        g_warnings->push_back(message.toStdString());
}

} // namespace

Warnings::Warnings()
{
    g_warnings = &m_lines;
    qInstallMessageHandler(collect);
}

Warnings::~Warnings()
{
    qInstallMessageHandler(nullptr);
    g_warnings = nullptr;
}

bool Warnings::contains(const std::string &text) const
{
    return std::find(m_lines.begin(), m_lines.end(), text) != m_lines.end();
}

HelperProcess::~HelperProcess()
{
    m_process.kill();
    m_process.waitForFinished();
}

bool HelperProcess::start(const std::vector<std::string> &arguments)
{
    QStringList words;
    for (const std::string &word : arguments)
        words << QString::fromStdString(word);
    m_process.start(QStringLiteral(SHM_TEST_HELPER), words);
    return m_process.waitForStarted();
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
