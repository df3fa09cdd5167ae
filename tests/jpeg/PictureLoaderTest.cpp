#include "JpegTestSupport.h"

#include "platform/picture/PictureLoader.h"

#include <QFile>
#include <QTemporaryDir>

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

TEST(PictureLoader, ReadsTheCommonFormatsFromMemoryAndDisk)
{
    const QImage picture = jpegtest::testPicture(37, 21);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const char *format : {"BMP", "PNG", "JPG"}) {
        SCOPED_TRACE(format);
        const Bytes bytes = jpegtest::pictureFile(picture, format);
        const auto fromBytes = load(bytes);
        ASSERT_TRUE(fromBytes);
        EXPECT_EQ(fromBytes->size(), QSize(37, 21));
        if (std::strcmp(format, "JPG") != 0) {
            EXPECT_EQ(fromBytes->convertToFormat(QImage::Format_RGB32), picture);
        }
        // A file named without its type is still recognised by its content.
        QFile file(folder.filePath(QStringLiteral("picture-") + QLatin1String(format)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size()));
        file.close();
        const auto fromFile = loadFromFile(file.fileName());
        ASSERT_TRUE(fromFile);
        EXPECT_EQ(fromFile->size(), QSize(37, 21));
    }
    // Qt reads GIF but cannot write it: a 1 x 1 white GIF89a, byte by byte.
    const Bytes gif
        = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00, 0xFF, 0xFF,
           0xFF, 0x00, 0x00, 0x00, 0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00,
           0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
    ASSERT_TRUE(load(gif));
    EXPECT_EQ(load(gif)->size(), QSize(1, 1));
}

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
