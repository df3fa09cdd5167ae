#include "RegTool.h"

#include "VEDerEveVersion.h"
#include "platform/registry/Registry.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <istream>
#include <ostream>

using namespace platform::registry;

namespace regtool {

namespace {

constexpr std::string_view rootName = "HKEY_CURRENT_USER";
constexpr std::string_view notFound
    = "ERROR: The system was unable to find the specified registry key or value.";
constexpr std::string_view completed = "The operation completed successfully.";
constexpr std::string_view cancelled = "The operation was cancelled.";

constexpr std::uint32_t REG_EXPAND_SZ = 2;
constexpr std::uint32_t REG_BINARY = 3;
constexpr std::uint32_t REG_MULTI_SZ = 7;
constexpr std::uint32_t REG_QWORD = 11;

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x))
                   == std::tolower(static_cast<unsigned char>(y));
           });
}

// "/v" or "-v" -> "v"; nothing when the argument is not a switch.
std::optional<std::string_view> switchName(std::string_view arg)
{
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-'))
        return std::nullopt;
    return arg.substr(1);
}

std::string fullKeyName(const std::string &subKey)
{
    return subKey.empty() ? std::string(rootName) : std::string(rootName) + "\\" + subKey;
}

std::string valueLabel(const std::string &name)
{
    return name.empty() ? std::string("(Default)") : name;
}

std::string statusText(RegStatus status)
{
    switch (status) {
    case ERROR_FILE_NOT_FOUND:
        return std::string(notFound);
    case ERROR_ACCESS_DENIED:
        return "ERROR: Access is denied.";
    case ERROR_BUSY:
        return "ERROR: The registry is in use by another program; try again.";
    case ERROR_BADDB:
        return "ERROR: The registry database is damaged or belongs to a newer program.";
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_PARAMETER:
        return "ERROR: Invalid key name.";
    default:
        return "ERROR: The registry call failed with status " + std::to_string(status) + ".";
    }
}

bool confirm(std::istream &in, std::ostream &out, const std::string &question)
{
    out << question << " (Yes/No)? " << std::flush;
    std::string answer;
    if (!std::getline(in, answer))
        return false;
    return equalsNoCase(answer, "y") || equalsNoCase(answer, "yes");
}

void printValue(std::ostream &out, const std::string &name, std::uint32_t type,
                std::string_view bytes)
{
    out << "    " << valueLabel(name) << "    " << typeName(type) << "    "
        << formatData(type, bytes) << '\n';
}

RegStatus readValue(const RegKey &key, const std::string &name, std::uint32_t &type,
                    std::string &bytes)
{
    std::uint32_t size = 0;
    RegStatus status = key.queryValue(name, &type, nullptr, &size);
    if (status != ERROR_SUCCESS)
        return status;
    bytes.assign(std::max<std::uint32_t>(size, 1), '\0');
    status = key.queryValue(name, &type, reinterpret_cast<std::byte *>(bytes.data()), &size);
    bytes.resize(status == ERROR_SUCCESS ? size : 0);
    return status;
}

