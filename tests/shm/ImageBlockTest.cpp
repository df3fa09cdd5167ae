#include "ShmTestSupport.h"

#include "exchange/modImageMemMapFunctions.h"
#include "platform/shm/HandleTable.h"
#include "platform/shm/ShmName.h"

#include <QDebug>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

namespace {

namespace mod = modImageMemMapFunctions;
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

class ImageBlock : public shmtest::ShmNamespaceTest
{
protected:
    // A block of size bytes and its view; the view of 0 when either fails.
    static std::pair<std::uint32_t, std::uint8_t *> create(std::int32_t number, std::int64_t size)
    {
        const std::uint32_t handle = mod::CreateImageBlock(number, size);
        return {handle, mod::MapImageBlock(handle)};
    }
    static void close(std::uint32_t handle, const std::uint8_t *view)
    {
        mod::UnmapViewOfFile(view);
        mod::CloseHandle(handle);
    }
};

TEST_F(ImageBlock, WrittenBlockIsReadBackAndAReaderKeepsItsViewWhenTheCreatorCloses)
{
    const auto jpeg = pattern(5000);
    // Named after its image number, sized exactly, private to the user.
    const auto [block, view] = create(40, 5000 + 24);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::pair(mod::ViewSize(view), mod::ViewSize(view + 5024)), std::pair(5024ul, 0ul));
    struct stat st = {};
    ASSERT_EQ(::stat(("/dev/shm" + m_prefix + "DADevev40").c_str(), &st), 0);
    EXPECT_EQ(std::pair(st.st_size, st.st_mode & 0777), std::pair(off_t(5024), mode_t(0600)));
    EXPECT_EQ(mod::WriteImageBlock(view, headerOf(5000, 40), jpeg), 5000);
    const std::uint32_t reader = mod::OpenImageBlock(40);
    const std::uint8_t *readerView = mod::MapImageBlock(reader);
    ASSERT_NE(readerView, nullptr);

    // An opener's close leaves the block to its creator.
    mod::CloseHandle(mod::OpenImageBlock(40));
    EXPECT_EQ(leftovers().size(), 1u);
    close(block, view);
    EXPECT_TRUE(leftovers().empty() && mod::OpenImageBlock(40) == 0);
    const auto contents = mod::ReadImageBlock(readerView);
    ASSERT_TRUE(contents);
    EXPECT_EQ(mod::toBytes(contents->header), headerOf(5000, 40));
    EXPECT_TRUE(std::equal(contents->data.begin(), contents->data.end(), jpeg.begin(), jpeg.end()));
    close(reader, readerView);
}

TEST_F(ImageBlock, ReadsAndWritesStopAtTheRealEndWhateverTheHeaderClaims)
{
    const auto [block, view] = create(11, 100);
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
        close(reader, readerView);
    }
    // Writing through the descriptor stops at the end as well, and never grows the block.
    EXPECT_EQ(platform::shm::writeMapping(block, 90, data.data(), data.size()), 10);
    EXPECT_EQ(platform::shm::writeMapping(block, 100, data.data(), data.size()), 0);
    const std::span<const std::uint8_t> all(data);
    EXPECT_EQ(platform::shm::writeMapping(block, 85, {all.first(10), all}), 15);
    EXPECT_TRUE(std::equal(view + 95, view + 100, data.begin()));
    EXPECT_EQ(platform::shm::mappingSize(block), 100u);
    close(block, view);

    // A block too small for a header reads as nothing and takes no header.
    const auto [tiny, tinyView] = create(12, 10);
    ASSERT_NE(tinyView, nullptr);
    EXPECT_FALSE(mod::ReadImageBlock(tinyView));
    EXPECT_EQ(mod::WriteImageBlock(tinyView, mod::Header {}, data), -1);
    EXPECT_FALSE(mod::ReadImageBlock(nullptr));
    close(tiny, tinyView);
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

    const auto [block, view] = create(13, 64);
    EXPECT_EQ(std::vector({mod::UnmapViewOfFile(view + 1), mod::UnmapViewOfFile(view),
                           mod::UnmapViewOfFile(view), mod::ViewSize(view) != 0,
                           mod::CloseHandle(block), mod::CloseHandle(block)}),
              std::vector({false, true, false, false, true, false}));
}

// Objects of ours opened wider or handed to another user: the mode and owner checks refuse them.
TEST_F(ImageBlock, ObjectsWithBitsBeyondTheOwnersOrOfAnotherUserAreRefused)
{
    const uid_t nobody = 65534;
    const struct
    {
        const char *spoil; // an octal mode, or "uid"/"gid" for an owner of nobody
        bool header; // the header block is spoiled too, not only the mutex and the image block
        const char *refusal; // nullptr: accepted
    } rows[] = {
        {"0640", true, "mode 0640, wider than 0600"},
        {"0660", false, "mode 0660, wider than 0600"},
        {"0604", true, "mode 0604, wider than 0600"},
        {"uid", false, "owned by uid 65534"},
        {"gid", true, nullptr}, // ours, in another group
    };
    static std::vector<std::string> warnings;
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) {
        warnings.push_back(text.toStdString());
    });
    for (const auto &row : rows) {
        SCOPED_TRACE(row.spoil);
        const std::string spoil = row.spoil;
        if (spoil[0] != '0' && ::geteuid() != 0)
            continue; // needs root to give an object away
        mod::OpenSharedHeader();
        mod::CloseSharedHeader();
        const std::uint32_t block = mod::CreateImageBlock(77, 100);
        std::vector<std::string> names = {mod::ImageBlockName(77), mod::kHeaderMutexName};
        if (row.header)
            names.push_back(mod::kHeaderBlockName);
        for (const std::string &name : names) {
            const std::string path = "/dev/shm" + objectName(name);
            ASSERT_EQ(spoil == "uid"       ? ::chown(path.c_str(), nobody, ::getegid())
                          : spoil == "gid" ? ::chown(path.c_str(), ::geteuid(), nobody)
                                           : ::chmod(path.c_str(), std::stoi(spoil, nullptr, 8)),
                      0);
        }
        const bool refused = row.refusal != nullptr;
        warnings.clear();
        const std::uint32_t opened = mod::OpenImageBlock(77);
        EXPECT_EQ(opened == 0, refused);
        // An existing block is never handed back to a creator, whoever owns it.
        const std::uint32_t created = mod::CreateImageBlock(77, 100);
        EXPECT_EQ(created, 0u);
        mod::OpenSharedHeader();
        EXPECT_EQ(mod::hHeaderMutex == 0, refused);
        EXPECT_EQ(mod::hHeaderMap == 0, refused && row.header);
        // Without a mutex of our own, a header of our own still counts.
        EXPECT_EQ(mod::NextImageNumber(), refused && row.header ? 0 : 1);
        mod::CloseSharedHeader();
        for (const std::string &name : names)
            EXPECT_EQ(std::ranges::count(warnings,
                                         "refusing " + objectName(name) + ": "
                                             + (refused ? row.refusal : ""))
                          > 0,
                      refused)
                << name;
        for (const std::uint32_t handle : {opened, created, block})
            mod::CloseHandle(handle);
        for (const char *name : {mod::kHeaderMutexName, mod::kHeaderBlockName})
            platform::shm::removeObject(name);
        platform::shm::removeObject(mod::ImageBlockName(77));
    }
    qInstallMessageHandler(nullptr);
}

} // namespace
