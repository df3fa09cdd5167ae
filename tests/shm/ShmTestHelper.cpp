// Second process for the shared-memory tests. Commands (one per run):
//   next <count> [together]
//                  take count numbers and print each on a line; with "together", open the
//                  header, print "ready" and start only when a line arrives on standard input
//   hold           take the counter mutex, print "locked", release it when a line arrives on
//                  standard input (or stay until killed)
//   read <number>  open image block <number> and print "<DataLength> <bytes read> <byte sum>"
#include "exchange/modImageMemMapFunctions.h"
#include "platform/shm/HandleTable.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace mod = modImageMemMapFunctions;

int parseInt(const char *text)
{
    return int(std::strtol(text, nullptr, 10));
}

int main(int argc, char **argv)
{
    if (argc < 2)
        return 64;
    const std::string command = argv[1];
    if (command == "next" && (argc == 3 || argc == 4)) {
        mod::OpenSharedHeader();
        const int count = parseInt(argv[2]);
        if (argc == 4) {
            std::printf("ready\n");
            std::fflush(stdout);
            std::string line;
            std::getline(std::cin, line);
        }
        // Printed only afterwards, so that the processes' increments are not paced by output.
        std::vector<std::int32_t> numbers(std::size_t(std::max(count, 0)));
        for (std::int32_t &number : numbers)
            number = mod::NextImageNumber();
        for (std::int32_t number : numbers)
            std::printf("%d\n", number);
        mod::CloseSharedHeader();
        return 0;
    }
    if (command == "hold") {
        mod::OpenSharedHeader();
        if (platform::shm::lockMutex(mod::hHeaderMutex, 5000) != 0)
            return 1;
        std::printf("locked\n");
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
        platform::shm::unlockMutex(mod::hHeaderMutex);
        mod::CloseSharedHeader();
        return 0;
    }
    if (command == "read" && argc == 3) {
        const std::uint32_t handle = mod::OpenImageBlock(parseInt(argv[2]));
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