int query(const Command &cmd, std::ostream &out, std::ostream &err)
{
    RegKey key;
    if (RegStatus status = RegKey::openCurrentUser(cmd.subKey, key); status != ERROR_SUCCESS) {
        err << statusText(status) << '\n';
        return 1;
    }
    const std::string keyName = fullKeyName(cmd.subKey);
    if (cmd.valueName) {
        std::uint32_t type = REG_NONE;
        std::string bytes;
        if (RegStatus status = readValue(key, *cmd.valueName, type, bytes);
            status != ERROR_SUCCESS) {
            err << statusText(status) << '\n';
            return 1;
        }
        out << '\n' << keyName << '\n';
        printValue(out, *cmd.valueName, type, bytes);
        out << '\n';
        return 0;
    }

    out << '\n' << keyName << '\n';
    std::string name;
    std::string bytes;
    for (std::uint32_t index = 0;; ++index) {
        std::uint32_t type = REG_NONE;
        std::uint32_t size = 0;
        if (key.enumValue(index, name, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        // Read by name: the value may have changed size since it was listed.
        if (readValue(key, name, type, bytes) == ERROR_SUCCESS)
            printValue(out, name, type, bytes);
    }
    out << '\n';
    for (std::uint32_t index = 0; key.enumKey(index, name) == ERROR_SUCCESS; ++index)
        out << keyName << '\\' << name << '\n';
    return 0;
}

int add(const Command &cmd, std::istream &in, std::ostream &out, std::ostream &err)
{
    std::string bytes;
    if (cmd.valueName) {
        if (cmd.type == REG_DWORD) {
            const auto number = parseDword(cmd.data.value_or("0"));
            if (!number) {
                err << "ERROR: Invalid REG_DWORD data: a number from 0 to 0xFFFFFFFF is needed.\n";
                return 1;
            }
            bytes.resize(4);
            std::memcpy(bytes.data(), &*number, 4);
        } else {
            // Text is stored with its terminating zero, counted in the size.
            bytes = cmd.data.value_or(std::string());
            bytes.push_back('\0');
        }
    }

    RegKey key;
    if (RegStatus status = RegKey::createCurrentUser(cmd.subKey, key); status != ERROR_SUCCESS) {
        err << statusText(status) << '\n';
        return 1;
    }
    if (cmd.valueName) {
        std::uint32_t size = 0;
        const bool exists
            = key.queryValue(*cmd.valueName, nullptr, nullptr, &size) == ERROR_SUCCESS;
        if (exists && !cmd.force
            && !confirm(in, out, "Value " + valueLabel(*cmd.valueName) + " exists, overwrite")) {
            out << cancelled << '\n';
            return 1;
        }
        if (RegStatus status = key.setValue(*cmd.valueName, cmd.type,
                                            reinterpret_cast<const std::byte *>(bytes.data()),
                                            static_cast<std::uint32_t>(bytes.size()));
            status != ERROR_SUCCESS) {
            err << statusText(status) << '\n';
            return 1;
        }
    }
    out << completed << '\n';
    return 0;
}

int remove(const Command &cmd, std::istream &in, std::ostream &out, std::ostream &err)
{
    if (!cmd.valueName && cmd.subKey.empty()) {
        err << "ERROR: The root key cannot be deleted.\n";
        return 1;
    }
    RegKey key;
    if (RegStatus status = RegKey::openCurrentUser(cmd.valueName ? cmd.subKey : std::string(), key);
        status != ERROR_SUCCESS) {
        err << statusText(status) << '\n';
        return 1;
    }
    // Ask only about something that is there.
    RegKey target;
    std::uint32_t size = 0;
    const RegStatus found = cmd.valueName ? key.queryValue(*cmd.valueName, nullptr, nullptr, &size)
                                          : RegKey::openCurrentUser(cmd.subKey, target);
    target.close();
    if (found != ERROR_SUCCESS) {
        err << statusText(found) << '\n';
        return 1;
    }
    const std::string question = cmd.valueName
        ? "Delete the registry value " + valueLabel(*cmd.valueName)
        : "Permanently delete the registry key " + fullKeyName(cmd.subKey);
    if (!cmd.force && !confirm(in, out, question)) {
        out << cancelled << '\n';
        return 1;
    }
    const RegStatus status
        = cmd.valueName ? key.deleteValue(*cmd.valueName) : key.deleteTree(cmd.subKey);
    if (status != ERROR_SUCCESS) {
        err << statusText(status) << '\n';
        return 1;
    }
    out << completed << '\n';
    return 0;
}

} // namespace

std::optional<std::string> subKeyOf(std::string_view key)
{
    const std::size_t slash = key.find('\\');
    const std::string_view root = key.substr(0, slash);
    if (!equalsNoCase(root, "HKCU") && !equalsNoCase(root, rootName))
        return std::nullopt;
    if (slash == std::string_view::npos)
        return std::string();
    std::string_view rest = key.substr(slash + 1);
    if (!rest.empty() && rest.back() == '\\')
        rest.remove_suffix(1);
    return std::string(rest);
}

std::optional<std::uint32_t> parseDword(std::string_view text)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return std::nullopt;
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string typeName(std::uint32_t type)
{
    switch (type) {
    case REG_NONE:
        return "REG_NONE";
    case REG_SZ:
        return "REG_SZ";
    case REG_EXPAND_SZ:
        return "REG_EXPAND_SZ";
    case REG_BINARY:
        return "REG_BINARY";
    case REG_DWORD:
        return "REG_DWORD";
    case REG_MULTI_SZ:
        return "REG_MULTI_SZ";
    case REG_QWORD:
        return "REG_QWORD";
    default:
        return "0x" + [type] {
            char buffer[16];
            const auto result = std::to_chars(buffer, buffer + sizeof buffer, type, 16);
            return std::string(buffer, result.ptr);
        }();
    }
}

std::string formatData(std::uint32_t type, std::string_view bytes)
{
    if (type == REG_SZ || type == REG_EXPAND_SZ)
        return std::string(bytes.substr(0, bytes.find('\0')));
    if (type == REG_DWORD && bytes.size() == 4) {
        std::uint32_t value = 0;
        std::memcpy(&value, bytes.data(), 4);
        char buffer[16] = "0x";
        const auto result = std::to_chars(buffer + 2, buffer + sizeof buffer, value, 16);
        return std::string(buffer, result.ptr);
    }
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex.push_back(digits[byte >> 4]);
        hex.push_back(digits[byte & 0xf]);
    }
    return hex;
}

