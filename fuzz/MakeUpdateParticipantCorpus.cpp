// Writes the seed corpus of the update_participant fuzz target: one valid block of each picture
// format, plus a few near-misses, as files named after what they hold.

#include <QFile>
#include <QGuiApplication>
#include <QString>

#include <cstdio>

#include "receive/ParticipantBlocks.h"

namespace {

bool writeSeed(const QString &folder, const char *name, const recvtest::Bytes &bytes)
{
    QFile file(folder + QLatin1Char('/') + QLatin1String(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size()))
        == qint64(bytes.size());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    using namespace recvtest;
    const QImage small = twoBandPicture(16, 12, qRgb(200, 40, 40), qRgb(40, 40, 200));
    const QImage odd = twoBandPicture(7, 5, qRgb(10, 200, 10), qRgb(250, 250, 250));
    const Bytes rows = bottomUpBgr(small);

    BlockFields stored {4, 0, 0, 3};
    BlockFields plainRaw {std::int32_t(rows.size()), 16, 12, 1};
    BlockFields bits8 {std::int32_t(rows.size()), 16, 12, 1};
    bits8.BitsPerPixel = 8;
    BlockFields whiteBoard {std::int32_t(rows.size()), 16, 12, 1};
    whiteBoard.Destination = 24;
    const std::uint8_t one = 7;
    const Bytes fourBytes = {1, 2, 3, 4};

    const struct
    {
        const char *name;
        Bytes bytes;
    } seeds[] = {
        {"format1-16x12", rawBlock(small)},
        {"format1-7x5", rawBlock(odd)},
        {"format1-8bit", blockBytes(bits8, zlibCompress(rows))},
        {"format1-uncompressed", blockBytes(plainRaw, rows)},
        {"format2-jpeg", fileBlock(pictureFile(small))},
        {"format2-png", fileBlock(pictureFile(odd, "PNG"))},
        {"format2-bmp", fileBlock(pictureFile(odd, "BMP"))},
        {"format3", blockBytes(stored, fourBytes)},
        {"format123-16x12", jpegBlock(small)},
        {"format123-grey", jpegBlock(small.convertToFormat(QImage::Format_Grayscale8))},
        {"single-byte", blockBytes({1, 1, 1, 1}, zlibCompress({&one, 1}))},
        {"white-board", blockBytes(whiteBoard, zlibCompress(rows))},
    };
    int failures = 0;
    for (const auto &seed : seeds) {
        if (!writeSeed(folder, seed.name, seed.bytes)) {
            std::fprintf(stderr, "cannot write seed %s\n", seed.name);
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
