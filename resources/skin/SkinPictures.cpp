#include "skin/SkinPictures.h"

#include <QtGlobal>

void initBuiltInSkin()
{
    Q_INIT_RESOURCE(skin);
}
