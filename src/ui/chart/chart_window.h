#pragma once
// The chart window: one stock's chart under its toolbar (draw, mode and marker switches, add
// to portfolio, three outside pages; the line or candlestick chart, the days of the moving
// averages and the candles' colours). Any number may be open at once; each has
// the tag "tesmochart" and counts itself in the formcnt/Form2 setting while it exists.
#include "core/chart/chart_model.h"
#include "ui/common/qt_ui_port.h"

#include <QWidget>

#include <optional>

class QCheckBox;
class QComboBox;
class QFrame;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace tesmo::ui {

class ChartView;

class ChartWindow : public QWidget {
    Q_OBJECT
public:
    // Size and marker state from the settings, one more open chart window.
    explicit ChartWindow(QWidget *parent = nullptr);
    // One open chart window less.
    ~ChartWindow() override;

    // Draws the chart of the code in T_code with the busy cursor; a failure is shown in a
    // critical message box. Does nothing while the window is busy.
    void drawChart();
    // One drawing pass: caption and chart are updated; returns the failure text or "".
    std::string drawPass();

    // The purchase price to mark (0 or below: none). Set it after T_code: editing the code
    // resets it to -1.
    void setPortPrice(std::int32_t price) { m_model.port_price = price; }
    std::int32_t portPrice() const { return m_model.port_price; }

    // The redraw timer's tick (every 2000 ms): counts down a pending redraw.
    void onRedrawTick();

    // The chart's look as the window holds it (loaded from the settings, then the user's).
    const chart::ChartPreferences &preferences() const { return m_prefs; }

    QLineEdit *T_code = nullptr;

    const chart::ChartModel &model() const { return m_model; }
    int redrawDelay() const { return m_model.redraw_delay; }
    bool toolbarShown() const;
    ChartView *view() const { return m_view; }
    double twipsPerPixel() const;

protected:
    void resizeEvent(QResizeEvent *e) override;
    void showEvent(QShowEvent *e) override;
    void keyReleaseEvent(QKeyEvent *e) override;
    // Refused while a drawing pass, a question or the Web1 wait runs.
    void closeEvent(QCloseEvent *e) override;

private:
    int px(double twips) const;
    void buildControls();
    void onModeClicked();
    void onMarkerClicked();
    void onStyleClicked();
    // The averages box: days that parseMovingAverages reads are saved and drawn; others are
    // refused with its hint and change nothing.
    void onAveragesEdited();
    void onColorsChosen();
    // The averages and colours matter to the candlestick chart only.
    void enableCandleControls();
    void savePreferences(bool withStyle);
    void onAddPort();
    void onWeb1();
    void onWeb2();
    void onRealtime();
    // Opens a page through the shell; tells the user when it could not be started.
    bool openPage(const std::string &command);
    // The code in the box, half width and upper case.
    std::string code() const;

    chart::ChartModel m_model;
    QtUiPort m_port;
    ChartView *m_view = nullptr;
    QFrame *Frame1 = nullptr;
    QPushButton *m_drawButton = nullptr;
    QRadioButton *Ch_dval1_0 = nullptr; // "Web話題"
    QRadioButton *Ch_dval1_1 = nullptr; // "出来高"
    QCheckBox *Ch_marker = nullptr;
    QPushButton *C_addPort = nullptr;
    QPushButton *C_realtmcall = nullptr;
    QPushButton *m_web1Button = nullptr;
    QPushButton *m_web2Button = nullptr;
    QRadioButton *Op_candle = nullptr; // "ローソク足"
    QRadioButton *Op_line = nullptr;   // "折れ線"
    QLineEdit *T_ma = nullptr;
    QComboBox *Cb_colors = nullptr;
    chart::ChartPreferences m_prefs;
    QTimer *m_redrawTimer = nullptr;
    QSize m_loadedOuter; // until the first show
};

// Opens a chart the way every window does: a new window, shown, with the code in T_code,
// then the purchase price to mark (when given), then drawChart. The window deletes
// itself when closed.
ChartWindow *openChartWindow(const QString &code, std::optional<double> portPrice = std::nullopt);

} // namespace tesmo::ui
