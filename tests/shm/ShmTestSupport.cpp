#include "ShmTestSupport.h"

#include "platform/shm/ShmName.h"

#include <dirent.h>
#include <fcntl.h>
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
    for (const std::string &entry : leftovers())
        ::shm_unlink(("/" + entry).c_str());
    ::unsetenv(platform::shm::kPrefixVariable);
}

std::vector<std::string> ShmNamespaceTest::leftovers() const
{
    std::vector<std::string> found;
    const std::string stem = m_prefix.substr(1);
    if (DIR *dir = ::opendir("/dev/shm")) {
        while (const dirent *entry = ::readdir(dir)) {
            if (std::string_view(entry->d_name).starts_with(stem))
                found.emplace_back(entry->d_name);
        }
        ::closedir(dir);
    }
    return found;
}

HelperProcess::~HelperProcess()
{
    if (m_pid > 0) {
        kill(SIGKILL);
        wait();
    }
    if (m_in >= 0)
        ::close(m_in);
    if (m_out >= 0)
        ::close(m_out);
}

bool HelperProcess::start(const std::vector<std::string> &arguments)
{
    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        return false;
    }
    std::vector<char *> argv;
    std::string program = SHM_TEST_HELPER;
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (std::string &argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(toChild[0], STDIN_FILENO);
        ::dup2(fromChild[1], STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    m_in = toChild[1];
    m_out = fromChild[0];
    return m_pid > 0;
}

std::optional<std::string> HelperProcess::readLine(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto end = m_buffer.find('\n');
        if (end != std::string::npos) {
            std::string line = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd pfd {m_out, POLLIN, 0};
        if (::poll(&pfd, 1, int(left.count())) <= 0)
            return std::nullopt;
        char chunk[4096];
        const ssize_t got = ::read(m_out, chunk, sizeof chunk);
        if (got <= 0)
            return std::nullopt;
        m_buffer.append(chunk, std::size_t(got));
    }
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
    const std::string text = line + "\n";
    return ::write(m_in, text.data(), text.size()) == ssize_t(text.size());
}

void HelperProcess::kill(int signal)
{
    if (m_pid > 0)
        ::kill(m_pid, signal);
}

int HelperProcess::wait()
{
    if (m_pid <= 0)
        return -1;
    int status = 0;
    const pid_t done = ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return done > 0 ? status : -1;
}

} // namespace shmtest
