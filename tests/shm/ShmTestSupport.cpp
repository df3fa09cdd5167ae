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
    if (DIR *dir = ::opendir("/dev/shm")) {
        while (const dirent *entry = ::readdir(dir)) {
            if (std::string_view(entry->d_name).starts_with(m_prefix.substr(1)))
                found.emplace_back(entry->d_name);
        }
        ::closedir(dir);
    }
    return found;
}

HelperProcess::~HelperProcess()
{
    kill(SIGKILL);
    wait();
}

bool HelperProcess::start(const std::vector<std::string> &arguments)
{
    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0)
        return false;
    platform::UniqueFd childIn(toChild[0]);
    m_in.reset(toChild[1]);
    if (::pipe2(fromChild, O_CLOEXEC) != 0)
        return false;
    platform::UniqueFd childOut(fromChild[1]);
    m_out.reset(fromChild[0]);

    std::vector<std::string> words = arguments;
    words.insert(words.begin(), SHM_TEST_HELPER);
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(childIn.get(), STDIN_FILENO);
        ::dup2(childOut.get(), STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return m_pid > 0;
}

std::optional<std::string> HelperProcess::readLine(std::chrono::milliseconds timeout)
{
    pollfd pfd {m_out.get(), POLLIN, 0};
    std::size_t end = 0;
    while ((end = m_buffer.find('\n')) == std::string::npos) {
        char chunk[4096];
        const ssize_t got = ::poll(&pfd, 1, int(timeout.count())) > 0
            ? ::read(m_out.get(), chunk, sizeof chunk)
            : 0;
        if (got <= 0)
            return std::nullopt;
        m_buffer.append(chunk, std::size_t(got));
    }
    std::string line = m_buffer.substr(0, end);
    m_buffer.erase(0, end + 1);
    return line;
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
    return ::write(m_in.get(), text.data(), text.size()) == ssize_t(text.size());
}

void HelperProcess::kill(int signal)
{
    if (m_pid > 0)
        ::kill(m_pid, signal);
}

int HelperProcess::wait()
{
    int status = 0;
    if (m_pid <= 0 || ::waitpid(std::exchange(m_pid, -1), &status, 0) <= 0)
        return -1;
    return status;
}

} // namespace shmtest
