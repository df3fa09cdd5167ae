#include "platform/capture/TestPicture.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace platform::vfw {

namespace {

// A 5 x 7 pixel font for what the picture writes: rows top to bottom, bit 4 the leftmost pixel.
struct Glyph
{
    char character;
    std::array<std::uint8_t, 7> rows;
};

constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}},
    {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
};

const Glyph *glyphFor(char c)
{
    const char upper = char(std::toupper(static_cast<unsigned char>(c)));
    for (const Glyph &glyph : kFont) {
        if (glyph.character == upper)
            return &glyph;
    }
    return nullptr; // drawn as a space
}

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kBlack = 0x000000;
// White, yellow, cyan, green, magenta, red, blue, black, as 0xRRGGBB.
constexpr std::uint32_t kBars[]
    = {0xC0C0C0, 0xC0C000, 0x00C0C0, 0x00C000, 0xC000C0, 0xC00000, 0x0000C0, 0x101010};
constexpr int kBarCount = 8;

void fillRect(std::uint32_t *pixels, int width, int height, int x, int y, int w, int h,
              std::uint32_t colour)
{
    const int x0 = std::clamp(x, 0, width), x1 = std::clamp(x + w, 0, width);
    const int y0 = std::clamp(y, 0, height), y1 = std::clamp(y + h, 0, height);
    for (int row = y0; row < y1; ++row)
        std::fill(pixels + std::size_t(row) * width + x0, pixels + std::size_t(row) * width + x1,
                  colour);
}

} // namespace

TestPicture::TestPicture(int cameraNumber, std::string name)
    : m_cameraNumber(cameraNumber), m_label(std::move(name))
{ }

std::uint32_t TestPicture::adjusted(std::uint32_t colour) const
{
    return std::uint32_t(m_levels[(colour >> 16) & 0xFF]) << 16
        | std::uint32_t(m_levels[(colour >> 8) & 0xFF]) << 8 | m_levels[colour & 0xFF];
}

void TestPicture::prepareBackground(int width, int height, const PictureSettings &settings)
{
    if (width == m_width && height == m_height && settings == m_settings && !m_background.empty())
        return;
    m_width = width;
    m_height = height;
    m_settings = settings;
    for (int v = 0; v < 256; ++v) {
        const int level
            = (v - 128) * settings.contrast / 100 + 128 + settings.brightness * 255 / 100;
        m_levels[std::size_t(v)] = std::uint8_t(std::clamp(level, 0, 255));
    }
    m_background.assign(std::size_t(width) * std::size_t(height), 0);
    for (int bar = 0; bar < kBarCount; ++bar) {
        // Each camera starts its bars at a colour of its own.
        const int slot = settings.mirror ? kBarCount - 1 - bar : bar;
        const int colourIndex = (bar + m_cameraNumber - 1) % kBarCount;
        const int grey = 0x20 + colourIndex * 0x1C;
        const std::uint32_t colour = settings.pattern == 1
            ? std::uint32_t(grey << 16 | grey << 8 | grey)
            : kBars[colourIndex];
        const int x0 = slot * width / kBarCount, x1 = (slot + 1) * width / kBarCount;
        fillRect(m_background.data(), width, height, x0, 0, x1 - x0, height, adjusted(colour));
    }
}

TestPicture::Area TestPicture::drawText(std::uint32_t *pixels, int width, int height, int x, int y,
                                        int scale, std::string_view text) const
{
    const int cell = 6 * scale;
    // A dark band behind the text keeps it readable on every bar.
    const Area band {x - scale, y - scale, int(text.size()) * cell + scale, 9 * scale};
    fillRect(pixels, width, height, band.x, band.y, band.width, band.height, adjusted(kBlack));
    const std::uint32_t ink = adjusted(kWhite);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const Glyph *glyph = glyphFor(text[i]);
        if (!glyph)
            continue;
        for (int row = 0; row < 7; ++row) {
            for (int column = 0; column < 5; ++column) {
                if (glyph->rows[std::size_t(row)] & (0x10 >> column))
                    fillRect(pixels, width, height, x + int(i) * cell + column * scale,
                             y + row * scale, scale, scale, ink);
            }
        }
    }
    return band;
}

