#include "platform/capture/PipeWirePortal.h"

namespace platform::vfw {

void requestPortalDescriptor()
{ }

int takePortalDescriptor()
{
    return -1;
}

bool portalDescriptorWaiting()
{
    return false;
}

} // namespace platform::vfw
