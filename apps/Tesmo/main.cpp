#include "shell/form1.h"

#include <QApplication>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    tesmo::ui::Form1 window;
    window.show();
    window.startUp();
    return app.exec();
}
