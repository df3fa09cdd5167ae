#include "ShmTestSupport.h"

#include "exchange/modImageMemMapFunctions.h"
#include "platform/shm/HandleTable.h"
#include "platform/shm/NamedMutex.h"
#include "platform/shm/SharedMemoryObject.h"
#include "platform/shm/ShmName.h"

#include <sys/stat.h>
#include <sys/wait.h>
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

TEST_F(ImageBlock, ObjectsOfAnotherUserAreRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to create an object as another user";
    const std::string names[] = {mod::ImageBlockName(77), mod::kHeaderMutexName};
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        for (const std::string &name : names) {
            platform::shm::SharedMemoryObject object;
            if (platform::shm::SharedMemoryObject::createOrOpen(
                    objectName(name), 4096, platform::shm::SharedMemoryObject::OnRelease::KeepName,
                    object)
                != 0)
                ::_exit(3);
        }
        // Make the mutex object look fully set up, so only the owner check can refuse it.
        platform::shm::NamedMutex mutex;
        ::_exit(platform::shm::NamedMutex::create(objectName(names[1]), mutex) == 0 ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "cannot switch to the nobody user here";
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    platform::shm::SharedMemoryObject object;
    EXPECT_EQ(platform::shm::SharedMemoryObject::open(objectName(names[0]), object), -EACCES);
    EXPECT_EQ(mod::OpenImageBlock(77), 0u);
    EXPECT_EQ(mod::CreateImageBlock(77, 100), 0u);
    mod::OpenSharedHeader();
    EXPECT_EQ(mod::hHeaderMutex, 0u);
    // Without a mutex of our own the count still goes on.
    EXPECT_EQ(mod::NextImageNumber(), 1);
    mod::CloseSharedHeader();
}

TEST_F(ImageBlock, WidenedObjectsAreRefused)
{
    const std::string names[]
        = {mod::ImageBlockName(78), mod::kHeaderBlockName, mod::kHeaderMutexName};
    for (const bool byAnotherProcess : {false, true}) {
        SCOPED_TRACE(byAnotherProcess ? "planted with mode 0666" : "chmod 0644 by the owner");
        std::uint32_t block = 0;
        if (!byAnotherProcess) {
            mod::OpenSharedHeader();
            mod::CloseSharedHeader();
            block = mod::CreateImageBlock(78, 100);
        }
        for (const std::string &name : names) {
            shmtest::HelperProcess planter;
            if (byAnotherProcess)
                ASSERT_TRUE(planter.start({"plant", name, "0666"}) && planter.wait() == 0);
            else
                ASSERT_EQ(::chmod(("/dev/shm" + objectName(name)).c_str(), 0644), 0);
        }
        EXPECT_EQ(mod::OpenImageBlock(78), 0u);
        EXPECT_EQ(mod::CreateImageBlock(78, 100), 0u);
        mod::OpenSharedHeader();
        EXPECT_EQ(mod::hHeaderMutex, 0u);
        EXPECT_EQ(mod::hHeaderMap, 0u);
        mod::CloseSharedHeader();
        mod::CloseHandle(block);
        for (const std::string &name : names)
            platform::shm::removeObject(name);
    }
}

} // namespace
