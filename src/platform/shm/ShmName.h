#pragma once

#include <string>
#include <string_view>

namespace platform::shm {

// Replaces the per-user prefix so that tests can run side by side without sharing objects.
inline constexpr const char *kPrefixVariable = "VEDEREVE_SHM_PREFIX";

// "/vedereve-<effective uid>-": POSIX names are machine-wide, the system's names were meant to be
// per session, so each user gets a namespace of their own.
std::string defaultPrefix();

// The prefix in force: the variable's value when it is set, otherwise defaultPrefix().
std::string currentPrefix();

// A POSIX shared-memory name for prefix + name: exactly one leading '/', any other '/' becomes
// '_' and NUL bytes are dropped, so a hostile prefix or name never leaves the shm namespace.
std::string objectName(std::string_view prefix, std::string_view name);

// objectName(currentPrefix(), name).
std::string objectName(std::string_view name);

} // namespace platform::shm