std::optional<Command> parseCommand(const std::vector<std::string> &args, std::string &error)
{
    error = "ERROR: Invalid syntax.";
    if (args.size() < 2)
        return std::nullopt;
    Command cmd;
    if (equalsNoCase(args[0], "query"))
        cmd.operation = Operation::Query;
    else if (equalsNoCase(args[0], "add"))
        cmd.operation = Operation::Add;
    else if (equalsNoCase(args[0], "delete"))
        cmd.operation = Operation::Delete;
    else
        return std::nullopt;

    const auto subKey = subKeyOf(args[1]);
    if (!subKey) {
        error = "ERROR: Invalid key name: only HKCU (HKEY_CURRENT_USER) keys are kept.";
        return std::nullopt;
    }
    cmd.subKey = *subKey;

    bool typeGiven = false;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const auto name = switchName(args[i]);
        if (!name)
            return std::nullopt;
        const bool hasArgument = i + 1 < args.size();
        if (equalsNoCase(*name, "v") && hasArgument && !cmd.valueName) {
            cmd.valueName = args[++i];
        } else if (equalsNoCase(*name, "ve") && !cmd.valueName) {
            cmd.valueName = std::string();
        } else if (equalsNoCase(*name, "f") && cmd.operation != Operation::Query && !cmd.force) {
            cmd.force = true;
        } else if (equalsNoCase(*name, "t") && hasArgument && cmd.operation == Operation::Add
                   && !typeGiven) {
            typeGiven = true;
            const std::string &type = args[++i];
            if (equalsNoCase(type, "REG_SZ")) {
                cmd.type = REG_SZ;
            } else if (equalsNoCase(type, "REG_DWORD")) {
                cmd.type = REG_DWORD;
            } else {
                error = "ERROR: Invalid type: REG_SZ or REG_DWORD.";
                return std::nullopt;
            }
        } else if (equalsNoCase(*name, "d") && hasArgument && cmd.operation == Operation::Add
                   && !cmd.data) {
            cmd.data = args[++i];
        } else {
            return std::nullopt;
        }
    }
    // A type or data without a value to hold it is a mistake, not something to ignore.
    if ((typeGiven || cmd.data) && !cmd.valueName)
        return std::nullopt;
    return cmd;
}

int run(const std::vector<std::string> &args, std::istream &in, std::ostream &out,
        std::ostream &err)
{
    constexpr std::string_view usage
        = "Usage: vedereve-reg query <key> [/v <name> | /ve]\n"
          "       vedereve-reg add <key> [/v <name> | /ve] [/t REG_SZ|REG_DWORD] [/d <data>] [/f]\n"
          "       vedereve-reg delete <key> [/v <name> | /ve] [/f]\n"
          "Keys start with HKCU or HKEY_CURRENT_USER, e.g. HKCU\\Software\\Zedazido\\Defaults\n";
    // "-v" names a value here, so only the long spelling asks for the version.
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "/?")) {
        out << "vedereve-reg: looks at and changes the current user's registry of the VEDerEve "
               "webcam component.\n"
            << usage;
        return 0;
    }
    if (args.size() == 1 && args[0] == "--version") {
        out << "vedereve-reg " << kVEDerEveVersion << '\n';
        return 0;
    }
    std::string error;
    const auto cmd = parseCommand(args, error);
    if (!cmd) {
        err << error << '\n' << usage;
        return 2;
    }
    switch (cmd->operation) {
    case Operation::Query:
        return query(*cmd, out, err);
    case Operation::Add:
        return add(*cmd, in, out, err);
    case Operation::Delete:
        return remove(*cmd, in, out, err);
    }
    return 1;
}

} // namespace regtool
