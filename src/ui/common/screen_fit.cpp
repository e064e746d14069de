#include "ui/common/screen_fit.h"

#include "ui/common/window_hub.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace tesmo::ui {
namespace {

QScreen *screenOf(const QWidget *w) {
    if (QScreen *s = QGuiApplication::screenAt(w->geometry().center()))
        return s;
    if (QScreen *s = w->screen())
        return s;
    return QGuiApplication::primaryScreen();
}

// The frame the window manager puts around `w`; before it has framed `w`, the frame of the
// main window, which it has framed alike.
QMargins frameOf(const QWidget *w) {
    if (const QWindow *h = w->windowHandle(); h && !h->frameMargins().isNull())
        return h->frameMargins();
    if (const QWidget *main = WindowHub::instance().mainWindow(); main && main != w) {
        if (const QWindow *h = main->windowHandle())
            return h->frameMargins();
    }
    return {};
}

bool fitsAsItIs(const QWidget *w) {
    return w->isMaximized() || w->isFullScreen() || w->isMinimized();
}

class ScreenKeeper : public QObject {
public:
    explicit ScreenKeeper(QWidget *w) : QObject(w), m_widget(w) { w->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *e) override {
        if (watched == m_widget && e->type() == QEvent::Show) {
            fitBeforeShow(m_widget);
            if (QWindow *h = m_widget->windowHandle(); h && h != m_window) {
                m_window = h;
                h->installEventFilter(this);
            }
            m_placed = false;
        } else if (watched == m_window && e->type() == QEvent::Expose && !m_placed &&
                   m_window->isExposed()) {
            // The window manager has placed and framed the window by the time it is exposed.
            m_placed = true;
            QPointer<QWidget> w = m_widget;
            QTimer::singleShot(0, m_widget, [w] {
                if (w)
                    fitOnScreen(w);
            });
        }
        return QObject::eventFilter(watched, e);
    }

private:
    QWidget *m_widget;
    QPointer<QWindow> m_window;
    bool m_placed = true;
};

} // namespace

QRect fitClientRect(const QRect &client, const QMargins &frame, const QRect &available) {
    const int frameW = frame.left() + frame.right();
    const int frameH = frame.top() + frame.bottom();
    const QSize size(std::clamp(client.width(), 1, std::max(1, available.width() - frameW)),
                     std::clamp(client.height(), 1, std::max(1, available.height() - frameH)));
    // Right and bottom first, so that a window larger than the screen keeps its title bar and
    // its left edge on the screen.
    int x = std::min(client.x(), available.x() + available.width() - frame.right() - size.width());
    int y =
        std::min(client.y(), available.y() + available.height() - frame.bottom() - size.height());
    x = std::max(x, available.x() + frame.left());
    y = std::max(y, available.y() + frame.top());
    return QRect(QPoint(x, y), size);
}

void fitOnScreen(QWidget *w) {
    if (!w || fitsAsItIs(w))
        return;
    const QRect fitted = fitClientRect(w->geometry(), frameOf(w), screenOf(w)->availableGeometry());
    if (fitted != w->geometry())
        w->setGeometry(fitted);
}

void fitBeforeShow(QWidget *w) {
    if (!w || fitsAsItIs(w))
        return;
    if (w->testAttribute(Qt::WA_Moved)) {
        fitOnScreen(w);
        return;
    }
    const QMargins f = frameOf(w);
    const QRect avail = screenOf(w)->availableGeometry();
    const QSize room(avail.width() - f.left() - f.right(), avail.height() - f.top() - f.bottom());
    const QSize size = w->size().boundedTo(room);
    if (size != w->size())
        w->resize(size);
}

void keepOnScreen(QWidget *w) {
    static const char *const kKept = "tesmoKeptOnScreen";
    if (!w || w->property(kKept).toBool())
        return;
    w->setProperty(kKept, true);
    new ScreenKeeper(w);
}

} // namespace tesmo::ui
