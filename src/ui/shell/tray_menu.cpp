#include "ui/shell/tray_menu.h"

#include "ui/common/twips.h"
#include "ui/common/window_hub.h"
#include "ui/shell/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QScreen>
#include <QStyle>

namespace tesmo::ui {
namespace {

QColor rgb(unsigned value) {
    return QColor::fromRgb(static_cast<QRgb>(value));
}

void paintLabel(QLabel *label, unsigned text, unsigned back) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, rgb(text));
    p.setColor(QPalette::Window, rgb(back));
    label->setPalette(p);
    label->setAutoFillBackground(true);
}

int windowsKeyCode(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return tables::kKeyEnter;
    case Qt::Key_Escape:
        return tables::kKeyEscape;
    case Qt::Key_Up:
        return tables::kKeyUp;
    case Qt::Key_Down:
        return tables::kKeyDown;
    default:
        return 0;
    }
}

// Brings a window back in front: shown, restored when minimized, repainted.
void bringToFront(QWidget *w) {
    if (!w)
        return;
    showNormal(w);
    w->repaint();
}

} // namespace

TrayMenu::TrayMenu(QWidget *mainWindow, QuickMenuHooks hooks, std::function<void()> removeTray)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_main(mainWindow), m_hooks(std::move(hooks)), m_removeTray(std::move(removeTray)) {
    setObjectName("TrayMenu");
    setAttribute(Qt::WA_DeleteOnClose);
    setFocusPolicy(Qt::StrongFocus);
    QPalette back = palette();
    back.setColor(QPalette::Window, rgb(tables::kNormalBack));
    setPalette(back);
    setAutoFillBackground(true);

    const int left = twips(270);
    const int width = twips(3600);
    Picture1 = new QWidget(this);
    Picture1->setObjectName("Picture1");
    QPalette strip = Picture1->palette();
    strip.setColor(QPalette::Window, rgb(tables::kHighlightBack));
    Picture1->setPalette(strip);
    Picture1->setAutoFillBackground(true);
    Picture1->setGeometry(0, 0, left - 2, twips(tables::kQuickMenuHeight));

    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(left, 0, width - left - twips(300), twips(300));
    Picture2 = new QLabel(QStringLiteral("×"), this);
    Picture2->setObjectName("Picture2");
    Picture2->setAlignment(Qt::AlignCenter);
    Picture2->setGeometry(width - twips(300), 0, twips(300), twips(300));
    Picture2->setCursor(Qt::PointingHandCursor);
    Picture2->installEventFilter(this);

    for (int i = 0; i < tables::kQuickMenuEntries; ++i) {
        auto *l =
            new QLabel(QString::fromUtf8(tables::kQuickMenuCaptions[static_cast<size_t>(i)]), this);
        l->setObjectName(QStringLiteral("L_Move_%1").arg(i));
        l->setGeometry(left, twips(tables::kQuickMenuTops[static_cast<size_t>(i)]), width - left,
                       twips(tables::kQuickMenuEntryHeight));
        l->setIndent(6);
        l->setMouseTracking(true);
        l->installEventFilter(this);
        L_Move[static_cast<size_t>(i)] = l;
    }
    // Separators below the first entry and above the last two.
    for (int top : {600, tables::kQuickMenuLastGroupLine}) {
        auto *line = new QFrame(this);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        line->setGeometry(left, twips(top) - 1, width - left, 3);
    }
    setFixedSize(width, twips(tables::kQuickMenuHeight));

    // Load: the last entry highlighted, the newest date shown.
    highlight(tables::kQuickMenuEntries - 1);
    repaint();
    showNewestDate();
}

int TrayMenu::twips(int value) const {
    return twipsToPixels(*this, value);
}

void TrayMenu::showNewestDate() {
    const QString date = m_hooks.newestDate ? m_hooks.newestDate() : QString();
    Label1->setText(QString::fromUtf8(tables::kNewestDatePrefix) + date);
    const std::time_t now = m_hooks.clock ? m_hooks.clock() : std::time(nullptr);
    const bool current = tables::newestDateIsCurrent(date.toStdString(), now);
    paintLabel(Label1, 0xFFFFFF, current ? tables::kCurrentDateBack : tables::kStaleDateBack);
}

void TrayMenu::highlight(int index) {
    m_cursor.highlight(index);
    for (int i = 0; i < tables::kQuickMenuEntries; ++i) {
        const bool on = i == m_cursor.highlighted();
        paintLabel(L_Move[static_cast<size_t>(i)],
                   on ? tables::kHighlightText : tables::kNormalText,
                   on ? tables::kHighlightBack : tables::kNormalBack);
    }
}

void TrayMenu::activateEntry(int index) {
    hide();
    // The menu stays alive (hidden) while its entry's work runs: a new menu popped up from the
    // tray meanwhile cannot close it under that work. The work guards itself against errors.
    m_inAction = true;
    if (!(m_hooks.busy && m_hooks.busy())) {
        runAction(index);
    } else if (tables::quickMenuAction(index) == tables::QuickMenuAction::Exit && m_main) {
        // Refused with the busy note, in front where the user sees it; the tray icon stays.
        bringToFront(m_main);
        m_main->close();
    }
    m_inAction = false;
    close();
}

