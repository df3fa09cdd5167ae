#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The virtual camera's picture: colour bars in an order of the camera's own, a bar that moves
// with every frame, the camera's name and a frame counter. A person can tell at a glance that it
// is live and which camera it is. Drawn in 32-bit pixels (blue, green, red, unused), top-down.
namespace platform::vfw {

struct PictureSettings
{
    int brightness = 0; // -100..100, added to every component
    int contrast = 100; // percent around mid grey
    bool mirror = false; // bars in reverse order, the bar moving the other way
    int pattern = 0; // 0 colour bars, 1 grey steps

    friend bool operator==(const PictureSettings &, const PictureSettings &) = default;
};

class TestPicture
{
public:
    // cameraNumber (1-based) picks the bar order and is drawn with the name.
    TestPicture(int cameraNumber, std::string name);

    // Draws frame frameNumber into pixels (width * height words, rows top-down).
    void render(std::uint32_t *pixels, int width, int height, const PictureSettings &settings,
                std::uint32_t frameNumber);

private:
    void prepareBackground(int width, int height, const PictureSettings &settings);
    void drawText(std::uint32_t *pixels, int width, int height, int x, int y, int scale,
                  std::string_view text) const;
    std::uint32_t adjusted(std::uint32_t colour) const;

    int m_cameraNumber;
    std::string m_label;
    // The background for the last size and settings, brightness and contrast already applied.
    std::vector<std::uint32_t> m_background;
    int m_width = 0;
    int m_height = 0;
    PictureSettings m_settings;
    std::array<std::uint8_t, 256> m_levels {};
};

} // namespace platform::vfw