void TestPicture::drawMoving(std::uint32_t *pixels, int width, int height,
                             std::uint32_t frameNumber, std::vector<Area> &moving) const
{
    // The moving bar crosses the picture in 64 frames.
    const int barWidth = std::max(width / 16, 2);
    int barX
        = int(std::uint64_t(frameNumber % 64) * std::uint64_t(width + barWidth) / 64) - barWidth;
    if (m_settings.mirror)
        barX = width - barWidth - barX;
    fillRect(pixels, width, height, barX, 0, barWidth, height, adjusted(kWhite));
    moving.push_back({barX, 0, barWidth, height});

    const int scale = std::max(1, height / 120);
    const int margin = 4 * scale;
    char counter[32];
    std::snprintf(counter, sizeof counter, "#%d  %06u", m_cameraNumber, frameNumber % 1000000);
    const int columns = std::max(1, (width - 2 * margin) / (6 * scale));
    const std::string_view label = std::string_view(m_label).substr(0, std::size_t(columns));
    moving.push_back(drawText(pixels, width, height, margin, margin, scale, label));
    // The counter is what shows the picture is live: twice as large where there is room.
    const int counterScale = height >= 240 ? 2 * scale : scale;
    moving.push_back(drawText(pixels, width, height, margin, height - margin - 8 * counterScale,
                              counterScale, counter));
}

void TestPicture::render(std::uint32_t *pixels, int width, int height,
                         const PictureSettings &settings, std::uint32_t frameNumber)
{
    if (width <= 0 || height <= 0)
        return;
    prepareBackground(width, height, settings);
    std::copy(m_background.begin(), m_background.end(), pixels);
    std::vector<Area> moving;
    drawMoving(pixels, width, height, frameNumber, moving);
    m_haveFrame = false;
}

void TestPicture::renderChanges(std::uint32_t *pixels, int width, int height,
                                const PictureSettings &settings, std::uint32_t frameNumber,
                                std::vector<Area> &changed)
{
    changed.clear();
    if (width <= 0 || height <= 0)
        return;
    const bool same
        = m_haveFrame && width == m_width && height == m_height && settings == m_settings;
    prepareBackground(width, height, settings);
    if (!same) {
        std::copy(m_background.begin(), m_background.end(), pixels);
        m_drawn.clear();
        drawMoving(pixels, width, height, frameNumber, m_drawn);
        changed.push_back({0, 0, width, height});
        m_haveFrame = true;
        return;
    }
    // Put back the background where the last frame drew, then draw this frame's. The name's
    // band comes out the same every frame: it changes only where a bar crossed or crosses it,
    // which the bars' areas cover. drawMoving() gives the bar, the name and the counter.
    const auto clip = [&](const Area &area) {
        const int x0 = std::clamp(area.x, 0, width), x1 = std::clamp(area.x + area.width, 0, width);
        const int y0 = std::clamp(area.y, 0, height);
        const int y1 = std::clamp(area.y + area.height, 0, height);
        return Area {x0, y0, std::max(x1 - x0, 0), std::max(y1 - y0, 0)};
    };
    const auto noteChange = [&](const Area &area) {
        if (area.width > 0 && area.height > 0)
            changed.push_back(area);
    };
    for (std::size_t i = 0; i < m_drawn.size(); ++i) {
        const Area area = clip(m_drawn[i]);
        for (int row = area.y; row < area.y + area.height; ++row)
            std::copy_n(m_background.begin() + std::ptrdiff_t(row) * width + area.x, area.width,
                        pixels + std::ptrdiff_t(row) * width + area.x);
        if (i != 1)
            noteChange(area);
    }
    m_drawn.clear();
    drawMoving(pixels, width, height, frameNumber, m_drawn);
    for (std::size_t i = 0; i < m_drawn.size(); ++i) {
        if (i != 1)
            noteChange(clip(m_drawn[i]));
    }
}

} // namespace platform::vfw
