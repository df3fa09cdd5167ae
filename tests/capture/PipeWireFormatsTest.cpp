#include "platform/capture/PipeWireFormats.h"

#include <linux/videodev2.h>
#include <spa/param/props.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace capturetest {
namespace {

using namespace platform::vfw;

// Parameters as camera nodes answer them, built by hand.
struct Pods
{
    std::array<std::uint8_t, 4096> buffer {};
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer.data(), std::uint32_t(buffer.size()));

    template<class... Props> const spa_pod *format(std::uint32_t subtype, Props... props)
    {
        return static_cast<const spa_pod *>(
            spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat,
                                       SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
                                       SPA_FORMAT_mediaSubtype, SPA_POD_Id(subtype), props...));
    }
    template<class... Props>
    const spa_pod *control(std::uint32_t prop, const char *name, Props... props)
    {
        return static_cast<const spa_pod *>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_PropInfo, SPA_PARAM_PropInfo, SPA_PROP_INFO_id, SPA_POD_Id(prop),
            SPA_PROP_INFO_name, SPA_POD_String(name), props...));
    }
};

std::string offered(const PipeWireFormats &formats)
{
    std::string text;
    for (const PipeWireOffer &offer : formats.offers)
        text += (text.empty() ? "" : " ") + std::string(formatInfo(offer.format)->name) + ":"
            + std::to_string(offer.format.width) + "x" + std::to_string(offer.format.height);
    return text;
}

TEST(PipeWireFormats, OffersEachDecodedFormatAtListedOrCommonSizesDefaultFirst)
{
    Pods pods;
    spa_rectangle qvga {320, 240}, qcif {176, 144}, svga {800, 600}, hd {1280, 720}, vga {640, 480};
    // RGB or UYVY (or grey, which we do not decode) from 176x144 to 800x600.
    PipeWireFormats formats;
    addEnumFormat(pods.format(SPA_MEDIA_SUBTYPE_raw, SPA_FORMAT_VIDEO_format,
                              SPA_POD_CHOICE_ENUM_Id(4, SPA_VIDEO_FORMAT_RGB, SPA_VIDEO_FORMAT_RGB,
                                                     SPA_VIDEO_FORMAT_UYVY, SPA_VIDEO_FORMAT_GRAY8),
                              SPA_FORMAT_VIDEO_size,
                              SPA_POD_CHOICE_RANGE_Rectangle(&qvga, &qcif, &svga)),
                  formats);
    EXPECT_EQ(offered(formats),
              "rgb24:320x240 rgb24:176x144 rgb24:352x288 rgb24:640x480 rgb24:800x600 "
              "uyvy:320x240 uyvy:176x144 uyvy:352x288 uyvy:640x480 uyvy:800x600");
    EXPECT_EQ(formats.kinds,
              (std::vector {PictureKind::Colour, PictureKind::Colour, PictureKind::Greyscale}));
    EXPECT_EQ(formats.offers[0].spaFormat, std::uint32_t(SPA_VIDEO_FORMAT_RGB));

    // A camera's JPEG stream at listed sizes, the default repeated among them.
    PipeWireFormats jpeg;
    addEnumFormat(pods.format(SPA_MEDIA_SUBTYPE_mjpg, SPA_FORMAT_VIDEO_size,
                              SPA_POD_CHOICE_ENUM_Rectangle(3, &hd, &vga, &hd)),
                  jpeg);
    EXPECT_EQ(offered(jpeg), "mjpg:1280x720 mjpg:640x480");
    EXPECT_TRUE(jpeg.offers[0].mjpg);

    // Grey only: nothing offered, but the pictures are known to be greyscale; settled on: refused.
    PipeWireFormats grey;
    const spa_pod *greyPod = pods.format(SPA_MEDIA_SUBTYPE_raw, SPA_FORMAT_VIDEO_format,
                                         SPA_POD_Id(SPA_VIDEO_FORMAT_GRAY8), SPA_FORMAT_VIDEO_size,
                                         SPA_POD_Rectangle(&vga));
    addEnumFormat(greyPod, grey);
    EXPECT_TRUE(grey.offers.empty());
    EXPECT_EQ(grey.kinds, std::vector {PictureKind::Greyscale});
    EXPECT_FALSE(negotiatedFormat(greyPod));

    // The format asked for, into a builder too small for it: none.
    std::array<std::uint8_t, 16> tiny {};
    spa_pod_builder small = SPA_POD_BUILDER_INIT(tiny.data(), std::uint32_t(tiny.size()));
    EXPECT_EQ(fixedFormatPod(
                  {formatInfo(FOURCC_YUY2, 16)->at(640, 480), SPA_VIDEO_FORMAT_YUY2, false}, small),
              nullptr);
}

