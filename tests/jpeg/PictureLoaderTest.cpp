#include "JpegTestSupport.h"

#include "platform/picture/PictureLoader.h"

#include <gtest/gtest.h>

#include <cstring>

using jpegtest::Bytes;
using platform::picture::loadFromBytes;
using platform::picture::loadFromFile;

namespace {

std::optional<QImage> load(const Bytes &bytes)
{
    return loadFromBytes(bytes.data(), bytes.size());
}

} // namespace

TEST(PictureLoader, RefusesWhatIsNoPictureOrTooLarge)
{
    const Bytes png = jpegtest::pictureFile(jpegtest::testPicture(16, 16), "PNG");
    // A BMP whose header claims 30000 x 30000 pixels (3.6 GB decoded) in a file of a few bytes.
    Bytes hugeBmp = jpegtest::pictureFile(jpegtest::testPicture(4, 4), "BMP");
    ASSERT_GT(hugeBmp.size(), 26u);
    const qint32 huge = 30000;
    std::memcpy(hugeBmp.data() + 18, &huge, 4);
    std::memcpy(hugeBmp.data() + 22, &huge, 4);
    const std::pair<const char *, Bytes> cases[] = {
        {"text", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c'}},
        {"a single byte", {'B'}},
        {"a picture cut short", Bytes(png.begin(), png.begin() + std::ptrdiff_t(png.size() / 3))},
        {"a huge declared size", hugeBmp},
    };
    for (const auto &[name, bytes] : cases)
        EXPECT_FALSE(load(bytes)) << name;
    EXPECT_FALSE(loadFromBytes(nullptr, 10));
    EXPECT_FALSE(loadFromFile(QStringLiteral("/nonexistent/picture.bmp")));
}
