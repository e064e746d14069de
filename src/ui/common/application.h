#pragma once
// What every program with windows sets up first: its name, the desktop's id of its menu entry,
// Tesmo's icon for every window and the tray, and Qt's own texts (dialog buttons) in the
// user's language.
#include <QIcon>
#include <QString>

class QApplication;

namespace tesmo::ui {

// Tesmo's icon at every size the build rendered.
QIcon applicationIcon();

// `name` becomes the application name: on X11 the class of every window, which the menu
// entry's StartupWMClass names.
void setUpApplication(QApplication &app, const QString &name);

} // namespace tesmo::ui
