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
class Pods
{
public:
    Pods() { spa_pod_builder_init(&m_builder, m_buffer.data(), std::uint32_t(m_buffer.size())); }

    // A video format: raw with these formats (the first the default), or JPEG with none.
    const spa_pod *enumFormat(std::vector<std::uint32_t> formats, std::uint32_t sizeChoice,
                              std::vector<spa_rectangle> sizes)
    {
        spa_pod_frame object, choice;
        spa_pod_builder_push_object(&m_builder, &object, SPA_TYPE_OBJECT_Format,
                                    SPA_PARAM_EnumFormat);
        spa_pod_builder_prop(&m_builder, SPA_FORMAT_mediaType, 0);
        spa_pod_builder_id(&m_builder, SPA_MEDIA_TYPE_video);
        spa_pod_builder_prop(&m_builder, SPA_FORMAT_mediaSubtype, 0);
        spa_pod_builder_id(&m_builder,
                           formats.empty() ? SPA_MEDIA_SUBTYPE_mjpg : SPA_MEDIA_SUBTYPE_raw);
        if (!formats.empty()) {
            spa_pod_builder_prop(&m_builder, SPA_FORMAT_VIDEO_format, 0);
            spa_pod_builder_push_choice(&m_builder, &choice, SPA_CHOICE_Enum, 0);
            spa_pod_builder_id(&m_builder, formats[0]);
            for (std::uint32_t format : formats)
                spa_pod_builder_id(&m_builder, format);
            spa_pod_builder_pop(&m_builder, &choice);
        }
        spa_pod_builder_prop(&m_builder, SPA_FORMAT_VIDEO_size, 0);
        spa_pod_builder_push_choice(&m_builder, &choice, sizeChoice, 0);
        for (const spa_rectangle &size : sizes)
            spa_pod_builder_rectangle(&m_builder, size.width, size.height);
        spa_pod_builder_pop(&m_builder, &choice);
        return static_cast<const spa_pod *>(spa_pod_builder_pop(&m_builder, &object));
    }

    // A control: type is a choice of ints (or of one bool); labels pair values with names.
    const spa_pod *propInfo(std::uint32_t prop, const char *name, std::uint32_t choiceType,
                            std::vector<std::int32_t> values,
                            std::vector<std::pair<std::int32_t, const char *>> labels = {},
                            bool boolean = false)
    {
        spa_pod_frame object, choice, list;
        spa_pod_builder_push_object(&m_builder, &object, SPA_TYPE_OBJECT_PropInfo,
                                    SPA_PARAM_PropInfo);
        spa_pod_builder_prop(&m_builder, SPA_PROP_INFO_id, 0);
        spa_pod_builder_id(&m_builder, prop);
        spa_pod_builder_prop(&m_builder, SPA_PROP_INFO_name, 0);
        spa_pod_builder_string(&m_builder, name);
        spa_pod_builder_prop(&m_builder, SPA_PROP_INFO_type, 0);
        spa_pod_builder_push_choice(&m_builder, &choice, choiceType, 0);
        for (std::int32_t value : values) {
            if (boolean)
                spa_pod_builder_bool(&m_builder, value != 0);
            else
                spa_pod_builder_int(&m_builder, value);
        }
        spa_pod_builder_pop(&m_builder, &choice);
        if (!labels.empty()) {
            spa_pod_builder_prop(&m_builder, SPA_PROP_INFO_labels, 0);
            spa_pod_builder_push_struct(&m_builder, &list);
            for (const auto &[value, label] : labels) {
                spa_pod_builder_int(&m_builder, value);
                spa_pod_builder_string(&m_builder, label);
            }
            spa_pod_builder_pop(&m_builder, &list);
        }
        return static_cast<const spa_pod *>(spa_pod_builder_pop(&m_builder, &object));
    }

    spa_pod_builder &builder() { return m_builder; }

private:
    std::array<std::uint8_t, 4096> m_buffer {};
    spa_pod_builder m_builder {};
};

std::string offered(const PipeWireFormats &formats)
{
    std::string text;
    for (const PipeWireOffer &offer : formats.offers) {
        const FormatInfo *info = formatInfo(offer.format);
        text += (text.empty() ? "" : " ") + std::string(info ? info->name : "?") + ":"
            + std::to_string(offer.format.width) + "x" + std::to_string(offer.format.height);
    }
    return text;
}

TEST(PipeWireFormats, OffersEachDecodedFormatAtListedOrCommonSizesDefaultFirst)
{
    Pods pods;
    PipeWireFormats formats;
    // A test source: RGB or UYVY (or grey, which we do not decode) from 176x144 to 800x600.
    addEnumFormat(
        pods.enumFormat({SPA_VIDEO_FORMAT_RGB, SPA_VIDEO_FORMAT_UYVY, SPA_VIDEO_FORMAT_GRAY8},
                        SPA_CHOICE_Range, {{320, 240}, {176, 144}, {800, 600}}),
        formats);
    EXPECT_EQ(offered(formats),
              "rgb24:320x240 rgb24:176x144 rgb24:352x288 rgb24:640x480 "
              "rgb24:800x600 uyvy:320x240 uyvy:176x144 uyvy:352x288 "
              "uyvy:640x480 uyvy:800x600");
    EXPECT_EQ(formats.kinds,
              (std::vector {PictureKind::Colour, PictureKind::Colour, PictureKind::Greyscale}));
    EXPECT_EQ(formats.offers[0].spaFormat, std::uint32_t(SPA_VIDEO_FORMAT_RGB));

    // A camera's JPEG stream at listed sizes; an odd size outside the list stays out.
    PipeWireFormats jpeg;
    addEnumFormat(pods.enumFormat({}, SPA_CHOICE_Enum, {{1280, 720}, {640, 480}, {1280, 720}}),
                  jpeg);
    EXPECT_EQ(offered(jpeg), "mjpg:1280x720 mjpg:640x480");
    EXPECT_TRUE(jpeg.offers[0].mjpg);

    // Grey only: nothing offered, but the node's pictures are known to be greyscale.
    PipeWireFormats grey;
    addEnumFormat(pods.enumFormat({SPA_VIDEO_FORMAT_GRAY8}, SPA_CHOICE_None, {{640, 480}}), grey);
    EXPECT_TRUE(grey.offers.empty());
    EXPECT_EQ(grey.kinds, std::vector {PictureKind::Greyscale});
}

