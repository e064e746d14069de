#include "common/application.h"

#include "build_config.h"

#include <QApplication>
#include <QDirIterator>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

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
    // Where the system has no translation (or Qt's translations are not installed) the
    // buttons stay in English; everything of Tesmo's own is Japanese anyway.
    auto *qtTexts = new QTranslator(&app);
    if (qtTexts->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(qtTexts);
}

} // namespace tesmo::ui
