#pragma once

#include "skin/SkinPictures.h"

#include <QString>

inline QString sampleSkinFile(const char *fileName)
{
    return QStringLiteral(VEDEREVE_SAMPLE_SKIN_DIR "/") + QLatin1String(fileName);
}
