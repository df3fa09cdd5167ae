#include "platform/capture/PipeWireFormats.h"

#include <linux/videodev2.h>
#include <spa/buffer/buffer.h>
#include <spa/param/format-utils.h>
#include <spa/param/param.h>
#include <spa/param/props.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/pod/iter.h>

#include <algorithm>
#include <array>
#include <utility>

namespace platform::vfw {

namespace {

// Raw video formats and the Video4Linux code whose format-table row describes the same bytes.
// Greyscale codes have no row we decode; they still tell what a node's pictures show.
struct SpaFormatRow
{
    std::uint32_t spaFormat;
    std::uint32_t v4l2Code;
};
constexpr std::array kSpaFormats {
    SpaFormatRow {SPA_VIDEO_FORMAT_YUY2, V4L2_PIX_FMT_YUYV},
    SpaFormatRow {SPA_VIDEO_FORMAT_UYVY, V4L2_PIX_FMT_UYVY},
    SpaFormatRow {SPA_VIDEO_FORMAT_NV12, V4L2_PIX_FMT_NV12},
    SpaFormatRow {SPA_VIDEO_FORMAT_NV21, V4L2_PIX_FMT_NV21},
    SpaFormatRow {SPA_VIDEO_FORMAT_I420, V4L2_PIX_FMT_YUV420},
    // Byte order in memory: BGR is blue, green, red; RGB is red first (swapped on the copy).
    SpaFormatRow {SPA_VIDEO_FORMAT_BGR, V4L2_PIX_FMT_BGR24},
    SpaFormatRow {SPA_VIDEO_FORMAT_RGB, V4L2_PIX_FMT_RGB24},
    SpaFormatRow {SPA_VIDEO_FORMAT_BGRx, V4L2_PIX_FMT_XBGR32},
    SpaFormatRow {SPA_VIDEO_FORMAT_BGRA, V4L2_PIX_FMT_ABGR32},
    SpaFormatRow {SPA_VIDEO_FORMAT_GRAY8, V4L2_PIX_FMT_GREY},
    SpaFormatRow {SPA_VIDEO_FORMAT_GRAY16_LE, V4L2_PIX_FMT_Y16},
};

// Sizes offered for a node that describes a range rather than a list (as for V4L2 devices).
constexpr std::pair<std::uint32_t, std::uint32_t> kCommonSizes[] = {
    {160, 120}, {176, 144}, {320, 240},  {352, 288},
    {640, 480}, {800, 600}, {1280, 720}, {1920, 1080},
};

// Bounds what a hostile or broken node's parameters can make us store.
constexpr std::size_t kMaxOffers = 256;
constexpr std::uint32_t kMaxMenuItems = 64;

// The values of a property: a plain value, or a choice whose first value is its default.
struct Values
{
    const void *data = nullptr;
    std::uint32_t count = 0;
    std::uint32_t choice = SPA_CHOICE_None;
    std::uint32_t type = SPA_TYPE_None;
};

Values valuesOf(const spa_pod *object, std::uint32_t key)
{
    const spa_pod_prop *prop = spa_pod_find_prop(object, nullptr, key);
    if (!prop)
        return {};
    Values values;
    const spa_pod *child = spa_pod_get_values(&prop->value, &values.count, &values.choice);
    values.type = child->type;
    values.data = SPA_POD_BODY_CONST(child);
    if (values.count == 0)
        values.data = nullptr;
    return values;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> sizesOf(const Values &values)
{
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;
    if (values.type != SPA_TYPE_Rectangle || !values.data)
        return sizes;
    const auto *rect = static_cast<const spa_rectangle *>(values.data);
    const auto add = [&](std::uint32_t w, std::uint32_t h) {
        if (w > 0 && h > 0 && w <= 0xFFFF && h <= 0xFFFF
            && std::find(sizes.begin(), sizes.end(), std::make_pair(w, h)) == sizes.end())
            sizes.emplace_back(w, h);
    };
    add(rect[0].width, rect[0].height);
    switch (values.choice) {
    case SPA_CHOICE_Range:
    case SPA_CHOICE_Step:
        if (values.count >= 3) {
            const spa_rectangle &low = rect[1], &high = rect[2];
            for (const auto &[w, h] : kCommonSizes) {
                if (w >= low.width && w <= high.width && h >= low.height && h <= high.height)
                    add(w, h);
            }
        }
        break;
    case SPA_CHOICE_Enum:
        for (std::uint32_t i = 1; i < values.count; ++i)
            add(rect[i].width, rect[i].height);
        break;
    default:
        break;
    }
    return sizes;
}

std::vector<std::uint32_t> idsOf(const Values &values)
{
    std::vector<std::uint32_t> ids;
    if (values.type != SPA_TYPE_Id || !values.data)
        return ids;
    const auto *id = static_cast<const std::uint32_t *>(values.data);
    // An enumeration repeats its default among the alternatives; flags and ranges mean nothing
    // for an id.
    const std::uint32_t count = values.choice == SPA_CHOICE_Enum ? values.count : 1;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (std::find(ids.begin(), ids.end(), id[i]) == ids.end())
            ids.push_back(id[i]);
    }
    return ids;
}

const FormatInfo *decodedRow(std::uint32_t spaFormat)
{
    const std::optional<DeviceFormat> device = formatForDevice(v4l2CodeOfSpaFormat(spaFormat));
    return device && device->bytes != DeviceBytes::Converted ? device->info : nullptr;
}

// Video4Linux controls the camera nodes expose under properties of their own.
constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, 8> kNamedProps {{
    {SPA_PROP_brightness, V4L2_CID_BRIGHTNESS},
    {SPA_PROP_contrast, V4L2_CID_CONTRAST},
    {SPA_PROP_saturation, V4L2_CID_SATURATION},
    {SPA_PROP_hue, V4L2_CID_HUE},
    {SPA_PROP_gamma, V4L2_CID_GAMMA},
    {SPA_PROP_exposure, V4L2_CID_EXPOSURE},
    {SPA_PROP_gain, V4L2_CID_GAIN},
    {SPA_PROP_sharpness, V4L2_CID_SHARPNESS},
}};

} // namespace

std::uint32_t v4l2CodeOfSpaFormat(std::uint32_t spaFormat)
{
    for (const SpaFormatRow &row : kSpaFormats) {
        if (row.spaFormat == spaFormat)
            return row.v4l2Code;
    }
    return 0;
}

void addEnumFormat(const spa_pod *param, PipeWireFormats &out)
{
    std::uint32_t mediaType = 0, mediaSubtype = 0;
    if (!param || !spa_pod_is_object_type(param, SPA_TYPE_OBJECT_Format)
        || spa_format_parse(param, &mediaType, &mediaSubtype) < 0
        || mediaType != SPA_MEDIA_TYPE_video)
        return;
    const auto sizes = sizesOf(valuesOf(param, SPA_FORMAT_VIDEO_size));
    auto offer = [&](const FormatInfo &info, std::uint32_t spaFormat, bool mjpg) {
        for (const auto &[w, h] : sizes) {
            const PipeWireOffer candidate {info.at(std::int32_t(w), std::int32_t(h)), spaFormat,
                                           mjpg};
            if (out.offers.size() < kMaxOffers && frameBytes(candidate.format)
                && std::find(out.offers.begin(), out.offers.end(), candidate) == out.offers.end())
                out.offers.push_back(candidate);
        }
    };
    if (mediaSubtype == SPA_MEDIA_SUBTYPE_mjpg) {
        out.kinds.push_back(PictureKind::Colour);
        if (const FormatInfo *info = formatInfo(FOURCC_MJPG, 24))
            offer(*info, 0, true);
        return;
    }
    if (mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
        return; // H.264 and the like: colour, but nothing we take
    for (const std::uint32_t spaFormat : idsOf(valuesOf(param, SPA_FORMAT_VIDEO_format))) {
        const std::uint32_t code = v4l2CodeOfSpaFormat(spaFormat);
        if (code)
            out.kinds.push_back(pictureKindOf(code));
        if (const FormatInfo *info = decodedRow(spaFormat))
            offer(*info, spaFormat, false);
    }
}

std::optional<PipeWireOffer> negotiatedFormat(const spa_pod *param)
{
    std::uint32_t mediaType = 0, mediaSubtype = 0;
    if (!param || spa_format_parse(param, &mediaType, &mediaSubtype) < 0
        || mediaType != SPA_MEDIA_TYPE_video)
        return std::nullopt;
    spa_rectangle size {};
    PipeWireOffer offer;
    const FormatInfo *info = nullptr;
    if (mediaSubtype == SPA_MEDIA_SUBTYPE_mjpg) {
        spa_video_info_mjpg mjpg {};
        if (spa_format_video_mjpg_parse(param, &mjpg) < 0)
            return std::nullopt;
        size = mjpg.size;
        offer.mjpg = true;
        info = formatInfo(FOURCC_MJPG, 24);
    } else if (mediaSubtype == SPA_MEDIA_SUBTYPE_raw) {
        spa_video_info_raw raw {};
        if (spa_format_video_raw_parse(param, &raw) < 0)
            return std::nullopt;
        size = raw.size;
        offer.spaFormat = raw.format;
        info = decodedRow(raw.format);
    }
    if (!info || size.width == 0 || size.height == 0 || size.width > 0xFFFF || size.height > 0xFFFF)
        return std::nullopt;
    offer.format = info->at(std::int32_t(size.width), std::int32_t(size.height));
    if (!frameBytes(offer.format))
        return std::nullopt;
    return offer;
}

const spa_pod *fixedFormatPod(const PipeWireOffer &offer, spa_pod_builder &builder)
{
    spa_pod_frame frame;
    spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_prop(&builder, SPA_FORMAT_mediaType, 0);
    spa_pod_builder_id(&builder, SPA_MEDIA_TYPE_video);
    spa_pod_builder_prop(&builder, SPA_FORMAT_mediaSubtype, 0);
    spa_pod_builder_id(&builder, offer.mjpg ? SPA_MEDIA_SUBTYPE_mjpg : SPA_MEDIA_SUBTYPE_raw);
    if (!offer.mjpg) {
        spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_format, 0);
        spa_pod_builder_id(&builder, offer.spaFormat);
    }
    // A fixed size: offered a range, test sources and cameras alike settle on their own
    // default, not on the size asked for.
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_size, 0);
    spa_pod_builder_rectangle(&builder, std::uint32_t(offer.format.width),
                              std::uint32_t(offer.format.height));
    auto *pod = static_cast<const spa_pod *>(spa_pod_builder_pop(&builder, &frame));
    return builder.state.offset <= builder.size ? pod : nullptr;
}

