#pragma once

#include "skin/SkinPictures.h"

#include <QString>

#include <string_view>

inline QString sampleSkinFile(const char *fileName)
{
    return QStringLiteral(VEDEREVE_SAMPLE_SKIN_DIR "/") + QLatin1String(fileName);
}

inline QString toQString(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}
