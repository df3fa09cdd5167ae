#include "platform/capture/FormatTable.h"
#include "platform/capture/Drivers.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <vector>

using namespace platform::vfw;

namespace {

constexpr std::uint32_t fourcc(const char (&code)[5])
{
    return makeFourCC(code[0], code[1], code[2], code[3]);
}

TEST(FormatTable, MapsDeviceCodesToBitmapFormats)
{
    struct Case
    {
        std::uint32_t device;
        std::uint32_t compression;
        std::uint16_t bitCount;
        RowOrder rows;
    };
    const Case cases[] = {
        {fourcc("RGB3"), BI_RGB, 24, RowOrder::FlipSwapRedBlue},
        {fourcc("BGR3"), BI_RGB, 24, RowOrder::Flip},
        {fourcc("XR24"), BI_RGB, 32, RowOrder::Flip},
        {fourcc("RGBO"), BI_RGB, 16, RowOrder::Flip},
        {fourcc("YUYV"), fourcc("YUY2"), 16, RowOrder::AsIs},
        {fourcc("UYVY"), fourcc("UYVY"), 16, RowOrder::AsIs},
        {fourcc("NV12"), fourcc("NV12"), 12, RowOrder::AsIs},
        {fourcc("YU12"), fourcc("I420"), 12, RowOrder::AsIs},
        {fourcc("MJPG"), fourcc("MJPG"), 24, RowOrder::AsIs},
        {fourcc("JPEG"), fourcc("MJPG"), 24, RowOrder::AsIs},
    };
    for (const Case &c : cases) {
        const PixelFormatMapping *mapping = mappingForDevice(c.device);
        ASSERT_NE(mapping, nullptr) << std::hex << c.device;
        EXPECT_EQ(mapping->compression, c.compression) << std::hex << c.device;
        EXPECT_EQ(mapping->bitCount, c.bitCount) << std::hex << c.device;
        EXPECT_EQ(mapping->rows, c.rows) << std::hex << c.device;
    }
    EXPECT_EQ(mappingForDevice(fourcc("GREY")), nullptr);
    // A bitmap request goes to the cheapest device code; synonyms find their format.
    EXPECT_EQ(mappingForFormat(BI_RGB, 24)->device, fourcc("BGR3"));
    EXPECT_EQ(mappingForFormat(fourcc("YUYV"), 0)->device, fourcc("YUYV"));
    EXPECT_EQ(mappingForFormat(fourcc("IYUV"), 0)->device, fourcc("YU12"));
    EXPECT_EQ(mappingForFormat(BI_RGB, 8), nullptr);
}

TEST(FormatTable, FrameBytesFollowEachLayout)
{
    struct Case
    {
        VideoFormat format;
        std::optional<std::uint32_t> bytes;
    };
    const Case cases[] = {
        {{BI_RGB, 24, 176, 144}, 528u * 144},
        {{BI_RGB, 24, 175, 143}, 528u * 143}, // rows padded to 4
        {{BI_RGB, 16, 3, 2}, 8u * 2},
        {{BI_RGB, 32, 5, 1}, 20u},
        {{fourcc("YUY2"), 16, 640, 480}, 640u * 480 * 2},
        {{fourcc("YUYV"), 16, 5, 2}, 12u * 2}, // an odd width still has whole pairs
        {{fourcc("NV12"), 12, 5, 3}, 15u + 2 * 3 * 2},
        {{fourcc("I420"), 12, 640, 480}, 640u * 480 * 3 / 2},
        {{fourcc("MJPG"), 24, 640, 480}, 640u * 480 * 3},
        {{BI_RGB, 8, 16, 16}, std::nullopt},
        {{BI_RGB, 24, 0, 144}, std::nullopt},
        {{BI_RGB, 24, 176, -144}, std::nullopt},
        {{BI_RGB, 32, 8192, 8192}, std::nullopt}, // past the frame limit
        {{BI_RGB, 24, 0x7FFFFFFF, 1}, std::nullopt},
        {{fourcc("H264"), 24, 640, 480}, std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(frameBytes(c.format), c.bytes) << c.format.width << "x" << c.format.height;
    // Headers come back without the sign of a top-down height, which has no absolute value at
    // the very bottom of its range.
    BITMAPINFOHEADER header = headerFor({fourcc("YUYV"), 16, 320, 240});
    EXPECT_EQ(header.biSizeImage, 320u * 240 * 2);
    header.biHeight = -240;
    EXPECT_EQ(formatFromHeader(header), (VideoFormat {fourcc("YUY2"), 16, 320, 240}));
    header.biHeight = std::numeric_limits<std::int32_t>::min();
    EXPECT_FALSE(frameBytes(formatFromHeader(header)));
}

TEST(FormatTable, NearestFormatPrefersTheWantedKindThenTheCurrentOne)
{
    const VideoFormat yuy2Small {fourcc("YUY2"), 16, 160, 120};
    const VideoFormat yuy2Vga {fourcc("YUY2"), 16, 640, 480};
    const VideoFormat mjpgVga {fourcc("MJPG"), 24, 640, 480};
    const VideoFormat mjpgHd {fourcc("MJPG"), 24, 1280, 720};
    const VideoFormat rgbVga {BI_RGB, 24, 640, 480};
    const std::vector<VideoFormat> offered {yuy2Vga, yuy2Small, mjpgVga, mjpgHd};
    struct Case
    {
        VideoFormat wanted;
        VideoFormat current;
        VideoFormat chosen;
    };
    const Case cases[] = {
        {{BI_RGB, 24, 176, 144}, yuy2Vga, yuy2Small}, // kind not offered: current kind
        {{BI_RGB, 24, 176, 144}, mjpgHd, mjpgVga}, // nearest of the current kind
        {{fourcc("MJPG"), 0, 1000, 700}, yuy2Vga, mjpgHd},
        {{fourcc("YUYV"), 16, 400, 300}, mjpgVga, yuy2Vga}, // synonym of YUY2
        {{fourcc("YUY2"), 16, 400, 300}, rgbVga, yuy2Vga},
        {{BI_RGB, 32, 1, 1}, rgbVga, yuy2Small}, // neither offered: any kind
    };
    for (const Case &c : cases)
        EXPECT_EQ(nearestFormat(offered, c.wanted, c.current), c.chosen)
            << c.wanted.width << "x" << c.wanted.height;
    // A tie goes to the larger size.
    const std::vector<VideoFormat> tie {{BI_RGB, 24, 100, 100}, {BI_RGB, 24, 300, 300}};
    EXPECT_EQ(nearestFormat(tie, {BI_RGB, 24, 200, 200}, tie[0])->width, 300);
    EXPECT_FALSE(nearestFormat({}, rgbVga, rgbVga));
}

std::vector<std::uint8_t> smallJpeg(int w, int h)
{
    std::vector<std::uint8_t> pixels(std::size_t(w) * h * 3, 0x80);
    tjhandle handle = tjInitCompress();
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(handle, pixels.data(), w, 0, h, TJPF_BGR, &jpeg, &size, TJSAMP_422, 80, 0);
    std::vector<std::uint8_t> bytes(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(handle);
    return bytes;
}

TEST(FormatTable, JpegFrameCheckFindsDamagedAndForeignFrames)
{
    const std::vector<std::uint8_t> good = smallJpeg(32, 16);
    auto edited = [&](auto change) {
        std::vector<std::uint8_t> copy = good;
        change(copy);
        return copy;
    };
    auto withoutFrameHeader = [](std::vector<std::uint8_t> &f) {
        for (std::size_t i = 2; f[i + 1] != 0xDA;
             i += 2 + (std::size_t(f[i + 2]) << 8 | f[i + 3])) {
            if (f[i + 1] == 0xC0) {
                f.erase(f.begin() + std::ptrdiff_t(i),
                        f.begin()
                            + std::ptrdiff_t(i + 2 + (std::size_t(f[i + 2]) << 8 | f[i + 3])));
                return;
            }
        }
    };
    struct Case
    {
        const char *what;
        std::vector<std::uint8_t> frame;
        bool complete;
    };
    const Case cases[] = {
        {"whole", good, true},
        {"zero padding after the end", edited([](auto &f) { f.resize(f.size() + 100, 0); }), true},
        {"cut short", edited([](auto &f) { f.resize(f.size() / 2); }), false},
        {"no start marker", edited([](auto &f) { f[1] = 0xD9; }), false},
        {"no end marker", edited([](auto &f) { f.back() = 0xDA; }), false},
        {"no frame header", edited(withoutFrameHeader), false},
        {"segment longer than the frame", edited([](auto &f) { f[4] = 0xFF; }), false},
        {"empty", {}, false},
        {"only markers", {0xFF, 0xD8, 0xFF, 0xD9}, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(jpegFrameLooksComplete(c.frame, 32, 16), c.complete) << c.what;
    EXPECT_FALSE(jpegFrameLooksComplete(good, 16, 32)) << "another size";
}

TEST(CameraOrder, FollowsPersistentNamesNotNodeNumbers)
{
    auto camera = [](std::string path, std::string byId, std::string byPath, std::string bus) {
        CameraNode node;
        node.node.devicePath = std::move(path);
        node.node.byIdName = std::move(byId);
        node.node.byPathName = std::move(byPath);
        node.info.busInfo = std::move(bus);
        node.info.card = "Cam";
        return node;
    };
    std::vector<CameraNode> cameras {
        camera("/dev/video0", "", "", "usb-2"),
        camera("/dev/video1", "", "pci-usb-0:2", "usb-9"),
        camera("/dev/video2", "usb-Zeta", "pci-usb-0:1", "usb-1"),
        camera("/dev/video3", "usb-Alpha", "pci-usb-0:3", "usb-3"),
        camera("/dev/video4", "", "", "usb-1"),
    };
    sortCameras(cameras);
    std::vector<std::string> order;
    order.reserve(cameras.size());
    for (const CameraNode &c : cameras)
        order.push_back(c.node.devicePath);
    EXPECT_EQ(order,
              (std::vector<std::string> {"/dev/video3", "/dev/video2", "/dev/video1", "/dev/video4",
                                         "/dev/video0"}));
}

} // namespace