TEST(PipeWireFormats, FixedFormatAskedForIsTheFormatNegotiated)
{
    const FormatInfo *yuy2 = formatInfo(FOURCC_YUY2, 16);
    const FormatInfo *mjpg = formatInfo(FOURCC_MJPG, 24);
    const FormatInfo *rgb24 = formatInfo(BI_RGB, 24);
    ASSERT_TRUE(yuy2 && mjpg && rgb24);
    for (const PipeWireOffer &offer : {
             PipeWireOffer {yuy2->at(640, 480), SPA_VIDEO_FORMAT_YUY2, false},
             PipeWireOffer {rgb24->at(176, 144), SPA_VIDEO_FORMAT_BGR, false},
             PipeWireOffer {mjpg->at(1280, 720), 0, true},
         }) {
        Pods pods;
        const spa_pod *pod = fixedFormatPod(offer, pods.builder());
        ASSERT_NE(pod, nullptr);
        EXPECT_EQ(negotiatedFormat(pod), offer) << offer.format.width;
    }
    // A format we do not decode is refused when the producer settles on it.
    Pods pods;
    EXPECT_FALSE(
        negotiatedFormat(pods.enumFormat({SPA_VIDEO_FORMAT_GRAY8}, SPA_CHOICE_None, {{640, 480}})));
    // A builder too small for the pod gives none.
    std::array<std::uint8_t, 16> tiny {};
    spa_pod_builder small {};
    spa_pod_builder_init(&small, tiny.data(), std::uint32_t(tiny.size()));
    EXPECT_EQ(fixedFormatPod({yuy2->at(640, 480), SPA_VIDEO_FORMAT_YUY2, false}, small), nullptr);
}

TEST(PipeWireFormats, PropInfoBecomesV4l2ControlsAndPropsCarryThemBack)
{
    Pods pods;
    const std::optional<DriverControl> brightness = controlFromPropInfo(
        pods.propInfo(SPA_PROP_brightness, "Brightness", SPA_CHOICE_Step, {128, 0, 255, 2}));
    ASSERT_TRUE(brightness);
    EXPECT_EQ(brightness->id, std::uint32_t(V4L2_CID_BRIGHTNESS));
    EXPECT_EQ(brightness->kind, DriverControl::Kind::Integer);
    EXPECT_EQ((std::array {brightness->minimum, brightness->maximum, brightness->step,
                           brightness->defaultValue}),
              (std::array {0, 255, 2, 128}));

    // Controls without a property of their own come as the custom range plus the V4L2 id.
    const std::optional<DriverControl> powerLine = controlFromPropInfo(pods.propInfo(
        SPA_PROP_START_CUSTOM + V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency",
        SPA_CHOICE_Enum, {1, 0, 1, 2}, {{0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}}));
    ASSERT_TRUE(powerLine);
    EXPECT_EQ(powerLine->id, std::uint32_t(V4L2_CID_POWER_LINE_FREQUENCY));
    EXPECT_EQ(powerLine->kind, DriverControl::Kind::Menu);
    ASSERT_EQ(powerLine->items.size(), 3U);
    EXPECT_EQ(powerLine->items[2].name, "60 Hz");
    EXPECT_EQ(std::pair(powerLine->minimum, powerLine->maximum), std::pair(0, 2));

    const std::optional<DriverControl> autoWhite = controlFromPropInfo(
        pods.propInfo(SPA_PROP_START_CUSTOM + V4L2_CID_AUTO_WHITE_BALANCE, "White Balance, Auto",
                      SPA_CHOICE_Enum, {1, 0, 1}, {}, true));
    ASSERT_TRUE(autoWhite);
    EXPECT_EQ(autoWhite->kind, DriverControl::Kind::Boolean);
    EXPECT_EQ(autoWhite->defaultValue, 1);

    for (const std::uint32_t id : {std::uint32_t(V4L2_CID_GAIN), std::uint32_t(V4L2_CID_HUE),
                                   std::uint32_t(V4L2_CID_POWER_LINE_FREQUENCY)})
        EXPECT_EQ(controlIdOfProp(propOfControlId(id)), id);
    EXPECT_EQ(propOfControlId(V4L2_CID_SHARPNESS), std::uint32_t(SPA_PROP_sharpness));

    // What setting a control sends: the node's property with the value.
    const spa_pod *props
        = propsPod(SPA_PROP_brightness, DriverControl::Kind::Integer, 77, pods.builder());
    ASSERT_NE(props, nullptr);
    const spa_pod_prop *prop = spa_pod_find_prop(props, nullptr, SPA_PROP_brightness);
    std::int32_t value = 0;
    ASSERT_TRUE(prop && spa_pod_get_int(&prop->value, &value) == 0);
    EXPECT_EQ(value, 77);
}

} // namespace
} // namespace capturetest
