#pragma once
// Where the windows find each other: the main window, the one-per-class child windows that
// the launcher buttons and the Ctrl shortcuts show, and the shared key handling.
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace tesmo::ui {

enum class WindowKind {
    PortfolioEditor,
    PortfolioTable,
    RankingTable,
    StockSearch,
    Options,
    WatchRules, // 監視条件
    Signals,    // シグナル: the watch rules' matches
};

class WindowHub {
public:
    static WindowHub &instance();

    void setMainWindow(QWidget *w) { m_main = w; }
    QWidget *mainWindow() const { return m_main; }

    // Windows register how they are made; show() creates the window on first use (one
    // instance per class), shows it modelessly and restores it when minimized.
    void registerFactory(WindowKind kind, std::function<QWidget *()> factory);
    bool canShow(WindowKind kind) const { return m_factories.count(kind) != 0; }
    QWidget *show(WindowKind kind);
    QWidget *existing(WindowKind kind) const;
    // The open ranking, portfolio and signal windows re-read their data (as F5 does), after the
    // data behind them (or the watch rules' matches) changed elsewhere.
    void refreshDataWindows();

    // Opens a new chart window for a stock code, with an optional purchase price.
    using ChartOpener = std::function<void(const QString &code, std::optional<double> price)>;
    void setChartOpener(ChartOpener opener) { m_chartOpener = std::move(opener); }
    bool canOpenChart() const { return static_cast<bool>(m_chartOpener); }
    void openChart(const QString &code, std::optional<double> price = std::nullopt);

private:
    ChartOpener m_chartOpener;
    QPointer<QWidget> m_main;
    std::map<WindowKind, std::function<QWidget *()>> m_factories;
    std::map<WindowKind, QPointer<QWidget>> m_windows;
};

// Shows a window modelessly and restores it when it is minimized.
void showNormal(QWidget *w);

// Opens a page or file with shellOpen; when nothing could be started, tells the user which
// page and why, in a critical message titled `title`. False then.
bool openPage(QWidget *parent, const std::string &command, const QString &title);

// The Ctrl shortcuts of every window: Ctrl+B main window (after start-up), Ctrl+M portfolio
// maintenance, Ctrl+P portfolio table, Ctrl+R ranking, Ctrl+F stock search, Ctrl+O options.
// Acts only when Ctrl alone is held. Returns true when the key was one of them.
bool keyShortcut(int key, Qt::KeyboardModifiers modifiers);

} // namespace tesmo::ui
