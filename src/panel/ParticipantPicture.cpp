#include "exchange/modImageMemMapFunctions.h"
#include "panel/cveDerEve.h"

void cveDerEve::UpdateParticipantNow(std::int32_t MapHandle, const QString &, const QString &)
{
    // \todo Read, expand, decode and show the picture.
    if (MapHandle != 0)
        modImageMemMapFunctions::CloseHandle(MapHandle);
}