const spa_pod *bufferParamsPod(spa_pod_builder &builder)
{
    spa_pod_frame object, choice;
    spa_pod_builder_push_object(&builder, &object, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
    // DMA buffers would arrive unmapped; memory and memfd buffers the stream maps for us.
    spa_pod_builder_prop(&builder, SPA_PARAM_BUFFERS_dataType, 0);
    spa_pod_builder_push_choice(&builder, &choice, SPA_CHOICE_Flags, 0);
    spa_pod_builder_int(&builder, (1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd));
    spa_pod_builder_pop(&builder, &choice);
    auto *pod = static_cast<const spa_pod *>(spa_pod_builder_pop(&builder, &object));
    return builder.state.offset <= builder.size ? pod : nullptr;
}

std::uint32_t controlIdOfProp(std::uint32_t spaProp)
{
    for (const auto &[prop, id] : kNamedProps) {
        if (prop == spaProp)
            return id;
    }
    return spaProp >= SPA_PROP_START_CUSTOM ? spaProp - SPA_PROP_START_CUSTOM : 0;
}

std::uint32_t propOfControlId(std::uint32_t controlId)
{
    for (const auto &[prop, id] : kNamedProps) {
        if (id == controlId)
            return prop;
    }
    return SPA_PROP_START_CUSTOM + controlId;
}

std::optional<DriverControl> controlFromPropInfo(const spa_pod *param)
{
    if (!param || !spa_pod_is_object_type(param, SPA_TYPE_OBJECT_PropInfo))
        return std::nullopt;
    const spa_pod_prop *idProp = spa_pod_find_prop(param, nullptr, SPA_PROP_INFO_id);
    const spa_pod_prop *nameProp = spa_pod_find_prop(param, nullptr, SPA_PROP_INFO_name);
    std::uint32_t spaProp = 0;
    const char *name = nullptr;
    if (!idProp || !nameProp || spa_pod_get_id(&idProp->value, &spaProp) < 0
        || spa_pod_get_string(&nameProp->value, &name) < 0 || !name)
        return std::nullopt;
    DriverControl control;
    control.id = controlIdOfProp(spaProp);
    control.name = name;
    if (control.id == 0)
        return std::nullopt;
    const Values type = valuesOf(param, SPA_PROP_INFO_type);
    if (!type.data)
        return std::nullopt;
    if (type.type == SPA_TYPE_Bool) {
        control.kind = DriverControl::Kind::Boolean;
        control.maximum = 1;
        control.defaultValue = *static_cast<const std::int32_t *>(type.data) ? 1 : 0;
        return control;
    }
    if (type.type != SPA_TYPE_Int)
        return std::nullopt;
    const auto *value = static_cast<const std::int32_t *>(type.data);
    control.defaultValue = value[0];
    if ((type.choice == SPA_CHOICE_Range || type.choice == SPA_CHOICE_Step) && type.count >= 3) {
        control.kind = DriverControl::Kind::Integer;
        control.minimum = value[1];
        control.maximum = value[2];
        control.step
            = type.choice == SPA_CHOICE_Step && type.count >= 4 ? std::max(value[3], 1) : 1;
        if (control.minimum > control.maximum)
            return std::nullopt;
        control.defaultValue = std::clamp(control.defaultValue, control.minimum, control.maximum);
        return control;
    }
    if (type.choice != SPA_CHOICE_Enum)
        return std::nullopt;
    // A menu: its values, named by the labels (pairs of value and text).
    control.kind = DriverControl::Kind::Menu;
    const spa_pod_prop *labels = spa_pod_find_prop(param, nullptr, SPA_PROP_INFO_labels);
    if (labels && spa_pod_is_struct(&labels->value)) {
        const void *body = SPA_POD_BODY_CONST(&labels->value);
        const std::uint32_t size = SPA_POD_BODY_SIZE(&labels->value);
        std::optional<std::int32_t> pending;
        for (auto *item = static_cast<const spa_pod *>(body); spa_pod_is_inside(body, size, item);
             item = static_cast<const spa_pod *>(spa_pod_next(item))) {
            std::int32_t number = 0;
            const char *text = nullptr;
            if (spa_pod_get_int(item, &number) == 0) {
                pending = number;
            } else if (pending && spa_pod_get_string(item, &text) == 0 && text
                       && control.items.size() < kMaxMenuItems) {
                control.items.push_back({*std::exchange(pending, std::nullopt), text});
            }
        }
    }
    if (control.items.empty()) {
        for (std::uint32_t i = 1; i < type.count && control.items.size() < kMaxMenuItems; ++i)
            control.items.push_back({value[i], std::to_string(value[i])});
    }
    if (control.items.empty())
        return std::nullopt;
    const auto [low, high]
        = std::minmax_element(control.items.begin(), control.items.end(),
                              [](const DriverControl::MenuItem &a,
                                 const DriverControl::MenuItem &b) { return a.value < b.value; });
    control.minimum = low->value;
    control.maximum = high->value;
    return control;
}

const spa_pod *propsPod(std::uint32_t spaProp, DriverControl::Kind kind, std::int32_t value,
                        spa_pod_builder &builder)
{
    spa_pod_frame frame;
    spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_Props, SPA_PARAM_Props);
    spa_pod_builder_prop(&builder, spaProp, 0);
    if (kind == DriverControl::Kind::Boolean)
        spa_pod_builder_bool(&builder, value != 0);
    else
        spa_pod_builder_int(&builder, value);
    auto *pod = static_cast<const spa_pod *>(spa_pod_builder_pop(&builder, &frame));
    return builder.state.offset <= builder.size ? pod : nullptr;
}

} // namespace platform::vfw
