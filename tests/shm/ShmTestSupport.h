#pragma once

#include "platform/core/UniqueFd.h"

#include <gtest/gtest.h>

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace shmtest {

// Gives each test a shm namespace of its own (VEDEREVE_SHM_PREFIX) and removes whatever is left
// in it afterwards, so tests neither see nor disturb each other's or a real user's objects.
class ShmNamespaceTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
    // Entries of /dev/shm in this test's namespace.
    std::vector<std::string> leftovers() const;

    std::string m_prefix;
};

// The helper binary run as a child with pipes on its standard input and output; killed if still
// running when destroyed.
class HelperProcess
{
public:
    HelperProcess() = default;
    ~HelperProcess();
    HelperProcess(const HelperProcess &) = delete;
    HelperProcess &operator=(const HelperProcess &) = delete;

    bool start(const std::vector<std::string> &arguments);
    // One line without its line end; nullopt at end of output or after timeout without output.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    std::vector<std::string> readAll(std::chrono::milliseconds timeout);
    bool writeLine(const std::string &line);
    void kill(int signal);
    // Status as from waitpid, or -1.
    int wait();

private:
    pid_t m_pid = -1;
    platform::UniqueFd m_in;
    platform::UniqueFd m_out;
    std::string m_buffer;
};

} // namespace shmtest
