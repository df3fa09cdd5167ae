#pragma once

#include <QLoggingCategory>

// Diagnostics of the shared-memory stand-in ("vedereve.platform.shm").
Q_DECLARE_LOGGING_CATEGORY(lcShm)
