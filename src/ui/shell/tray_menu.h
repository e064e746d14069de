#pragma once
// Tray residence: the tray icon that stands in for the hidden main window, and the quick menu
// that a left click on it opens at the bottom-right of the work area.
#include "core/tables/quick_menu.h"

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>

#include <array>
#include <ctime>
#include <functional>

namespace tesmo::ui {

class MainWindow;

// What the quick menu needs from the main window.
struct QuickMenuHooks {
    std::function<void()> dataUpdate;    // the data update command (runDataUpdate)
    std::function<void()> clipChart;     // a chart of the code on the clipboard
    std::function<bool()> busy;          // the main window shows the busy pointer
    std::function<QString()> newestDate; // the newest date as the main window shows it
    std::function<std::time_t()> clock;  // the current time; empty: the system clock
};

class TrayMenu : public QWidget {
    Q_OBJECT
public:
    // `removeTray` takes the tray icon away (the last two entries).
    TrayMenu(QWidget *mainWindow, QuickMenuHooks hooks, std::function<void()> removeTray);

    // Shows the newest date, coloured by whether it is current.
    void showNewestDate();
    // Mouse over entry `index` (also the keys' highlight); outside the entries nothing is
    // highlighted.
    void highlight(int index);
    int highlighted() const { return m_cursor.highlighted(); }
    // A click on entry `index`: the menu hides, the entry's action runs, the menu closes.
    void activateEntry(int index);

    QLabel *entry(int index) const { return L_Move[static_cast<size_t>(index)]; }
    QLabel *dateLabel() const { return Label1; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void runAction(int index);
    int twips(int value) const;

    QPointer<QWidget> m_main;
    QuickMenuHooks m_hooks;
    std::function<void()> m_removeTray;
    tables::QuickMenuCursor m_cursor;
    bool m_inAction = false; // an entry's work runs: the menu does not close under it
    QLabel *Label1;
    std::array<QLabel *, tables::kQuickMenuEntries> L_Move{};
    QWidget *Picture1;
    QLabel *Picture2;
};

// The tray icon of the main window (tip "Tesmo"); a left click pops up the quick menu, other
// clicks do nothing.
class TrayResidence : public QObject {
    Q_OBJECT
public:
    TrayResidence(QWidget *mainWindow, QuickMenuHooks hooks, QObject *parent = nullptr);

    // The hooks of the main window.
    static QuickMenuHooks hooksFor(MainWindow *form);

    // Shows the icon; 1 when the desktop has a tray to show it in, else 0.
    int add();
    // Takes the icon away.
    void remove();
    bool isAdded() const { return m_residing && m_icon && m_icon->isVisible(); }
    // Shows `text` as the desktop's notification from the tray icon. A click on it (or on the
    // icon, while the icon is there only for the notification) runs `opened`; an icon shown
    // only for the notification goes with that click. False when the desktop has no tray.
    bool announce(const QString &text, std::function<void()> opened);
    bool announcing() const { return m_announcing; }
    // The click on the notification.
    void openAnnounced();
    // Pop up: a new quick menu at the bottom-right corner of the work area, in front.
    TrayMenu *popUp();
    TrayMenu *menu() const { return m_menu; }

private:
    QSystemTrayIcon *icon();

    QPointer<QWidget> m_main;
    QuickMenuHooks m_hooks;
    QSystemTrayIcon *m_icon = nullptr;
    QPointer<TrayMenu> m_menu;
    bool m_residing = false;   // the icon stands in for the hidden main window
    bool m_announcing = false; // a notification waits for its click
    std::function<void()> m_opened;
};

} // namespace tesmo::ui
