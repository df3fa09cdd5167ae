#include "ShmTestSupport.h"

#include "exchange/modImageMemMapFunctions.h"
#include "platform/shm/HandleTable.h"
#include "platform/shm/ShmName.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <numeric>

namespace {

namespace mod = modImageMemMapFunctions;
using namespace std::chrono_literals;
using platform::shm::objectName;

std::vector<std::uint8_t> pattern(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = std::uint8_t(i * 7 + 3);
    return bytes;
}

mod::Header headerOf(std::int32_t length, std::int32_t number)
{
    return mod::BuildImageHeader(length, length, 1, 1, number, 8, 24, 2, 32);
}

// Every test must give back each handle and view it took.
class ImageBlock : public shmtest::ShmNamespaceTest
{
protected:
    void TearDown() override
    {
        EXPECT_EQ(platform::shm::openHandleCount(), m_handles) << "handle leaked";
        EXPECT_EQ(platform::shm::openViewCount(), m_views) << "view leaked";
        ShmNamespaceTest::TearDown();
    }

    const std::size_t m_handles = platform::shm::openHandleCount();
    const std::size_t m_views = platform::shm::openViewCount();
};

TEST_F(ImageBlock, WrittenBlockIsReadBackHereAndInAnotherProcess)
{
    const auto jpeg = pattern(5000);
    // Named after its image number, sized exactly, private to the user.
    const std::uint32_t block = mod::CreateImageBlock(40, 5000 + 24);
    std::uint8_t *view = mod::MapImageBlock(block);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(mod::ViewSize(view), 5024u);
    EXPECT_EQ(mod::ViewSize(view + 5024), 0u);

    struct stat st = {};
    ASSERT_EQ(::stat(("/dev/shm" + m_prefix + "DADevev40").c_str(), &st), 0);
    EXPECT_EQ(std::pair(st.st_size, st.st_mode & 0777), std::pair(off_t(5024), mode_t(0600)));

    EXPECT_EQ(mod::WriteImageBlock(view, headerOf(5000, 40), jpeg), 5000);
    shmtest::HelperProcess other;
    ASSERT_TRUE(other.start({"read", "40"}));
    const unsigned long sum = std::accumulate(jpeg.begin(), jpeg.end(), 0ul);
    EXPECT_EQ(other.readLine(5s), "5000 5000 " + std::to_string(sum));
    EXPECT_EQ(other.wait(), 0);

    mod::UnmapViewOfFile(view);
    mod::CloseHandle(block);
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(ImageBlock, CreatorsCloseRemovesTheNameButAReaderKeepsItsView)
{
    const auto data = pattern(1000);
    const std::uint32_t block = mod::CreateImageBlock(7, 1024);
    std::uint8_t *view = mod::MapImageBlock(block);
    ASSERT_NE(view, nullptr);
    mod::WriteImageBlock(view, headerOf(1000, 7), data);
    const std::uint32_t reader = mod::OpenImageBlock(7);
    const std::uint8_t *readerView = mod::MapImageBlock(reader);
    ASSERT_NE(readerView, nullptr);

    // An opener's close leaves the block to its creator; a create of an existing block is
    // refused whatever its size, and says that the name is taken.
    mod::CloseHandle(mod::OpenImageBlock(7));
    for (const std::int64_t size : {50, 1024, 1025}) {
        bool taken = false;
        EXPECT_EQ(mod::CreateImageBlock(7, size, &taken), 0u) << size;
        EXPECT_TRUE(taken) << size;
    }
    EXPECT_EQ(leftovers().size(), 1u);

    mod::UnmapViewOfFile(view);
    mod::CloseHandle(block);
    EXPECT_TRUE(leftovers().empty());
    EXPECT_EQ(mod::OpenImageBlock(7), 0u);
    const auto contents = mod::ReadImageBlock(readerView);
    ASSERT_TRUE(contents);
    EXPECT_EQ(mod::toBytes(contents->header), headerOf(1000, 7));
    EXPECT_TRUE(std::equal(contents->data.begin(), contents->data.end(), data.begin(), data.end()));

    mod::UnmapViewOfFile(readerView);
    mod::CloseHandle(reader);
}

TEST_F(ImageBlock, ReadsAndWritesStopAtTheRealEndWhateverTheHeaderClaims)
{
    const std::uint32_t block = mod::CreateImageBlock(11, 100);
    std::uint8_t *view = mod::MapImageBlock(block);
    ASSERT_NE(view, nullptr);
    const auto data = pattern(500);
    EXPECT_EQ(mod::WriteImageBlock(view, headerOf(500, 11), data), 76);

    const std::pair<std::int32_t, std::size_t> claims[]
        = {{10000, 76}, {75, 75}, {-5, 0}, {std::numeric_limits<std::int32_t>::max(), 76}};
    for (const auto &[claimed, readable] : claims) {
        const mod::Header header = headerOf(claimed, 11);
        std::copy(header.begin(), header.end(), view);
        // A reader knows the block only from what it maps.
        const std::uint32_t reader = mod::OpenImageBlock(11);
        const std::uint8_t *readerView = mod::MapImageBlock(reader);
        const auto contents = mod::ReadImageBlock(readerView);
        ASSERT_TRUE(contents);
        EXPECT_EQ(contents->header.DataLength, claimed);
        EXPECT_EQ(contents->data.size(), readable) << "claimed " << claimed;
        EXPECT_TRUE(std::equal(contents->data.begin(), contents->data.end(), data.begin()));
        mod::UnmapViewOfFile(readerView);
        mod::CloseHandle(reader);
    }
    // Writing through the descriptor stops at the end as well, and never grows the block.
    EXPECT_EQ(platform::shm::writeMapping(block, 90, data.data(), data.size()), 10);
    EXPECT_EQ(platform::shm::writeMapping(block, 100, data.data(), data.size()), 0);
    const std::span<const std::uint8_t> all(data);
    EXPECT_EQ(platform::shm::writeMapping(block, 85, {all.first(10), all}), 15);
    EXPECT_TRUE(std::equal(view + 95, view + 100, data.begin()));
    EXPECT_EQ(platform::shm::mappingSize(block), 100u);
    mod::UnmapViewOfFile(view);
    mod::CloseHandle(block);

    // A block too small for a header reads as nothing and takes no header.
    const std::uint32_t tiny = mod::CreateImageBlock(12, 10);
    std::uint8_t *tinyView = mod::MapImageBlock(tiny);
    ASSERT_NE(tinyView, nullptr);
    EXPECT_FALSE(mod::ReadImageBlock(tinyView));
    EXPECT_EQ(mod::WriteImageBlock(tinyView, mod::Header {}, data), -1);
    EXPECT_FALSE(mod::ReadImageBlock(nullptr));
    mod::UnmapViewOfFile(tinyView);
    mod::CloseHandle(tiny);
}

TEST_F(ImageBlock, UnusableSizesWrongHandlesAndWrongViewsAreRefusedQuietly)
{
    for (std::int64_t size : {std::int64_t(0), std::int64_t(-24), mod::kMaxImageBlockSize + 1,
                              std::numeric_limits<std::int64_t>::min()})
        EXPECT_EQ(mod::CreateImageBlock(9, size), 0u) << size;
    EXPECT_EQ(mod::CreateImageBlock(0, 100), 0u); // number 0 is no image
    EXPECT_TRUE(leftovers().empty());
    mod::OpenSharedHeader();
    EXPECT_EQ(mod::MapImageBlock(0xDEADBEEF), nullptr);
    EXPECT_EQ(mod::MapImageBlock(mod::hHeaderMutex), nullptr);
    EXPECT_EQ(platform::shm::lockMutex(mod::hHeaderMap, 0), -EBADF);
    mod::CloseSharedHeader();

    const std::uint32_t block = mod::CreateImageBlock(13, 64);
    std::uint8_t *view = mod::MapImageBlock(block);
    EXPECT_FALSE(mod::UnmapViewOfFile(view + 1));
    EXPECT_TRUE(mod::UnmapViewOfFile(view));
    EXPECT_FALSE(mod::UnmapViewOfFile(view));
    EXPECT_EQ(mod::ViewSize(view), 0u);
    EXPECT_TRUE(mod::CloseHandle(block));
    EXPECT_FALSE(mod::CloseHandle(block));
}

TEST_F(ImageBlock, ObjectsOfAnotherUserAreRefusedWhateverTheirGroup)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give an object to another user";
    // The header block stays ours: without a mutex of our own the count still goes on.
    const std::string names[] = {mod::ImageBlockName(77), mod::kHeaderMutexName};
    const struct
    {
        uid_t uid;
        gid_t gid;
        bool refused;
    } owners[] = {
        {65534, ::getegid(), true}, // another user in our group
        {::geteuid(), 65534, false}, // ours, in another group
    };
    for (const auto &owner : owners) {
        SCOPED_TRACE(testing::Message() << "owner " << owner.uid << ":" << owner.gid);
        // Made by us, so fully set up: only the owner check can refuse them.
        mod::OpenSharedHeader();
        mod::CloseSharedHeader();
        const std::uint32_t block = mod::CreateImageBlock(77, 100);
        for (const std::string &name : names)
            ASSERT_EQ(::chown(("/dev/shm" + objectName(name)).c_str(), owner.uid, owner.gid), 0);

        shmtest::Warnings warnings;
        const std::uint32_t opened = mod::OpenImageBlock(77);
        EXPECT_EQ(opened == 0, owner.refused);
        // An existing block is never handed back to a creator, whoever owns it.
        const std::uint32_t created = mod::CreateImageBlock(77, 100);
        EXPECT_EQ(created, 0u);
        mod::OpenSharedHeader();
        EXPECT_EQ(mod::hHeaderMutex == 0, owner.refused);
        EXPECT_EQ(mod::NextImageNumber(), 1);
        mod::CloseSharedHeader();
        for (const std::string &name : names)
            EXPECT_EQ(warnings.contains("refusing " + objectName(name) + ": owned by uid 65534"),
                      owner.refused);
        for (const std::uint32_t handle : {opened, created, block})
            mod::CloseHandle(handle);
        for (const std::string &name : names)
            platform::shm::removeObject(name);
        platform::shm::removeObject(mod::kHeaderBlockName);
    }
}

TEST_F(ImageBlock, ObjectsWithBitsForGroupOrOthersAreRefused)
{
    const std::string names[]
        = {mod::ImageBlockName(78), mod::kHeaderBlockName, mod::kHeaderMutexName};
    // Made by a careless peer of the same user, as it may leave them behind.
    for (const std::string mode : {"0640", "0660", "0644", "0606"}) {
        SCOPED_TRACE(mode);
        for (const std::string &name : names) {
            shmtest::HelperProcess planter;
            ASSERT_TRUE(planter.start({"plant", name, mode}) && planter.wait() == 0);
        }
        shmtest::Warnings warnings;
        EXPECT_EQ(mod::OpenImageBlock(78), 0u);
        EXPECT_EQ(mod::CreateImageBlock(78, 100), 0u);
        mod::OpenSharedHeader();
        EXPECT_EQ(mod::hHeaderMutex, 0u);
        EXPECT_EQ(mod::hHeaderMap, 0u);
        mod::CloseSharedHeader();
        for (const std::string &name : names) {
            EXPECT_TRUE(warnings.contains("refusing " + objectName(name) + ": mode " + mode
                                          + ", wider than 0600"))
                << name;
            platform::shm::removeObject(name);
        }
    }
}

} // namespace
