#pragma once

// The desktop's camera portal: asks for access to the cameras and, once granted, hands out a
// descriptor connected to the PipeWire daemon that shows the cameras only. The request runs on
// the session bus in the background (the person may be asked); nothing waits for it.
namespace platform::vfw {

// Starts a request unless one is running or was answered; quietly nothing without a session
// bus, a portal or a camera.
void requestPortalDescriptor();
// The descriptor a granted request brought, once (the caller owns it); -1 when there is none.
int takePortalDescriptor();
// A granted request's descriptor waits to be taken.
bool portalDescriptorWaiting();

} // namespace platform::vfw
