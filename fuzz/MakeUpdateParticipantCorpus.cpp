// Writes the seed corpus of the update_participant fuzz target: one valid block of each picture
// format, plus a few near-misses, as files named after what they hold.

#include <QFile>
#include <QGuiApplication>

#include <cstdio>

#include "receive/ParticipantBlocks.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    using namespace recvtest;
    const QImage small = twoBandPicture(16, 12, qRgb(200, 40, 40), qRgb(40, 40, 200));
    const QImage odd = twoBandPicture(7, 5, qRgb(10, 200, 10), qRgb(250, 250, 250));
    const Bytes rows = bottomUpBgr(small);
    const auto fields = [&](std::uint8_t bitsPerPixel, std::uint8_t destination) {
        BlockFields f {std::int32_t(rows.size()), 16, 12, 1};
        f.BitsPerPixel = bitsPerPixel;
        f.Destination = destination;
        return f;
    };
    const std::uint8_t one = 7;

    const struct
    {
        const char *name;
        Bytes bytes;
    } seeds[] = {
        {"format1-16x12", rawBlock(small)},
        {"format1-7x5", rawBlock(odd)},
        {"format1-8bit", blockBytes(fields(8, 8), zlibCompress(rows))},
        {"format1-uncompressed", blockBytes(fields(24, 8), rows)},
        {"format2-jpeg", fileBlock(pictureFile(small))},
        {"format2-png", fileBlock(pictureFile(odd, "PNG"))},
        {"format2-bmp", fileBlock(pictureFile(odd, "BMP"))},
        {"format3", blockBytes({4, 0, 0, 3}, Bytes {1, 2, 3, 4})},
        {"format123-16x12", jpegBlock(small)},
        {"format123-grey", jpegBlock(small.convertToFormat(QImage::Format_Grayscale8))},
        {"single-byte", blockBytes({1, 1, 1, 1}, zlibCompress({&one, 1}))},
        {"white-board", blockBytes(fields(24, 24), zlibCompress(rows))},
    };
    int failures = 0;
    for (const auto &seed : seeds) {
        QFile file(QString::fromLocal8Bit(argv[1]) + QLatin1Char('/') + QLatin1String(seed.name));
        const auto size = qint64(seed.bytes.size());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || file.write(reinterpret_cast<const char *>(seed.bytes.data()), size) != size) {
            std::fprintf(stderr, "cannot write seed %s\n", seed.name);
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
