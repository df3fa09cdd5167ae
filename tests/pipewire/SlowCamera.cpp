// A PipeWire camera that the tests control: a Video/Source node that sends its first frame only
// after a delay, stops sending while stalled and leaves when told.
//   vedereve-slow-camera NAME DESCRIPTION [DELAY_MS] [yuy2|bgr] [V4L2_PATH]
// V4L2_PATH: the node says it serves that Video4Linux device, as a desktop's camera nodes do.
// Picture: four quadrants, red top left, green top right, blue bottom left, white bottom right;
// 320 x 240 at 30 frames/s. Lines on standard input: "stall", "resume", "quit" (or end of input).
// Prints "paused" once the node is registered and "first" when the first frame goes out.
// GStreamer's test sources cannot be held back like this: they crash when their first frame waits.

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <unistd.h>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrameMs = 33;

struct Rgb
{
    std::uint8_t r, g, b;
};
constexpr std::array<Rgb, 4> kQuadrants {{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}}};

struct Camera
{
    pw_main_loop *loop = nullptr;
    pw_stream *stream = nullptr;
    spa_hook listener {};
    spa_source *timer = nullptr;
    spa_video_format wanted = SPA_VIDEO_FORMAT_YUY2;
    spa_video_info_raw format {};
    int delayMs = 0;
    bool stalled = false;
    bool sentFirst = false;
    std::string input;
};

void say(const char *line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

Rgb colourAt(int x, int y)
{
    return kQuadrants[std::size_t((y >= kHeight / 2) * 2 + (x >= kWidth / 2))];
}

// Limited-range BT.601, as cameras send it.
std::array<std::uint8_t, 3> toYuv(Rgb c)
{
    const int y = (66 * c.r + 129 * c.g + 25 * c.b + 128) / 256 + 16;
    const int u = (-38 * c.r - 74 * c.g + 112 * c.b + 128) / 256 + 128;
    const int v = (112 * c.r - 94 * c.g - 18 * c.b + 128) / 256 + 128;
    return {std::uint8_t(y), std::uint8_t(u), std::uint8_t(v)};
}

int strideOf(spa_video_format format)
{
    return format == SPA_VIDEO_FORMAT_YUY2 ? kWidth * 2 : (kWidth * 3 + 3) / 4 * 4;
}

void fill(const Camera &camera, std::uint8_t *out, int stride)
{
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t *row = out + std::ptrdiff_t(y) * stride;
        if (camera.format.format == SPA_VIDEO_FORMAT_YUY2) {
            for (int x = 0; x < kWidth; x += 2) {
                const auto yuv = toYuv(colourAt(x, y));
                const std::uint8_t pair[4] = {yuv[0], yuv[1], yuv[0], yuv[2]};
                std::memcpy(row + x * 2, pair, 4);
            }
        } else {
            for (int x = 0; x < kWidth; ++x) {
                const Rgb c = colourAt(x, y);
                row[x * 3] = c.b;
                row[x * 3 + 1] = c.g;
                row[x * 3 + 2] = c.r;
            }
        }
    }
}

void onProcess(void *data)
{
    auto &camera = *static_cast<Camera *>(data);
    pw_buffer *buffer = pw_stream_dequeue_buffer(camera.stream);
    if (!buffer)
        return;
    spa_data &d = buffer->buffer->datas[0];
    const int stride = strideOf(camera.format.format);
    if (d.data && d.maxsize >= std::uint32_t(stride * kHeight)) {
        fill(camera, static_cast<std::uint8_t *>(d.data), stride);
        d.chunk->offset = 0;
        d.chunk->stride = stride;
        d.chunk->size = std::uint32_t(stride * kHeight);
        if (!camera.sentFirst) {
            camera.sentFirst = true;
            say("first");
        }
    }
    pw_stream_queue_buffer(camera.stream, buffer);
}

void onTimer(void *data, std::uint64_t)
{
    auto &camera = *static_cast<Camera *>(data);
    if (!camera.stalled)
        pw_stream_trigger_process(camera.stream);
}

void armTimer(Camera &camera, int firstMs)
{
    timespec first {firstMs / 1000, long(firstMs % 1000) * 1000000L};
    timespec interval {0, long(kFrameMs) * 1000000L};
    if (firstMs <= 0)
        first = {0, firstMs < 0 ? 0 : 1};
    pw_loop_update_timer(pw_main_loop_get_loop(camera.loop), camera.timer,
                         firstMs < 0 ? nullptr : &first, firstMs < 0 ? nullptr : &interval, false);
}