// "id kind minimum..maximum/step default [value:item...]", or "none".
std::string described(const std::optional<DriverControl> &c)
{
    if (!c)
        return "none";
    std::string text = std::to_string(c->id) + " " + "ibm"[int(c->kind)] + " "
        + std::to_string(c->minimum) + ".." + std::to_string(c->maximum) + "/"
        + std::to_string(c->step) + " " + std::to_string(c->defaultValue);
    for (const DriverControl::MenuItem &item : c->items)
        text += " " + std::to_string(item.value) + ":" + item.name;
    return text;
}

TEST(PipeWireFormats, PropInfoBecomesV4l2ControlsAndPropsCarryThemBack)
{
    Pods pods;
    EXPECT_EQ(described(controlFromPropInfo(pods.control(SPA_PROP_brightness, "Brightness",
                                                         SPA_PROP_INFO_type,
                                                         SPA_POD_CHOICE_STEP_Int(128, 0, 255, 2)))),
              std::to_string(V4L2_CID_BRIGHTNESS) + " i 0..255/2 128");
    // Controls without a property of their own come as the custom range plus the V4L2 id.
    const auto *labels = static_cast<const spa_pod *>(spa_pod_builder_add_struct(
        &pods.b, SPA_POD_Int(0), SPA_POD_String("Off"), SPA_POD_Int(1), SPA_POD_String("50 Hz"),
        SPA_POD_Int(2), SPA_POD_String("60 Hz")));
    EXPECT_EQ(
        described(controlFromPropInfo(pods.control(
            SPA_PROP_START_CUSTOM + V4L2_CID_POWER_LINE_FREQUENCY, "Power Line", SPA_PROP_INFO_type,
            SPA_POD_CHOICE_ENUM_Int(4, 1, 0, 1, 2), SPA_PROP_INFO_labels, SPA_POD_Pod(labels)))),
        std::to_string(V4L2_CID_POWER_LINE_FREQUENCY) + " m 0..2/1 1 0:Off 1:50 Hz 2:60 Hz");
    EXPECT_EQ(described(controlFromPropInfo(
                  pods.control(SPA_PROP_START_CUSTOM + V4L2_CID_AUTO_WHITE_BALANCE, "Auto White",
                               SPA_PROP_INFO_type, SPA_POD_CHOICE_Bool(true)))),
              std::to_string(V4L2_CID_AUTO_WHITE_BALANCE) + " b 0..1/1 1");

    for (const std::uint32_t id : {V4L2_CID_GAIN, V4L2_CID_HUE, V4L2_CID_POWER_LINE_FREQUENCY})
        EXPECT_EQ(controlIdOfProp(propOfControlId(id)), id);
    EXPECT_EQ(propOfControlId(V4L2_CID_SHARPNESS), std::uint32_t(SPA_PROP_sharpness));

    // Setting a control sends the node's property with the value.
    const spa_pod *props = propsPod(SPA_PROP_brightness, DriverControl::Kind::Integer, 77, pods.b);
    const spa_pod_prop *prop
        = props ? spa_pod_find_prop(props, nullptr, SPA_PROP_brightness) : nullptr;
    std::int32_t value = 0;
    ASSERT_TRUE(prop && spa_pod_get_int(&prop->value, &value) == 0);
    EXPECT_EQ(value, 77);
}

} // namespace
} // namespace capturetest
