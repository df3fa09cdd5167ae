#pragma once

#include <QImage>
#include <QString>

#include <functional>

// Reads the picture at source (a path or a file URL) on a thread of its own that nobody waits
// for, and hands it to done on the application's thread. A read that fails never completes, and
// none completes once the application object is going. Only regular files are read, without
// blocking and up to the picture loader's bound; nothing is fetched over the network.
void ReadPictureAsync(const QString &source, std::function<void(const QImage &)> done);
