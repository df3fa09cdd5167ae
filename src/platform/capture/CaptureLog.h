#pragma once

#include <QLoggingCategory>

// Diagnostics of the capture stand-ins: windows, drivers and decompressors
// ("vedereve.platform.capture"), and every device ioctl ("vedereve.platform.v4l2", debug level).
Q_DECLARE_LOGGING_CATEGORY(lcCapture)
Q_DECLARE_LOGGING_CATEGORY(lcV4l2)
