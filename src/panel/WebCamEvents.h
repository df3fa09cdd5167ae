#pragma once

#include <QByteArray>
#include <QObject>

#include <cstdint>

// The five events of the panel, re-raised unchanged by the host form and the automation object.
// Connections must be direct: the byte arrays are in-out references, and the handler runs before
// the raiser goes on.
class WebCamEvents : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    void MinMaxResize(bool Minimized, std::int32_t myHeight);
    void WebCamSnapShot(QByteArray &picHdr, std::int32_t imgNumber);
    void WebCamClientPicture(QByteArray &PicBytes, std::int32_t OrigSize, std::int32_t wd,
                             std::int32_t ht, std::int32_t bitsPerPixel,
                             std::int32_t WindowPosition);
    void EraseWebCam();
    void ReceiveCamImages(bool YorN);
};
