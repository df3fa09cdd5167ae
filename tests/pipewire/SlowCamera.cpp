// A PipeWire camera the tests control (GStreamer's test sources crash when their first frame
// waits):
//   vedereve-slow-camera NAME DESCRIPTION DELAY_MS [V4L2_PATH]
// Four quadrants (red, green / blue, white) in BGR, 320 x 240 at 30 frames/s, the first frame
// DELAY_MS after each start; "stall" and "resume" on standard input hold and release the frames,
// its end ends the camera. Prints "paused" once registered and "first" with the first frame.
// V4L2_PATH: the node says it serves that Video4Linux device, as a desktop's camera nodes do.

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kWidth = 320, kHeight = 240, kStride = kWidth * 3, kFrameMs = 33;

struct Camera
{
    pw_main_loop *loop = nullptr;
    pw_stream *stream = nullptr;
    spa_source *timer = nullptr;
    std::vector<std::uint8_t> frame;
    int delayMs = 0;
    bool stalled = false, sentFirst = false;
} camera;

void onProcess(void *)
{
    pw_buffer *buffer = pw_stream_dequeue_buffer(camera.stream);
    if (!buffer)
        return;
    spa_data &d = buffer->buffer->datas[0];
    if (d.data && d.maxsize >= camera.frame.size()) {
        std::memcpy(d.data, camera.frame.data(), camera.frame.size());
        *d.chunk = {0, std::uint32_t(camera.frame.size()), kStride, 0};
        if (!std::exchange(camera.sentFirst, true))
            std::puts("first");
    }
    pw_stream_queue_buffer(camera.stream, buffer);
}

void onTimer(void *, std::uint64_t)
{
    if (!camera.stalled)
        pw_stream_trigger_process(camera.stream);
}

void onStateChanged(void *, pw_stream_state, pw_stream_state state, const char *)
{
    pw_loop *loop = pw_main_loop_get_loop(camera.loop);
    if (state == PW_STREAM_STATE_ERROR) {
        pw_main_loop_quit(camera.loop);
    } else if (state == PW_STREAM_STATE_PAUSED) {
        pw_loop_update_timer(loop, camera.timer, nullptr, nullptr, false);
        std::puts("paused");
    } else if (state == PW_STREAM_STATE_STREAMING) {
        const int firstMs = camera.sentFirst ? kFrameMs : std::max(camera.delayMs, 1);
        timespec first {firstMs / 1000, (firstMs % 1000) * 1000000L},
            interval {0, kFrameMs * 1000000L};
        pw_loop_update_timer(loop, camera.timer, &first, &interval, false);
    }
}

void onParamChanged(void *, std::uint32_t id, const spa_pod *param)
{
    if (!param || id != SPA_PARAM_Format)
        return;
    std::uint8_t storage[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const spa_pod *params[] = {static_cast<const spa_pod *>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
        SPA_PARAM_BUFFERS_size, SPA_POD_Int(int(camera.frame.size())), SPA_PARAM_BUFFERS_stride,
        SPA_POD_Int(kStride), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))))};
    pw_stream_update_params(camera.stream, params, 1);
}

void onInput(void *, int fd, std::uint32_t)
{
    char line[64] = {};
    if (read(fd, line, sizeof line - 1) <= 0)
        pw_main_loop_quit(camera.loop);
    else // one command at a time: the test waits for its effect
        camera.stalled = std::string_view(line).starts_with("stall");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4)
        return 2;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    pw_init(&argc, &argv);
    camera.delayMs = std::atoi(argv[3]);
    constexpr std::uint8_t kBgr[4][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}};
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const std::uint8_t *c = kBgr[(y >= kHeight / 2) * 2 + (x >= kWidth / 2)];
            camera.frame.insert(camera.frame.end(), c, c + 3);
        }
    camera.loop = pw_main_loop_new(nullptr);
    pw_loop *loop = pw_main_loop_get_loop(camera.loop);
    camera.timer = pw_loop_add_timer(loop, onTimer, nullptr);
    pw_loop_add_io(loop, STDIN_FILENO, SPA_IO_IN | SPA_IO_HUP, false, onInput, nullptr);

    pw_stream_events events {};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = onStateChanged;
    events.param_changed = onParamChanged;
    events.process = onProcess;
    pw_properties *properties
        = pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                            PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_ROLE, "Camera",
                            PW_KEY_NODE_NAME, argv[1], PW_KEY_NODE_DESCRIPTION, argv[2], nullptr);
    if (argc > 4 && *argv[4])
        pw_properties_set(properties, "api.v4l2.path", argv[4]);
    camera.stream = pw_stream_new_simple(loop, argv[1], properties, &events, nullptr);

    std::uint8_t storage[512];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    spa_video_info_raw info {};
    info.format = SPA_VIDEO_FORMAT_BGR;
    info.size = {kWidth, kHeight};
    info.framerate = {1000 / kFrameMs, 1};
    const spa_pod *params[] = {spa_format_video_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    if (pw_stream_connect(camera.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                          pw_stream_flags(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS),
                          params, 1)
        < 0)
        return 1;
    pw_main_loop_run(camera.loop);
    pw_stream_destroy(camera.stream);
    pw_main_loop_destroy(camera.loop);
    pw_deinit();
    return 0;
}
