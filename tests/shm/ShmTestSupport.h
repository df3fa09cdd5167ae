#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace shmtest {

using namespace std::chrono_literals;

// Gives each test a shm namespace of its own (VEDEREVE_SHM_PREFIX), emptied afterwards; the
// run's own is put back, so that the run's end never cleans the user's real namespace. Every test
// must give back each handle and view it took.
class ShmNamespaceTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
    // Entries of /dev/shm in this test's namespace.
    std::vector<std::string> leftovers() const;
    // Handles and views open in this process.
    static std::pair<std::size_t, std::size_t> openCount();

    std::string m_prefix;
    const std::pair<std::size_t, std::size_t> m_open = openCount();
};

// A second process running body, whose result is its exit code, killed when destroyed. It starts
// without the test's shared header; the two exchange lines.
class Child
{
public:
    explicit Child(const std::function<int(Child &)> &body);
    ~Child();
    bool send(const std::string &line) const;
    // One line without its line end; nullopt at end of output or after timeout without output.
    std::optional<std::string> receive(std::chrono::milliseconds timeout = 5s);
    std::vector<std::string> receiveAll(std::chrono::milliseconds timeout = 5s);
    // The exit code, or -1 when it ended by a signal.
    int wait();

private:
    pid_t m_pid = -1;
    int m_read = -1, m_write = -1;
    std::string m_buffer;
};

} // namespace shmtest
