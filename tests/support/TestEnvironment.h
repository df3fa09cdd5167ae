#pragma once

#include <QString>

#include <string>

// Each test binary's main() gives the run its own shared-memory prefix and settings file (inherited
// by the processes it starts), and fails the run when shared-memory objects are left.
namespace testenv {

QString tempDir(); // the run's folder, removed at exit
const std::string &shmPrefix(); // "/vedereve-test-<binary>-<pid>-"
int shmObjectCount(); // of the run's prefix in /dev/shm
int openDescriptorCount();
void removeRegistry(); // a fresh profile

} // namespace testenv
