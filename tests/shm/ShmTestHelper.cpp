// Second process for the shared-memory tests, one command per run:
//   next <count> [together]  take count numbers, print one per line; with "together", print
//                            "ready" after opening the header and start on a line of input
//   hold                     take the counter mutex, print "locked", release on a line of input
//   read <number>            print "<DataLength> <bytes read> <byte sum>" of image block <number>
#include "exchange/modImageMemMapFunctions.h"
#include "platform/shm/HandleTable.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace mod = modImageMemMapFunctions;

namespace {

void say(const char *line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
    std::string input;
    std::getline(std::cin, input);
}

} // namespace

int main(int argc, char **argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    const int number = argc > 2 ? int(std::strtol(argv[2], nullptr, 10)) : 0;
    if (command == "next" && number >= 0) {
        mod::OpenSharedHeader();
        if (argc > 3)
            say("ready");
        // Printed only afterwards, so that output does not pace the processes' increments.
        std::vector<std::int32_t> numbers(static_cast<std::size_t>(number));
        for (std::int32_t &taken : numbers)
            taken = mod::NextImageNumber();
        for (std::int32_t taken : numbers)
            std::printf("%d\n", taken);
        mod::CloseSharedHeader();
        return 0;
    }
    if (command == "hold") {
        mod::OpenSharedHeader();
        if (platform::shm::lockMutex(mod::hHeaderMutex, 5000) != 0)
            return 1;
        say("locked");
        platform::shm::unlockMutex(mod::hHeaderMutex);
        mod::CloseSharedHeader();
        return 0;
    }
    if (command == "read") {
        const std::uint32_t handle = mod::OpenImageBlock(number);
        const std::uint8_t *view = mod::MapImageBlock(handle);
        const auto contents = mod::ReadImageBlock(view);
        if (!contents)
            return 1;
        unsigned long sum = 0;
        for (std::uint8_t byte : contents->data)
            sum += byte;
        std::printf("%d %zu %lu\n", int(contents->header.DataLength), contents->data.size(), sum);
        mod::UnmapViewOfFile(view);
        mod::CloseHandle(handle);
        return 0;
    }
    return 64;
}
