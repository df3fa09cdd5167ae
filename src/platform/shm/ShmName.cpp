#include "platform/shm/ShmName.h"

#include <unistd.h>

#include <cstdlib>

namespace platform::shm {

std::string defaultPrefix()
{
    return "/vedereve-" + std::to_string(::geteuid()) + "-";
}

std::string currentPrefix()
{
    if (const char *value = std::getenv(kPrefixVariable))
        return value;
    return defaultPrefix();
}

std::string objectName(std::string_view prefix, std::string_view name)
{
    std::string result = "/";
    result.reserve(1 + prefix.size() + name.size());
    bool leading = true;
    for (std::string_view part : {prefix, name}) {
        for (char c : part) {
            if (c == '\0')
                continue;
            if (c == '/') {
                // Slashes at the very start collapse into the single leading one.
                if (leading)
                    continue;
                c = '_';
            }
            leading = false;
            result.push_back(c);
        }
    }
    return result;
}

std::string objectName(std::string_view name)
{
    return objectName(currentPrefix(), name);
}

} // namespace platform::shm
