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

    struct Area
    {
        int x, y, width, height;
    };
    // The same picture, drawn over the previous frame of the same size and settings in pixels:
    // only what moves (the bar, the text bands) is put back and drawn again. changed receives
    // the areas that differ from the previous frame; all of the picture when there was none.
    void renderChanges(std::uint32_t *pixels, int width, int height,
                       const PictureSettings &settings, std::uint32_t frameNumber,
                       std::vector<Area> &changed);

private:
    void prepareBackground(int width, int height, const PictureSettings &settings);
    // Draws text on its dark band; returns the band.
    Area drawText(std::uint32_t *pixels, int width, int height, int x, int y, int scale,
                  std::string_view text) const;
    // The bar and the two text bands of frameNumber; their areas in moving.
    void drawMoving(std::uint32_t *pixels, int width, int height, std::uint32_t frameNumber,
                    std::vector<Area> &moving) const;
    std::uint32_t adjusted(std::uint32_t colour) const;

    int m_cameraNumber;
    std::string m_label;
    // The background for the last size and settings, brightness and contrast already applied.
    std::vector<std::uint32_t> m_background;
    int m_width = 0;
    int m_height = 0;
    PictureSettings m_settings;
    std::array<std::uint8_t, 256> m_levels {};
    // What the last renderChanges() drew over the background, and whether its pixels still
    // hold that frame.
    std::vector<Area> m_drawn;
    bool m_haveFrame = false;
};

} // namespace platform::vfw
