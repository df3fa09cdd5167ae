#pragma once

#include <QByteArray>

#include <cstdint>

// The frame record: the last frame the frame callback delivered. FrameBytes 0 means no new frame.
class clsImages
{
public:
    QByteArray FrameData;
    std::int32_t FrameBytes = 0;
    std::uint32_t FrameFlags = 0;
};

// The one record of the process, created by the first panel and kept to the end.
clsImages *CapturedFrame();
void CreateCapturedFrame();