void TrayMenu::runAction(int index) {
    using tables::QuickMenuAction;
    WindowHub &hub = WindowHub::instance();
    switch (tables::quickMenuAction(index)) {
    case QuickMenuAction::DataUpdate:
        bringToFront(m_main);
        if (m_hooks.dataUpdate)
            m_hooks.dataUpdate();
        if (m_main)
            m_main->hide();
        break;
    case QuickMenuAction::RankTable:
        hub.show(WindowKind::RankingTable);
        break;
    case QuickMenuAction::PortfolioTable:
        hub.show(WindowKind::PortfolioTable);
        break;
    case QuickMenuAction::PortfolioMaintenance:
        hub.show(WindowKind::PortfolioEditor);
        break;
    case QuickMenuAction::StockSearch:
        hub.show(WindowKind::StockSearch);
        break;
    case QuickMenuAction::ClipboardChart:
        if (m_hooks.clipChart)
            m_hooks.clipChart();
        break;
    case QuickMenuAction::Signals:
        hub.show(WindowKind::Signals);
        break;
    case QuickMenuAction::WatchRules:
        hub.show(WindowKind::WatchRules);
        break;
    case QuickMenuAction::OpenMainWindow:
        if (m_removeTray)
            m_removeTray();
        bringToFront(m_main);
        break;
    case QuickMenuAction::Exit:
        if (m_removeTray)
            m_removeTray();
        bringToFront(m_main);
        if (m_main)
            m_main->close();
        break;
    case QuickMenuAction::CloseOnly:
        break;
    }
}

void TrayMenu::closeEvent(QCloseEvent *event) {
    if (m_inAction) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TrayMenu::keyReleaseEvent(QKeyEvent *event) {
    const int code = windowsKeyCode(event->key());
    if (code == 0) {
        QWidget::keyReleaseEvent(event);
        return;
    }
    switch (m_cursor.keyReleased(code)) {
    case tables::QuickMenuCursor::KeyResult::Click:
        activateEntry(m_cursor.clickIndex());
        break;
    case tables::QuickMenuCursor::KeyResult::Close:
        close();
        break;
    case tables::QuickMenuCursor::KeyResult::None:
        highlight(m_cursor.highlighted());
        break;
    }
}

bool TrayMenu::eventFilter(QObject *watched, QEvent *event) {
    if (watched == Picture2 && event->type() == QEvent::MouseButtonRelease) {
        close();
        return true;
    }
    for (int i = 0; i < tables::kQuickMenuEntries; ++i) {
        if (watched != L_Move[static_cast<size_t>(i)])
            continue;
        if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove) {
            if (highlighted() != i)
                highlight(i);
        } else if (event->type() == QEvent::MouseButtonRelease) {
            activateEntry(i);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

TrayResidence::TrayResidence(QWidget *mainWindow, QuickMenuHooks hooks, QObject *parent)
    : QObject(parent), m_main(mainWindow), m_hooks(std::move(hooks)) {}

QuickMenuHooks TrayResidence::hooksFor(MainWindow *form) {
    QPointer<MainWindow> f(form);
    QuickMenuHooks hooks;
    hooks.dataUpdate = [f] {
        if (f)
            f->runDataUpdate();
    };
    hooks.clipChart = [f] {
        if (f)
            f->openChartFromClipboard();
    };
    hooks.busy = [f] { return f && f->isBusy(); };
    hooks.newestDate = [f] { return f ? f->dateText() : QString(); };
    return hooks;
}

QSystemTrayIcon *TrayResidence::icon() {
    if (!m_icon) {
        QIcon image = m_main ? m_main->windowIcon() : QIcon();
        if (image.isNull())
            image = QApplication::windowIcon();
        if (image.isNull())
            image = QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
        m_icon = new QSystemTrayIcon(image, this);
        m_icon->setToolTip(QStringLiteral("Tesmo"));
        connect(m_icon, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    // Only a left click acts: the menu, or the notification's window.
                    if (reason != QSystemTrayIcon::Trigger)
                        return;
                    if (m_residing)
                        popUp();
                    else if (m_announcing)
                        openAnnounced();
                });
        connect(m_icon, &QSystemTrayIcon::messageClicked, this, [this] { openAnnounced(); });
    }
    return m_icon;
}

int TrayResidence::add() {
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return 0;
    m_residing = true;
    icon()->setToolTip(QStringLiteral("Tesmo"));
    m_icon->show();
    return 1;
}

void TrayResidence::remove() {
    m_residing = false;
    m_announcing = false;
    if (m_icon)
        m_icon->hide();
}

bool TrayResidence::announce(const QString &text, std::function<void()> opened) {
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return false;
    m_opened = std::move(opened);
    m_announcing = true;
    icon()->setToolTip(m_residing ? QStringLiteral("Tesmo") : QStringLiteral("Tesmo: ") + text);
    m_icon->show();
    m_icon->showMessage(QStringLiteral("Tesmo"), text, QSystemTrayIcon::Information, 15000);
    return true;
}

void TrayResidence::openAnnounced() {
    if (!m_announcing)
        return;
    m_announcing = false;
    if (!m_residing && m_icon)
        m_icon->hide();
    if (m_opened)
        m_opened();
}

TrayMenu *TrayResidence::popUp() {
    if (m_menu)
        m_menu->close();
    auto *menu = new TrayMenu(m_main, m_hooks, [this] { remove(); });
    m_menu = menu;
    menu->show();
    const QScreen *screen =
        m_main && m_main->screen() ? m_main->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect work = screen->availableGeometry();
        menu->move(work.x() + work.width() - menu->width(),
                   work.y() + work.height() - menu->height());
    }
    menu->repaint();
    menu->raise();
    menu->activateWindow();
    menu->setFocus();
    return menu;
}

} // namespace tesmo::ui
