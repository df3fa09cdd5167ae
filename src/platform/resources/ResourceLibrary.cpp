#include "platform/resources/ResourceLibrary.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <QResource>
#include <QtEndian>

#include <map>
#include <vector>

Q_LOGGING_CATEGORY(lcResources, "vedereve.platform.resources", QtWarningMsg)

namespace platform {

namespace {

// Layout of a binary resource bundle (all numbers big-endian):
//   header: "qres", version, tree offset, data offset, names offset [, flags from version 3]
//   tree node: name offset (4), flags (2), then for a directory child count (4) and index of
//     the first child (4), for a file territory (2), language (2) and data offset (4); from
//     version 2 each node ends with an 8-byte modification time
//   name: length in UTF-16 units (2), hash (4), the UTF-16 units
//   data: length (4), the bytes
constexpr quint16 nodeIsDirectory = 0x02;

struct Reader
{
    QByteArrayView data;

    bool has(quint64 offset, quint64 length) const
    {
        return offset <= quint64(data.size()) && length <= quint64(data.size()) - offset;
    }
    quint32 u32(quint64 offset) const { return qFromBigEndian<quint32>(data.data() + offset); }
    quint16 u16(quint64 offset) const { return qFromBigEndian<quint16>(data.data() + offset); }
};

struct Library
{
    QByteArray data; // registered with Qt by address: never modified while open
    QString root;
};

QMutex libraryMutex;
std::map<ResourceLibrary::Handle, Library> libraries;
ResourceLibrary::Handle lastHandle = 0;

QString rootFor(ResourceLibrary::Handle handle)
{
    return QStringLiteral("/vedereve-resource-library-%1").arg(handle);
}

// Handles are not reused until the 32-bit count wraps, so a stale handle finds nothing.
ResourceLibrary::Handle nextHandle()
{
    do {
        ++lastHandle;
    } while (lastHandle == 0 || libraries.count(lastHandle) != 0);
    return lastHandle;
}

bool isSafeComponent(QStringView part)
{
    return !part.isEmpty() && !part.contains(u'/') && !part.contains(u'\\') && part != u"."
        && part != u"..";
}

// Exposes whether a path names a directory, which QResource keeps to itself.
class ResourceProbe final : public QResource
{
public:
    using QResource::isDir;
    using QResource::QResource;
};

} // namespace

bool isWellFormedResourceBundle(QByteArrayView data)
{
    const Reader in {data};
    if (!in.has(0, 20) || data.first(4) != QByteArrayView("qres"))
        return false;
    const quint32 version = in.u32(4);
    if (version < 1 || version > 3)
        return false;
    const quint64 tree = in.u32(8);
    const quint64 blobs = in.u32(12);
    const quint64 names = in.u32(16);
    if (version >= 3 && !in.has(0, 24))
        return false;
    const quint64 nodeSize = version >= 2 ? 22 : 14;
    if (!in.has(tree, nodeSize))
        return false;
    const quint64 nodeCount = (quint64(data.size()) - tree) / nodeSize;

    // A well-formed tree visits each node once; more visits mean shared or looping children.
    quint64 visits = 0;
    std::vector<quint64> pending {0};
    while (!pending.empty()) {
        const quint64 index = pending.back();
        pending.pop_back();
        if (index >= nodeCount || ++visits > nodeCount)
            return false;
        const quint64 node = tree + index * nodeSize;
        const quint16 flags = in.u16(node + 4);
        // The root's name is never read.
        if (index != 0) {
            const quint64 name = names + in.u32(node);
            if (!in.has(name, 6) || !in.has(name + 6, quint64(in.u16(name)) * 2))
                return false;
        }
        if (flags & nodeIsDirectory) {
            const quint64 count = in.u32(node + 6);
            const quint64 first = in.u32(node + 10);
            if (count == 0)
                continue;
            // Children always follow their directory; this also rules out cycles.
            if (first <= index || first >= nodeCount || count > nodeCount - first)
                return false;
            for (quint64 child = first; child < first + count; ++child)
                pending.push_back(child);
        } else if (index == 0) {
            return false;
        } else {
            const quint64 blob = blobs + in.u32(node + 10);
            if (!in.has(blob, 4) || !in.has(blob + 4, in.u32(blob)))
                return false;
        }
    }
    return true;
}

ResourceLibrary::Handle ResourceLibrary::open(const QString &path)
{
    if (path.isEmpty())
        return 0;
    // A FIFO or device would block or never end; only plain files are read.
    const QFileInfo info(path);
    if (!info.isFile()) {
        qCDebug(lcResources) << "no resource library at" << path;
        return 0;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcResources) << "cannot open resource library" << path << file.errorString();
        return 0;
    }
    if (file.size() > maxFileSize) {
        qCWarning(lcResources) << "resource library" << path << "is larger than" << maxFileSize;
        return 0;
    }
    // The file may grow after the size check: read one byte past the bound to notice.
    QByteArray data = file.read(maxFileSize + 1);
    if (data.size() > maxFileSize) {
        qCWarning(lcResources) << "resource library" << path << "is larger than" << maxFileSize;
        return 0;
    }
    if (!isWellFormedResourceBundle(data)) {
        qCWarning(lcResources) << path << "is not a well-formed resource library";
        return 0;
    }

