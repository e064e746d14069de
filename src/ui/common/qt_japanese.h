#pragma once
// Qt's own texts in Japanese: the standard buttons and the file dialogs.
class QCoreApplication;

namespace tesmo::ui {

// Loads Qt's Japanese translation (qtbase_ja.qm from Qt's translations folder) into `app`.
// False when the file is missing; the message boxes carry Japanese button texts either way.
bool installQtJapanese(QCoreApplication &app);

} // namespace tesmo::ui
