#pragma once

#include "platform/core/UniqueFd.h"

namespace platform {

// Routes SIGTERM and SIGINT to a descriptor that becomes readable when one arrives, so that an
// event loop can end the process in order instead of being killed mid-step. Returns the read end
// (invalid on failure); call once per process.
UniqueFd watchTerminationSignals();

} // namespace platform
