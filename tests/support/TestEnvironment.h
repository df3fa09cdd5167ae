#pragma once

#include <QString>

#include <string>

// Every test binary runs in an environment of its own: main() (TestEnvironment.cpp) sets
// VEDEREVE_SHM_PREFIX and VEDEREVE_REGISTRY from the binary's name, its process id and a fresh
// folder before anything reads them, so that two runs of the suite at once never share a
// shared-memory object or a settings file, and a crashed run cannot poison the next. Processes the
// test starts (servers, helpers) inherit both. At exit the run's shared-memory objects must be
// gone: main() fails the run when any is left.
namespace testenv {

// The run's own folder (removed at exit); the settings file lives in it.
QString tempDir();

// The run's shared-memory prefix, "/vedereve-test-<binary>-<pid>-".
const std::string &shmPrefix();

// Entries of /dev/shm that carry the run's prefix.
int shmObjectCount();

// Open file descriptors of this process.
int openDescriptorCount();

// Removes the settings file, so that a test starts from a fresh profile.
void removeRegistry();

} // namespace testenv
