#include "capture/CaptureSession.h"

#include "support/cDibSection.h"

CaptureSession::CaptureSession() = default;

CaptureSession::~CaptureSession()
{
    stop();
}

void CaptureSession::stop()
{
    m_CameraOn = false;
    // \todo Remove the callbacks, disconnect the driver, close the decompressor and destroy the
    // capture window once the capture platform exists.
    m_hic = 0;
    m_lwndc = 0;
}
