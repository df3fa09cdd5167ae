#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

// Resource libraries: binary Qt resource bundles (.rcc) opened at run time and addressed by a
// 32-bit handle, holding resources by type and name ("WAVE/NAME"). Each open library is mapped
// under a root of its own, so two libraries, or the same file opened twice, never shadow each
// other or the executable's compiled-in resources.
namespace platform {

// A resource found in an open library. It stays usable only while that library is open; size()
// and bytes() of a closed library's resource return 0 and nothing.
struct ResourceRef
{
    std::uint32_t library = 0;
    QString path;
};

class ResourceLibrary final
{
public:
    using Handle = std::uint32_t; // 0 = none

    // Bundles are read whole into memory; a larger file is refused rather than read.
    static constexpr qint64 maxFileSize = qint64(32) * 1024 * 1024;
    // Bound on one resource after decompression, against a small file that expands hugely.
    static constexpr qint64 maxResourceSize = maxFileSize;

    ResourceLibrary() = delete;

    // Reads and checks the bundle at path and registers it. Returns its handle, or 0 when the
    // file is missing, not a regular file, larger than maxFileSize or not a well-formed bundle.
    static Handle open(const QString &path);
    // Unregisters the library. False (and nothing happens) for 0 or a handle not open.
    static bool close(Handle library);

    // Looks up type/name with both folded to upper case, as resource names are stored. Names
    // that could step outside the library (empty, containing '/' or '\\') are never found.
    static std::optional<ResourceRef> findResource(Handle library, QStringView type,
                                                   QStringView name);
    // Size of the resource's bytes after decompression; 0 when it is gone or unreadable.
    static qint64 size(const ResourceRef &resource);
    // The resource's bytes; empty when it is gone, unreadable or above maxResourceSize.
    static QByteArray bytes(const ResourceRef &resource);
};

// True when every offset reachable from the bundle's root directory lies inside data: the
// header, each tree node, each name and each data block. Qt trusts these offsets when it reads
// a bundle from memory, so nothing unchecked is handed to it.
bool isWellFormedResourceBundle(QByteArrayView data);

} // namespace platform
