#pragma once
// Makes the 監視条件 and シグナル windows known to the window hub, so that the main window, the
// tray's quick menu and the tray's announcement can show them.
namespace tesmo::ui {

void registerWatchWindows();

} // namespace tesmo::ui
