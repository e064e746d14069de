#include "ui/common/application.h"

#include "core/common/build_config.h"
#include "ui/common/qt_japanese.h"

#include <QApplication>
#include <QDirIterator>

namespace tesmo::ui {

QIcon applicationIcon() {
    QIcon icon;
    QDirIterator sizes(QStringLiteral(":/icons"), {QStringLiteral("*.png")});
    while (sizes.hasNext())
        icon.addFile(sizes.next());
    return icon;
}

void setUpApplication(QApplication &app, const QString &name) {
    app.setApplicationName(name);
    app.setApplicationVersion(QStringLiteral(TESMO_VERSION));
    app.setDesktopFileName(QStringLiteral(TESMO_APP_ID));
    app.setWindowIcon(applicationIcon());
    // Tesmo speaks Japanese whatever the system's language: Qt's own texts (the file
    // dialogs) too. The message boxes name their buttons themselves where the file is missing.
    installQtJapanese(app);
}

} // namespace tesmo::ui
