// An image reader that faults inside its read, as a broken decoder of a hostile picture would.
// Loaded by the receive tests as an image format plugin: pictures that begin with "FAULTPIC" go
// to it, through the same readers every picture file goes through.

#include <QImageIOHandler>
#include <QImageIOPlugin>

#include <cstdint>

namespace {

constexpr char kMagic[] = "FAULTPIC";

class FaultingHandler final : public QImageIOHandler
{
public:
    bool canRead() const override { return device() && device()->peek(8) == kMagic; }
    bool read(QImage *) override
    {
        static volatile std::uintptr_t address = 0;
        *reinterpret_cast<volatile int *>(address) = 1;
        return false;
    }
};

} // namespace

class FaultingImagePlugin final : public QImageIOPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "faultpic.json")
public:
    Capabilities capabilities(QIODevice *device, const QByteArray &format) const override
    {
        if (format == "faultpic")
            return CanRead;
        return device && device->peek(8) == kMagic ? CanRead : Capabilities();
    }
    QImageIOHandler *create(QIODevice *device, const QByteArray &format) const override
    {
        auto *handler = new FaultingHandler;
        handler->setDevice(device);
        handler->setFormat(format);
        return handler;
    }
};

#include "FaultingImagePlugin.moc"
