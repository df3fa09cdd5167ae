#pragma once

#include <cstdint>
#include <vector>

class cDibSection;

// Quality of every picture the component sends.
constexpr int jpegQuality = 70;

// The JPEG (JFIF) bytes of source, upright, at jpegQuality; an empty array when encoding failed.
// A bitmap of another depth than 24 bits is encoded from a 24-bit copy of the same size. The
// stream must fit into as many bytes as the 24-bit bitmap takes, or the encoding fails. Camera
// frames write the start and end trace lines around the encoding.
std::vector<std::uint8_t> EncodeJpeg(const cDibSection &source, bool isCameraFrame);
