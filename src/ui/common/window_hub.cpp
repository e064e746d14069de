#include "ui/common/window_hub.h"

#include "core/common/app_state.h"
#include "core/common/process.h"
#include "core/common/shell_open.h"
#include "ui/common/qt_ui_port.h"
#include "ui/common/routine_scope.h"
#include "ui/common/screen_fit.h"

namespace tesmo::ui {

WindowHub &WindowHub::instance() {
    static WindowHub hub;
    return hub;
}

void WindowHub::registerFactory(WindowKind kind, std::function<QWidget *()> factory) {
    m_factories[kind] = std::move(factory);
}

QWidget *WindowHub::existing(WindowKind kind) const {
    auto it = m_windows.find(kind);
    return it == m_windows.end() ? nullptr : it->second.data();
}

QWidget *WindowHub::show(WindowKind kind) {
    QWidget *w = existing(kind);
    if (!w) {
        auto it = m_factories.find(kind);
        if (it == m_factories.end())
            return nullptr;
        // A window that cannot be made says why; the window that asked for it goes on.
        runCommand(m_main, [&] { w = it->second(); });
        if (!w)
            return nullptr;
        w->setAttribute(Qt::WA_DeleteOnClose);
        m_windows[kind] = w;
    }
    showNormal(w);
    return w;
}

void WindowHub::openChart(const QString &code, std::optional<double> price) {
    if (m_chartOpener)
        runCommand(m_main, [&] { m_chartOpener(code, price); });
}

void showNormal(QWidget *w) {
    if (!w)
        return;
    keepOnScreen(w);
    if (w->isMinimized())
        w->showNormal();
    else
        w->show();
    w->raise();
    w->activateWindow();
}

bool keyShortcut(int key, Qt::KeyboardModifiers modifiers) {
    // Only Ctrl, without Shift or Alt.
    if ((modifiers & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier |
                      Qt::MetaModifier)) != Qt::ControlModifier)
        return false;
    WindowHub &hub = WindowHub::instance();
    switch (key) {
    case Qt::Key_B:
        if (appState().startup_done)
            showNormal(hub.mainWindow());
        return true;
    case Qt::Key_M:
        hub.show(WindowKind::PortfolioEditor);
        return true;
    case Qt::Key_P:
        hub.show(WindowKind::PortfolioTable);
        return true;
    case Qt::Key_R:
        hub.show(WindowKind::RankingTable);
        return true;
    case Qt::Key_F:
        hub.show(WindowKind::StockSearch);
        return true;
    case Qt::Key_O:
        hub.show(WindowKind::Options);
        return true;
    default:
        return false;
    }
}

void WindowHub::refreshDataWindows() {
    for (WindowKind kind : {WindowKind::RankingTable, WindowKind::PortfolioTable,
                            WindowKind::PortfolioEditor, WindowKind::Signals})
        if (QWidget *w = existing(kind); w && w->isVisible())
            QMetaObject::invokeMethod(w, "refresh", Qt::DirectConnection);
}

bool openPage(QWidget *parent, const std::string &command, const QString &title) {
    if (shellOpen(command, "") != kStartFailed)
        return true;
    showMessage(parent, openFailureText(command), us(title), MsgIcon::Critical, MsgButtons::Ok);
    return false;
}

} // namespace tesmo::ui