    QMutexLocker lock(&libraryMutex);
    const Handle handle = nextHandle();
    Library &library = libraries[handle];
    library.data = std::move(data);
    library.root = rootFor(handle);
    if (!QResource::registerResource(reinterpret_cast<const uchar *>(library.data.constData()),
                                     library.root)) {
        qCWarning(lcResources) << "cannot register resource library" << path;
        libraries.erase(handle);
        return 0;
    }
    return handle;
}

bool ResourceLibrary::close(Handle library)
{
    QMutexLocker lock(&libraryMutex);
    const auto found = libraries.find(library);
    if (found == libraries.end())
        return false;
    QResource::unregisterResource(reinterpret_cast<const uchar *>(found->second.data.constData()),
                                  found->second.root);
    libraries.erase(found);
    return true;
}

std::optional<ResourceRef> ResourceLibrary::findResource(Handle library, QStringView type,
                                                         QStringView name)
{
    if (!isSafeComponent(type) || !isSafeComponent(name))
        return std::nullopt;
    QMutexLocker lock(&libraryMutex);
    const auto found = libraries.find(library);
    if (found == libraries.end())
        return std::nullopt;
    const QString path = QLatin1Char(':') + found->second.root + QLatin1Char('/')
        + type.toString().toUpper() + QLatin1Char('/') + name.toString().toUpper();
    const ResourceProbe probe(path, QLocale::c());
    if (!probe.isValid() || probe.isDir())
        return std::nullopt;
    return ResourceRef {library, path};
}

qint64 ResourceLibrary::size(const ResourceRef &resource)
{
    QMutexLocker lock(&libraryMutex);
    if (libraries.count(resource.library) == 0)
        return 0;
    const ResourceProbe probe(resource.path, QLocale::c());
    if (!probe.isValid() || probe.isDir())
        return 0;
    const qint64 size = probe.uncompressedSize();
    return size > 0 ? size : 0;
}

QByteArray ResourceLibrary::bytes(const ResourceRef &resource)
{
    QMutexLocker lock(&libraryMutex);
    if (libraries.count(resource.library) == 0)
        return {};
    const ResourceProbe probe(resource.path, QLocale::c());
    if (!probe.isValid() || probe.isDir())
        return {};
    const qint64 size = probe.uncompressedSize();
    if (size <= 0 || size > maxResourceSize) {
        qCWarning(lcResources) << resource.path << "has an unusable size" << size;
        return {};
    }
    QByteArray bytes = probe.uncompressedData();
    // A compressed block may expand to more than its header claimed.
    if (bytes.size() != size)
        return {};
    return bytes;
}

} // namespace platform
