#include "capture/clsImages.h"

#include <memory>

namespace {
std::unique_ptr<clsImages> g_capturedFrame;
}

clsImages *CapturedFrame()
{
    return g_capturedFrame.get();
}

void CreateCapturedFrame()
{
    // A second panel reuses the record: the callback has no context to tell them apart.
    if (!g_capturedFrame)
        g_capturedFrame = std::make_unique<clsImages>();
}
