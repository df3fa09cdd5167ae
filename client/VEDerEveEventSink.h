#pragma once

#include "VEDerEveClientExport.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <cstdint>

// The parent's event sink: an object exported on the parent's connection that the component
// calls for each event and waits for. Connect to the signals directly (the default within one
// thread): the byte arrays are in-out, and what a handler leaves in them goes back to the
// component in the reply.
class VEDEREVE_CLIENT_EXPORT VEDerEveEventSink final : public QObject
{
    Q_OBJECT
public:
    explicit VEDerEveEventSink(QObject *parent = nullptr);
    ~VEDerEveEventSink() override;

    // Exports the sink at path on connection. Returns false when the path is taken.
    bool exportOn(QDBusConnection connection, const QString &path);
    const QString &path() const { return m_path; }

Q_SIGNALS:
    void MinMaxResize(bool Minimized, std::int32_t myHeight);
    void WebCamSnapShot(QByteArray &picHdr, std::int32_t imgNumber);
    void WebCamClientPicture(QByteArray &PicBytes, std::int32_t OrigSize, std::int32_t wd,
                             std::int32_t ht, std::int32_t bitsPerPixel,
                             std::int32_t WindowPosition);
    void EraseWebCam();
    void ReceiveCamImages(bool YorN);

private:
    QDBusConnection m_connection;
    QString m_path;
};
