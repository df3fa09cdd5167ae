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

// Re-raises from's events other than MinMaxResize as to's, with the same arguments: direct
// signal-to-signal connections hand the very same array references on.
inline void relayEvents(WebCamEvents *from, WebCamEvents *to)
{
    QObject::connect(from, &WebCamEvents::EraseWebCam, to, &WebCamEvents::EraseWebCam,
                     Qt::DirectConnection);
    QObject::connect(from, &WebCamEvents::ReceiveCamImages, to, &WebCamEvents::ReceiveCamImages,
                     Qt::DirectConnection);
    QObject::connect(from, &WebCamEvents::WebCamSnapShot, to, &WebCamEvents::WebCamSnapShot,
                     Qt::DirectConnection);
    QObject::connect(from, &WebCamEvents::WebCamClientPicture, to,
                     &WebCamEvents::WebCamClientPicture, Qt::DirectConnection);
}
