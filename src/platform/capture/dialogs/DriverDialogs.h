#pragma once

// The drivers' own dialogs, built from what the device reports: the format dialog lists its
// formats and sizes, the source dialog its controls (sliders for numbers, check boxes for
// switches, lists for menus). Choices are applied to the device at once; Cancel in the source
// dialog puts the controls back as they were.
namespace platform::vfw {

// Makes the capture windows show these dialogs. Call while a QApplication exists.
void installDriverDialogs();
void removeDriverDialogs();

} // namespace platform::vfw
