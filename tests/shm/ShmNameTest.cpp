#include "platform/shm/ShmName.h"
#include "exchange/modImageMemMapFunctions.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <limits>

namespace {

using namespace std::string_literals;

TEST(ShmName, ObjectNameHasExactlyOneSlash)
{
    struct Case
    {
        std::string prefix;
        std::string name;
        std::string expected;
    };
    const Case cases[] = {
        {"/vedereve-1000-", "DADevev7", "/vedereve-1000-DADevev7"},
        {"", "ridEvadezaz", "/ridEvadezaz"},
        {"no-slash-", "x", "/no-slash-x"},
        {"///many/slashes/", "a/b", "/many_slashes_a_b"},
        {"/", "/dirUzevevav", "/dirUzevevav"},
        {"/../../etc/", "passwd", "/.._.._etc_passwd"},
        {"/with\0nul-"s, "x", "/withnul-x"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(platform::shm::objectName(c.prefix, c.name), c.expected) << c.prefix;
}

TEST(ShmName, PrefixIsPerUserUnlessOverridden)
{
    ::unsetenv(platform::shm::kPrefixVariable);
    const std::string uid = std::to_string(::geteuid());
    EXPECT_EQ(platform::shm::currentPrefix(), "/vedereve-" + uid + "-");

    ::setenv(platform::shm::kPrefixVariable, "/side-by-side-", 1);
    EXPECT_EQ(platform::shm::objectName("DADevev3"), "/side-by-side-DADevev3");
    ::unsetenv(platform::shm::kPrefixVariable);
    EXPECT_EQ(platform::shm::objectName("DADevev3"), "/vedereve-" + uid + "-DADevev3");
}

TEST(ShmName, ImageBlockNameIsPlainDecimal)
{
    const std::pair<std::int32_t, const char *> cases[] = {
        {7, "DADevev7"},
        {40, "DADevev40"},
        {1024, "DADevev1024"},
        {0, "DADevev0"},
        {-5, "DADevev-5"},
        {std::numeric_limits<std::int32_t>::max(), "DADevev2147483647"},
        {std::numeric_limits<std::int32_t>::min(), "DADevev-2147483648"},
    };
    for (const auto &[number, expected] : cases)
        EXPECT_EQ(modImageMemMapFunctions::ImageBlockName(number), expected);
}

} // namespace
