#include "platform/picture/PictureLoader.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>
#include <QLoggingCategory>

#include <sys/stat.h>

#include <limits>

#include "platform/core/System.h"

Q_LOGGING_CATEGORY(lcPicture, "vedereve.platform.picture", QtWarningMsg)

namespace platform::picture {

namespace {

// Decodes what reader reads; nothing, and *why says why, for a picture refused or unreadable.
std::optional<QImage> readFrom(QImageReader &reader, QString *why)
{
    reader.setAllocationLimit(allocationLimitMb);
    // Check the declared size first, so a small file that claims a huge picture costs nothing.
    // Readers that cannot tell the size before decoding still run under the allocation limit.
    const QSize declared = reader.size();
    if (declared.isValid()) {
        const qint64 bytes = qint64(declared.width()) * declared.height() * 4;
        if (declared.isEmpty() || bytes > qint64(allocationLimitMb) * 1024 * 1024) {
            *why = QStringLiteral("a picture of %1 x %2 pixels, more than %3 MB decoded")
                       .arg(declared.width())
                       .arg(declared.height())
                       .arg(allocationLimitMb);
            return std::nullopt;
        }
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        *why = QStringLiteral("not a picture that can be read (%1)").arg(reader.errorString());
        return std::nullopt;
    }
    return image;
}

const char *fileKind(std::uint32_t mode)
{
    switch (mode & S_IFMT) {
    case S_IFDIR:
        return "a folder";
    case S_IFCHR:
        return "a character device";
    case S_IFBLK:
        return "a block device";
    case S_IFIFO:
        return "a FIFO";
    case S_IFSOCK:
        return "a socket";
    default:
        return "not a file of a known kind";
    }
}

QString describe(const platform::FileRefusal &refusal)
{
    switch (refusal.kind) {
    case platform::FileRefusal::CannotOpen:
        return QStringLiteral("cannot open it: ") + qt_error_string(refusal.error);
    case platform::FileRefusal::NotRegular:
        return QStringLiteral("%1, not a regular file")
            .arg(QLatin1StringView(fileKind(refusal.mode)));
    case platform::FileRefusal::TooLarge:
        return QStringLiteral("%1 bytes, more than the %2 a picture file may have")
            .arg(refusal.size)
            .arg(maxFileBytes);
    case platform::FileRefusal::ReadFailed:
        break;
    }
    return QStringLiteral("cannot read it: ") + qt_error_string(refusal.error);
}

// The reader only reads during this call, so the caller's bytes need no copy.
std::optional<QImage> decode(const std::uint8_t *data, std::size_t size, QString *why)
{
    QBuffer buffer;
    buffer.setData(QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!buffer.open(QIODevice::ReadOnly)) {
        *why = buffer.errorString();
        return std::nullopt;
    }
    QImageReader reader(&buffer);
    return readFrom(reader, why);
}

} // namespace

std::optional<QImage> loadFromBytes(const std::uint8_t *data, std::size_t size)
{
    if (!data || size == 0 || size > std::size_t(std::numeric_limits<int>::max()))
        return std::nullopt;
    QString why;
    std::optional<QImage> image = decode(data, size, &why);
    // Bytes come from other processes, as often as they like: not worth a warning each.
    if (!image)
        qCDebug(lcPicture).noquote() << "picture not read:" << why;
    return image;
}

std::optional<QImage> loadFromFile(const QString &path)
{
    platform::FileRefusal refusal;
    const auto bytes
        = platform::readRegularFile(QFile::encodeName(path).toStdString(), maxFileBytes, &refusal);
    QString why;
    std::optional<QImage> image;
    if (!bytes)
        why = describe(refusal);
    else if (!bytes->empty())
        image = decode(bytes->data(), bytes->size(), &why);
    else
        why = QStringLiteral("an empty file");
    // A path someone chose and the picture did not change: the log says why.
    if (!image)
        qCWarning(lcPicture).noquote() << "picture file" << path << "refused:" << why;
    return image;
}

} // namespace platform::picture
