#pragma once

#include <QFont>

#include <cstdint>
#include <functional>

// Pixels per logical inch of the screen, 96 when the screen reports 0 or less (or there is no
// screen). Label fonts are scaled by it so that their text keeps its size in pixels.
std::int32_t GetScreenDpi();
// For tests: where GetScreenDpi takes its reading from; an empty function restores the screen.
void setScreenDpiSource(std::function<std::int32_t()> source);

// "Arial" at points × 96 ÷ GetScreenDpi(): the point size shrinks on denser screens so that the
// text keeps its size in pixels.
QFont ArialAtScreenDpi(double points);
