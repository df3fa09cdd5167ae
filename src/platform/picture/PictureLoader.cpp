#include "platform/picture/PictureLoader.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QLoggingCategory>

#include <limits>

#include "platform/core/System.h"

Q_LOGGING_CATEGORY(lcPicture, "vedereve.platform.picture", QtWarningMsg)

namespace platform::picture {

namespace {

std::optional<QImage> readFrom(QImageReader &reader)
{
    reader.setAllocationLimit(allocationLimitMb);
    // Check the declared size first, so a small file that claims a huge picture costs nothing.
    // Readers that cannot tell the size before decoding still run under the allocation limit.
    const QSize declared = reader.size();
    if (declared.isValid()) {
        const qint64 bytes = qint64(declared.width()) * declared.height() * 4;
        if (declared.isEmpty() || bytes > qint64(allocationLimitMb) * 1024 * 1024) {
            qCDebug(lcPicture) << "picture refused, size" << declared;
            return std::nullopt;
        }
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        qCDebug(lcPicture) << "picture not read:" << reader.errorString();
        return std::nullopt;
    }
    return image;
}

} // namespace

std::optional<QImage> loadFromBytes(const std::uint8_t *data, std::size_t size)
{
    if (!data || size == 0 || size > std::size_t(std::numeric_limits<int>::max()))
        return std::nullopt;
    // The reader only reads during this call, so the caller's bytes need no copy.
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return std::nullopt;
    QImageReader reader(&buffer);
    return readFrom(reader);
}

std::optional<QImage> loadFromFile(const QString &path)
{
    const auto bytes = platform::readRegularFile(path.toStdString(), maxFileBytes);
    if (!bytes)
        return std::nullopt;
    return loadFromBytes(bytes->data(), bytes->size());
}

} // namespace platform::picture
