#pragma once

#include <QLoggingCategory>

// Diagnostics of the registry store ("vedereve.platform.registry").
Q_DECLARE_LOGGING_CATEGORY(lcRegistry)
