#pragma once
// Makes the four table windows known to the window hub, so that the launcher buttons, the
// Ctrl shortcuts and the quick menu can show them.
namespace tesmo::ui {

void registerTableWindows();

} // namespace tesmo::ui
