#include "platform/capture/CaptureLog.h"

Q_LOGGING_CATEGORY(lcCapture, "vedereve.platform.capture", QtWarningMsg)
Q_LOGGING_CATEGORY(lcV4l2, "vedereve.platform.v4l2", QtWarningMsg)
