#pragma once

class QWidget;

// The skin pictures of a panel's controls, each given to the control of its name.
namespace PanelSkin {

// The compiled-in pictures.
void assignBuiltIn(QWidget &panel);
// The pictures of the resource library that the settings name, when there is one. Each control
// gets whatever the library gives: a picture it lacks leaves its control without one.
void assignFromResourceLibrary(QWidget &panel);

} // namespace PanelSkin
