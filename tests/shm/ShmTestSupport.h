#pragma once

#include <gtest/gtest.h>

#include <QProcess>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace shmtest {

using namespace std::chrono_literals;

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

// The diagnostics written while it lives, for the refusals that only they tell apart.
class Warnings
{
public:
    Warnings();
    ~Warnings();
    bool contains(const std::string &text) const;
};

// The helper binary (ShmTestHelper.cpp) run as a child in the test's namespace; killed if still
// running when destroyed.
class HelperProcess
{
public:
    explicit HelperProcess(const QStringList &arguments);
    ~HelperProcess();
    // One line without its line end; nullopt at end of output or after timeout without output.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout = 5s);
    std::vector<std::string> readAll(std::chrono::milliseconds timeout = 5s);
    bool writeLine(const std::string &line);
    void kill(int signal);
    // The exit code, or -1 when it ended by a signal.
    int wait();

private:
    QProcess m_process;
};

} // namespace shmtest
