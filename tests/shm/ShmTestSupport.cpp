#include "ShmTestSupport.h"

#include "exchange/modImageMemMapFunctions.h"
#include "platform/shm/HandleTable.h"
#include "platform/shm/ShmName.h"
#include "support/TestEnvironment.h"

#include <QDir>

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

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
    EXPECT_EQ(openCount(), m_open) << "handle or view leaked";
    for (const std::string &entry : leftovers())
        ::shm_unlink(("/" + entry).c_str());
    ::setenv(platform::shm::kPrefixVariable, testenv::shmPrefix().c_str(), 1);
}

std::pair<std::size_t, std::size_t> ShmNamespaceTest::openCount()
{
    return {platform::shm::openHandleCount(), platform::shm::openViewCount()};
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

Child::Child(const std::function<int(Child &)> &body)
{
    ::signal(SIGPIPE, SIG_IGN); // a child that ended early fails a send, not the test
    int up[2], down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0)
        return;
    m_pid = ::fork();
    const bool child = m_pid == 0;
    m_read = child ? down[0] : up[0];
    m_write = child ? up[1] : down[1];
    ::close(child ? down[1] : up[1]);
    ::close(child ? up[0] : down[0]);
    if (child) {
        modImageMemMapFunctions::CloseSharedHeader();
        ::_exit(body(*this));
    }
}

Child::~Child()
{
    if (m_pid > 0)
        ::kill(m_pid, SIGKILL);
    wait();
    ::close(m_read);
    ::close(m_write);
}

bool Child::send(const std::string &line) const
{
    const std::string text = line + '\n';
    return ::write(m_write, text.data(), text.size()) == ssize_t(text.size());
}

std::optional<std::string> Child::receive(std::chrono::milliseconds timeout)
{
    std::size_t end;
    while ((end = m_buffer.find('\n')) == std::string::npos) {
        pollfd ready {m_read, POLLIN, 0};
        char chunk[65536];
        const ssize_t got = ::poll(&ready, 1, int(timeout.count())) == 1
            ? ::read(m_read, chunk, sizeof chunk)
            : 0;
        if (got <= 0)
            return std::nullopt;
        m_buffer.append(chunk, std::size_t(got));
    }
    std::string line = m_buffer.substr(0, end);
    m_buffer.erase(0, end + 1);
    return line;
}

std::vector<std::string> Child::receiveAll(std::chrono::milliseconds timeout)
{
    std::vector<std::string> lines;
    while (auto line = receive(timeout))
        lines.push_back(*line);
    return lines;
}

int Child::wait()
{
    int status = 0;
    if (m_pid <= 0 || ::waitpid(std::exchange(m_pid, -1), &status, 0) <= 0)
        return -2;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace shmtest
