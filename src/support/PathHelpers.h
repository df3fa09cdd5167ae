#pragma once

#include <QString>

// Texts and files the person chose: dialog buffers, paths, stored pictures.

// The text before the first NUL.
QString StripNulls(const QString &Buffer);
// The part of a path after its last "/" or "\".
QString FileNameOnly(const QString &Path);
// A stored picture counts only when its file is a regular file that opens for reading and has
// something in it; any other is left out as if it were gone.
bool PictureFileUsable(const QString &path);
