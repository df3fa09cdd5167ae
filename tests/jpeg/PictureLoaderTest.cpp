#include "JpegTestSupport.h"

#include "platform/picture/PictureLoader.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

using platform::picture::loadFromBytes;
using platform::picture::loadFromFile;

namespace {

QByteArray saved(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

std::optional<QImage> load(const QByteArray &bytes)
{
    return loadFromBytes(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                         std::size_t(bytes.size()));
}

} // namespace

TEST(PictureLoader, ReadsTheCommonFormatsFromMemoryAndDisk)
{
    const QImage picture = jpegtest::testPicture(37, 21);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const char *format : {"BMP", "PNG", "JPG"}) {
        SCOPED_TRACE(format);
        const QByteArray bytes = saved(picture, format);
        ASSERT_FALSE(bytes.isEmpty());
        const auto fromBytes = load(bytes);
        ASSERT_TRUE(fromBytes);
        EXPECT_EQ(fromBytes->size(), QSize(37, 21));
        // A file named without its type is still recognised by its content.
        QFile file(folder.filePath(QStringLiteral("picture-") + QLatin1String(format)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        const auto fromFile = loadFromFile(file.fileName());
        ASSERT_TRUE(fromFile);
        EXPECT_EQ(fromFile->size(), QSize(37, 21));
        if (std::strcmp(format, "JPG") != 0) {
            EXPECT_EQ(fromBytes->convertToFormat(QImage::Format_RGB32), picture);
        }
    }
}

TEST(PictureLoader, ReadsGif)
{
    // Qt reads GIF but cannot write it: a 1 x 1 white GIF89a, byte by byte.
    const std::uint8_t gif[]
        = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00, 0xFF, 0xFF,
           0xFF, 0x00, 0x00, 0x00, 0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00,
           0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
    const auto image = loadFromBytes(gif, sizeof gif);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(1, 1));
}

TEST(PictureLoader, RefusesWhatIsNoPicture)
{
    const QByteArray png = saved(jpegtest::testPicture(16, 16), "PNG");
    struct Case
    {
        const char *name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"text", QByteArray("not a picture at all")},
        {"a single byte", QByteArray(1, 'B')},
        {"a picture cut short", png.left(png.size() / 3)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(load(c.bytes));
    }
    EXPECT_FALSE(loadFromBytes(nullptr, 10));
    EXPECT_FALSE(loadFromFile(QStringLiteral("/nonexistent/picture.bmp")));
}

TEST(PictureLoader, RefusesAHugeDeclaredSizeBeforeDecoding)
{
    // A BMP whose header claims 30000 x 30000 pixels (3.6 GB decoded) in a file of a few bytes.
    QByteArray bmp = saved(jpegtest::testPicture(4, 4), "BMP");
    ASSERT_GT(bmp.size(), 26);
    const qint32 huge = 30000;
    std::memcpy(bmp.data() + 18, &huge, 4);
    std::memcpy(bmp.data() + 22, &huge, 4);
    EXPECT_FALSE(load(bmp));
}
