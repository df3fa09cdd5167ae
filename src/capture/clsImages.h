#pragma once

#include <cstdint>
#include <vector>

#include "platform/capture/VfwTypes.h"

// The frame record: the last frame the frame callback delivered. FrameBytes 0 means no new frame
// (the capture timer sets it back to 0 once it has taken the frame).
class clsImages
{
public:
    std::vector<std::uint8_t> FrameData;
    std::int32_t FrameBytes = 0;
    std::uint32_t FrameFlags = 0;
};

// The one record of the process, created by the first panel and kept to the end. The callbacks
// reach it as process-wide state, since the capture window passes them no context; grabs are
// synchronous, so two panels of one process never interleave in it.
clsImages *CapturedFrame();
void CreateCapturedFrame();

// The capture window's callbacks, registered by the camera start. The frame callback runs inside
// the grab and copies the frame into CapturedFrame; the error callback only traces the driver's
// text, cut to 509 bytes. Both return 0.
std::int32_t MyFrameCallBack(platform::vfw::HWND hwnd, const platform::vfw::VIDEOHDR *lpVHdr);
std::int32_t MyErrorCallback(platform::vfw::HWND hwnd, std::int32_t nErrID,
                             const char *lpErrorText);
