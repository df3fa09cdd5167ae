#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The command line of vedereve-reg, a small tool to look at and change the current user's
// registry:
//   vedereve-reg query  <key> [/v <name> | /ve]
//   vedereve-reg add    <key> [/v <name> | /ve] [/t REG_SZ|REG_DWORD] [/d <data>] [/f]
//   vedereve-reg delete <key> [/v <name> | /ve] [/f]
// Keys are written "HKCU\Software\..." or "HKEY_CURRENT_USER\Software\...". Switches may start
// with "/" or "-" and are not case-sensitive.
namespace regtool {

enum class Operation { Query, Add, Delete };

struct Command
{
    Operation operation = Operation::Query;
    std::string subKey; // below HKEY_CURRENT_USER, without a trailing separator
    std::optional<std::string> valueName; // "" for /ve
    std::uint32_t type = 1; // REG_SZ
    std::optional<std::string> data;
    bool force = false;
};

// Parses the arguments after the program name. On failure returns nothing and sets error to
// the message to print.
std::optional<Command> parseCommand(const std::vector<std::string> &args, std::string &error);

// "HKCU\a\b" -> "a\b"; nothing when the root is not the current user's.
std::optional<std::string> subKeyOf(std::string_view key);

// A REG_DWORD as written after /d: decimal, or hexadecimal with 0x, at most 0xFFFFFFFF.
std::optional<std::uint32_t> parseDword(std::string_view text);

// The data column of a value as the tool shows it.
std::string formatData(std::uint32_t type, std::string_view bytes);
std::string typeName(std::uint32_t type);

// Runs the whole tool; returns the exit code (0 success, 1 failure, 2 a command line it cannot
// read). --help and --version answer on out. Questions (overwrite, delete without /f) are read
// from in.
int run(const std::vector<std::string> &args, std::istream &in, std::ostream &out,
        std::ostream &err);

} // namespace regtool
