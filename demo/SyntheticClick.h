#pragma once

#include <QString>

#include <cstdint>

// A left click delivered through the X server's test extension, so that it reaches the window
// under the pointer exactly as a person's click would, whichever process owns that window.
// x and y are pixels inside window (an X window id). Returns false, with the reason in error,
// when there is no X display, no test extension, or no such window.
bool clickInWindow(std::uint32_t window, int x, int y, QString *error);
