#pragma once

#include <QImage>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

// Picture files (BMP, GIF, JPEG, PNG and whatever else the installed image readers take) from
// memory or disk, refused before decoding when the picture is absurdly large.
namespace platform::picture {

// Megabytes a decoded picture may take; the readers refuse larger allocations themselves too.
constexpr int allocationLimitMb = 64;
// Bytes a picture file may have.
constexpr std::size_t maxFileBytes = 32 * 1024 * 1024;

std::optional<QImage> loadFromBytes(const std::uint8_t *data, std::size_t size);
// Reads regular files only, without blocking (see platform::readRegularFile).
std::optional<QImage> loadFromFile(const QString &path);

} // namespace platform::picture