void onStateChanged(void *data, pw_stream_state, pw_stream_state state, const char *error)
{
    auto &camera = *static_cast<Camera *>(data);
    if (state == PW_STREAM_STATE_ERROR) {
        std::fprintf(stderr, "slow camera: %s\n", error ? error : "stream error");
        pw_main_loop_quit(camera.loop);
    } else if (state == PW_STREAM_STATE_PAUSED) {
        armTimer(camera, -1);
        say("paused");
    } else if (state == PW_STREAM_STATE_STREAMING) {
        // The delay counts from each start, as a camera's does.
        armTimer(camera, camera.sentFirst ? kFrameMs : camera.delayMs);
    }
}

void onParamChanged(void *data, std::uint32_t id, const spa_pod *param)
{
    auto &camera = *static_cast<Camera *>(data);
    if (!param || id != SPA_PARAM_Format || spa_format_video_raw_parse(param, &camera.format) < 0)
        return;
    const int stride = strideOf(camera.format.format);
    std::uint8_t storage[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const spa_pod *params[] = {static_cast<const spa_pod *>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
        SPA_PARAM_BUFFERS_size, SPA_POD_Int(stride * kHeight), SPA_PARAM_BUFFERS_stride,
        SPA_POD_Int(stride), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))))};
    pw_stream_update_params(camera.stream, params, 1);
}

void onInput(void *data, int fd, std::uint32_t)
{
    auto &camera = *static_cast<Camera *>(data);
    char chunk[256];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) {
        pw_main_loop_quit(camera.loop);
        return;
    }
    camera.input.append(chunk, std::size_t(n));
    for (std::size_t end; (end = camera.input.find('\n')) != std::string::npos;) {
        const std::string line = camera.input.substr(0, end);
        camera.input.erase(0, end + 1);
        if (line == "stall")
            camera.stalled = true;
        else if (line == "resume")
            camera.stalled = false;
        else if (line == "quit")
            pw_main_loop_quit(camera.loop);
    }
}

pw_stream_events streamEvents()
{
    pw_stream_events events {};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = onStateChanged;
    events.param_changed = onParamChanged;
    events.process = onProcess;
    return events;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s NAME DESCRIPTION [DELAY_MS] [yuy2|bgr] [V4L2_PATH]\n",
                     argv[0]);
        return 2;
    }
    pw_init(&argc, &argv);
    Camera camera;
    camera.delayMs = argc > 3 ? std::atoi(argv[3]) : 0;
    if (argc > 4 && std::string_view(argv[4]) == "bgr")
        camera.wanted = SPA_VIDEO_FORMAT_BGR;
    camera.loop = pw_main_loop_new(nullptr);
    pw_loop *loop = pw_main_loop_get_loop(camera.loop);
    camera.timer = pw_loop_add_timer(loop, onTimer, &camera);
    const pw_stream_events events = streamEvents();
    pw_loop_add_io(loop, STDIN_FILENO, SPA_IO_IN | SPA_IO_HUP, false, onInput, &camera);

    pw_properties *properties
        = pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                            PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_ROLE, "Camera",
                            PW_KEY_NODE_NAME, argv[1], PW_KEY_NODE_DESCRIPTION, argv[2], nullptr);
    if (argc > 5)
        pw_properties_set(properties, "api.v4l2.path", argv[5]);
    camera.stream = pw_stream_new_simple(loop, argv[1], properties, &events, &camera);

    std::uint8_t storage[512];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    spa_rectangle size {kWidth, kHeight};
    spa_fraction rate {1000 / kFrameMs, 1};
    const spa_pod *params[] = {static_cast<const spa_pod *>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format, SPA_POD_Id(camera.wanted),
        SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size), SPA_FORMAT_VIDEO_framerate,
        SPA_POD_Fraction(&rate)))};
    const int rc = pw_stream_connect(
        camera.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
        pw_stream_flags(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    if (rc < 0) {
        std::fprintf(stderr, "slow camera: cannot connect (%s)\n", std::strerror(-rc));
        return 1;
    }
    pw_main_loop_run(camera.loop);
    pw_stream_destroy(camera.stream);
    pw_main_loop_destroy(camera.loop);
    pw_deinit();
    return 0;
}
