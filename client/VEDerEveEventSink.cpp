#include "VEDerEveEventSink.h"

#include <QDBusAbstractAdaptor>

namespace {

// Serves the sink interface on the bus and hands each call to the sink's signals. The reply of
// the two picture events carries the array as the handlers left it.
class SinkAdaptor final : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.zedazido.VEDerEve.__zozEZUdeZid")
public:
    explicit SinkAdaptor(VEDerEveEventSink *sink) : QDBusAbstractAdaptor(sink), m_sink(sink) { }

public Q_SLOTS:
    void MinMaxResize(bool Minimized, int myHeight)
    {
        Q_EMIT m_sink->MinMaxResize(Minimized, myHeight);
    }
    QByteArray WebCamSnapShot(const QByteArray &picHdr, int imgNumber)
    {
        QByteArray inOut = picHdr;
        Q_EMIT m_sink->WebCamSnapShot(inOut, imgNumber);
        return inOut;
    }
    QByteArray WebCamClientPicture(const QByteArray &PicBytes, int OrigSize, int wd, int ht,
                                   int bitsPerPixel, int WindowPosition)
    {
        QByteArray inOut = PicBytes;
        Q_EMIT m_sink->WebCamClientPicture(inOut, OrigSize, wd, ht, bitsPerPixel, WindowPosition);
        return inOut;
    }
    void EraseWebCam() { Q_EMIT m_sink->EraseWebCam(); }
    void ReceiveCamImages(bool YorN) { Q_EMIT m_sink->ReceiveCamImages(YorN); }

private:
    VEDerEveEventSink *m_sink;
};

} // namespace

VEDerEveEventSink::VEDerEveEventSink(QObject *parent) : QObject(parent), m_connection(QString())
{
    new SinkAdaptor(this);
}

VEDerEveEventSink::~VEDerEveEventSink()
{
    if (!m_path.isEmpty())
        m_connection.unregisterObject(m_path);
}

bool VEDerEveEventSink::exportOn(QDBusConnection connection, const QString &path)
{
    if (!m_path.isEmpty())
        m_connection.unregisterObject(m_path);
    m_path.clear();
    m_connection = std::move(connection);
    if (!m_connection.registerObject(path, this, QDBusConnection::ExportAdaptors))
        return false;
    m_path = path;
    return true;
}

#include "VEDerEveEventSink.moc"
