#include "ui/chart/chart_window.h"

#include "core/chart/chart_commands.h"
#include "core/chart/make_unit.h"
#include "core/common/app_state.h"
#include "core/common/shell_open.h"
#include "core/common/text.h"
#include "core/storage/settings_keys.h"
#include "ui/chart/chart_painter.h"
#include "ui/chart/chart_view.h"
#include "ui/common/routine_scope.h"
#include "ui/common/screen_fit.h"
#include "ui/common/twips.h"
#include "ui/common/window_hub.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace tesmo::ui {
namespace {

namespace keys = storage::keys;

// A setting read as a whole number; text that is no number gives the key's default.
long long wholeSetting(const storage::SettingKey &key) {
    for (const std::string &text : {storage::readSetting(key), storage::defaultOf(key)}) {
        char *end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        if (end != text.c_str() && std::isfinite(v))
            return static_cast<long long>(chart::roundHalfEven(v));
    }
    return 0;
}

void addToCount(int delta) {
    try {
        storage::writeSetting(keys::cnt_Form2,
                              std::to_string(wholeSetting(keys::cnt_Form2) + delta));
    } catch (const std::exception &) {
        // The count only feeds the main window's warning about open windows.
    }
}

void setTextColor(QWidget *w, const QColor &c) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, c);
    pal.setColor(QPalette::ButtonText, c);
    w->setPalette(pal);
}

constexpr int kTimerMs = 2000;
// The toolbar's height: it stays above the chart instead of hiding over its top. Its third
// row holds the chart's look.
constexpr double kToolbarHeight = 1290;
constexpr double kLookRowTop = 885;
constexpr double kLookRowHeight = 330;

// The preferences of the settings; a settings file that cannot be read gives the line chart
// with the default averages.
chart::ChartPreferences loadedPreferences() {
    try {
        return chart::loadChartPreferences();
    } catch (const std::exception &) {
        return {};
    }
}

} // namespace

ChartWindow::ChartWindow(QWidget *parent) : QWidget(parent), m_port(this) {
    setObjectName(QStringLiteral("ChartWindow"));
    // The main window's close-all command finds chart windows by this tag.
    setProperty("tag", QStringLiteral("tesmochart"));
    setWindowTitle(qs(chart::kChartCaption));
    setFont(chartWindowFont());

    m_view = new ChartView(m_model, this);
    m_view->setFocusPolicy(Qt::ClickFocus);
    connect(m_view, &ChartView::squareClicked, this, [this](const QString &hover) {
        runCommand(this, [&] {
            showMessage(this, us(hover), us(windowTitle()), MsgIcon::Information, MsgButtons::Ok);
        });
    });
    m_prefs = loadedPreferences();
    buildControls();

    // Load: the last normal size of a chart window and the marker preference. The size is
    // the outer one; the frame is taken off once the window knows it (showEvent).
    m_loadedOuter = QSize(px(static_cast<double>(wholeSetting(keys::form2_width))),
                          px(static_cast<double>(wholeSetting(keys::form2_height))));
    resize(m_loadedOuter);
    Ch_marker->setChecked(wholeSetting(keys::form2_marker) == 1);
    addToCount(+1);

    m_redrawTimer = new QTimer(this);
    m_redrawTimer->setInterval(kTimerMs);
    connect(m_redrawTimer, &QTimer::timeout, this, &ChartWindow::onRedrawTick);
    m_redrawTimer->start();
}

ChartWindow::~ChartWindow() {
    addToCount(-1);
}

double ChartWindow::twipsPerPixel() const {
    return ui::twipsPerPixel(*this);
}

int ChartWindow::px(double twips) const {
    return twipsToPixels(*this, twips);
}

void ChartWindow::buildControls() {
    Frame1 = new QFrame(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Frame1->setAutoFillBackground(true);
    Frame1->setGeometry(0, 0, px(9990), px(kToolbarHeight));

    const auto place = [this](QWidget *w, const char *name, double left, double top, double width,
                              double height) {
        w->setObjectName(QString::fromLatin1(name));
        w->setGeometry(px(left), px(top), px(width), px(height));
    };
    T_code = new QLineEdit(Frame1);
    place(T_code, "T_code", 150, 180, 825, 360);
    m_drawButton = new QPushButton(QStringLiteral("ｸﾞﾗﾌ"), Frame1);
    place(m_drawButton, "drawButton", 975, 180, 750, 360);
    m_drawButton->setToolTip(
        QStringLiteral("ｸﾞﾗﾌｳｨﾝﾄﾞｳの大きさを変えた時や証協CDを変更した時ｸﾘｯｸします"));
    Ch_dval1_0 = new QRadioButton(QStringLiteral("Web話題"), Frame1);
    place(Ch_dval1_0, "Ch_dval1_0", 1830, 225, 1140, 270);
    setTextColor(Ch_dval1_0, QColor(0, 0, 192));
    Ch_dval1_1 = new QRadioButton(QStringLiteral("出来高"), Frame1);
    place(Ch_dval1_1, "Ch_dval1_1", 1830, 480, 990, 270);
    setTextColor(Ch_dval1_1, QColor(0, 128, 0));
    // The web topic counts come from the data site only; with J-Quants the chart opens on the
    // volumes instead of an empty lower pane.
    (storage::jquantsSource() ? Ch_dval1_1 : Ch_dval1_0)->setChecked(true);
    Ch_marker = new QCheckBox(QStringLiteral("ﾏｰｶｰを表示"), Frame1);
    place(Ch_marker, "Ch_marker", 2985, 210, 1530, 270);
    setTextColor(Ch_marker, QColor(128, 0, 0));
    C_addPort = new QPushButton(QStringLiteral("ﾎﾟｰﾄﾌｫﾘｵに追加"), Frame1);
    place(C_addPort, "C_addPort", 2985, 450, 1515, 345);
    C_realtmcall = new QPushButton(QStringLiteral("ﾘｱﾙﾀｲﾑ ﾁｬｰﾄ"), Frame1);
    place(C_realtmcall, "C_realtmcall", 5280, 480, 1935, 300);
    m_web1Button = new QPushButton(QStringLiteral("Web1"), Frame1);
    place(m_web1Button, "web1Button", 5280, 100, 960, 300);
    m_web2Button = new QPushButton(QStringLiteral("Web2"), Frame1);
    place(m_web2Button, "web2Button", 6240, 100, 960, 300);

    // The chart's look. The two styles are a group of their own: without it they would take
    // turns with 出来高 and Web話題, their siblings.
    const double row = kLookRowTop, high = kLookRowHeight;
    Op_candle = new QRadioButton(QStringLiteral("ローソク足"), Frame1);
    place(Op_candle, "Op_candle", 150, row, 1380, high);
    Op_line = new QRadioButton(QStringLiteral("折れ線"), Frame1);
    place(Op_line, "Op_line", 1560, row, 1020, high);
    auto *styles = new QButtonGroup(Frame1);
    styles->addButton(Op_candle);
    styles->addButton(Op_line);
    (m_prefs.style == chart::ChartStyle::Candle ? Op_candle : Op_line)->setChecked(true);
    auto *maLabel = new QLabel(QStringLiteral("移動平均"), Frame1);
    place(maLabel, "L_ma", 2700, row, 840, high);
    T_ma = new QLineEdit(qs(chart::movingAveragesText(m_prefs.movingAverages)), Frame1);
    place(T_ma, "T_ma", 3540, row, 1260, high);
    T_ma->setToolTip(
        QStringLiteral("ローソク足に引く移動平均線の日数(例: 5,25,75)。空欄で引きません"));
    maLabel->setBuddy(T_ma);
    auto *colorLabel = new QLabel(QStringLiteral("配色"), Frame1);
    place(colorLabel, "L_colors", 4950, row, 480, high);
    Cb_colors = new QComboBox(Frame1);
    place(Cb_colors, "Cb_colors", 5430, row, 1320, high);
    Cb_colors->addItem(QStringLiteral("カラー"));
    Cb_colors->addItem(QStringLiteral("白黒"));
    Cb_colors->setCurrentIndex(m_prefs.colors == chart::CandleColors::Print ? 1 : 0);
    Cb_colors->setToolTip(QStringLiteral("陽線と陰線の色: 赤と青、または白と黒"));
    colorLabel->setBuddy(Cb_colors);
    enableCandleControls();

    QWidget *tabOrder[] = {T_code,    m_drawButton, Ch_dval1_0,   Ch_dval1_1,   Ch_marker,
                           C_addPort, C_realtmcall, m_web1Button, m_web2Button, Op_candle,
                           Op_line,   T_ma,         Cb_colors};
    for (size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(T_code, &QLineEdit::textChanged, this, [this] { m_model.port_price = -1; });
    connect(m_drawButton, &QPushButton::clicked, this, &ChartWindow::drawChart);
    connect(T_code, &QLineEdit::returnPressed, this, &ChartWindow::drawChart);
    connect(Ch_dval1_0, &QRadioButton::clicked, this, &ChartWindow::onModeClicked);
    connect(Ch_dval1_1, &QRadioButton::clicked, this, &ChartWindow::onModeClicked);
    connect(Ch_marker, &QCheckBox::clicked, this, &ChartWindow::onMarkerClicked);
    connect(C_addPort, &QPushButton::clicked, this, &ChartWindow::onAddPort);
    connect(m_web1Button, &QPushButton::clicked, this, &ChartWindow::onWeb1);
    connect(m_web2Button, &QPushButton::clicked, this, &ChartWindow::onWeb2);
    connect(C_realtmcall, &QPushButton::clicked, this, &ChartWindow::onRealtime);
    connect(Op_candle, &QRadioButton::clicked, this, &ChartWindow::onStyleClicked);
    connect(Op_line, &QRadioButton::clicked, this, &ChartWindow::onStyleClicked);
    connect(T_ma, &QLineEdit::editingFinished, this, &ChartWindow::onAveragesEdited);
    connect(Cb_colors, &QComboBox::activated, this, &ChartWindow::onColorsChosen);
}

bool ChartWindow::toolbarShown() const {
    return Frame1->isVisibleTo(this) && m_view->y() >= Frame1->y() + Frame1->height();
}

std::string ChartWindow::code() const {
    return normalizeStockCode(us(T_code->text()));
}

std::string ChartWindow::drawPass() {
    m_model.code = code();
    // The box shows the code as stored (130A for "１３０ａ"); the purchase price stays.
    if (T_code->text() != qs(m_model.code)) {
        const QSignalBlocker quiet(T_code);
        T_code->setText(qs(m_model.code));
    }
    m_model.mode = Ch_dval1_1->isChecked() ? chart::ChartMode::Volume : chart::ChartMode::Topic;
    m_model.marker = Ch_marker->isChecked();
    m_model.style = m_prefs.style;
    m_model.movingAverages = m_prefs.movingAverages;
    m_model.candleColors = m_prefs.colors;
    std::string r = m_model.make_graph();
    setWindowTitle(qs(m_model.caption()));
    m_view->update();
    return r;
}

void ChartWindow::drawChart() {
    if (m_port.busy())
        return;
    runCommand(this, [this] {
        m_port.setBusy(true);
        std::string r;
        try {
            r = drawPass();
        } catch (...) {
            m_port.setBusy(false);
            throw;
        }
        m_port.setBusy(false);
        if (!r.empty())
            showMessage(this, r, us(windowTitle()), MsgIcon::Critical, MsgButtons::Ok);
    });
}

void ChartWindow::onModeClicked() {
    if (!m_port.busy())
        drawChart();
}

void ChartWindow::onMarkerClicked() {
    if (m_port.busy())
        return;
    try {
        storage::writeSetting(keys::form2_marker, Ch_marker->isChecked() ? "1" : "0");
    } catch (const std::exception &) {
        // The preference is a convenience; the chart still follows the box.
    }
    drawChart();
}

void ChartWindow::savePreferences(bool withStyle) {
    try {
        if (withStyle)
            chart::saveChartPreferences(m_prefs);
        else
            chart::saveCandlePreferences(m_prefs);
    } catch (const std::exception &) {
        // Like the marker, the look is a convenience: the chart follows the controls.
    }
}

void ChartWindow::enableCandleControls() {
    const bool candles = m_prefs.style == chart::ChartStyle::Candle;
    for (QWidget *w : {static_cast<QWidget *>(T_ma), static_cast<QWidget *>(Cb_colors)})
        w->setEnabled(candles);
}

void ChartWindow::onStyleClicked() {
    m_prefs.style = Op_candle->isChecked() ? chart::ChartStyle::Candle : chart::ChartStyle::Line;
    enableCandleControls();
    savePreferences(true);
    if (!m_port.busy())
        drawChart();
}

void ChartWindow::onAveragesEdited() {
    const std::optional<std::vector<int>> days = chart::parseMovingAverages(us(T_ma->text()));
    if (!days) {
        // The box keeps the text to be mended; the chart keeps the days it has.
        runCommand(this, [this] {
            showMessage(this, chart::movingAveragesHint(), us(windowTitle()), MsgIcon::Exclamation,
                        MsgButtons::Ok);
        });
        return;
    }
    // The box shows the days as they are kept: "５、25" becomes "5,25".
    T_ma->setText(qs(chart::movingAveragesText(*days)));
    if (*days == m_prefs.movingAverages)
        return;
    m_prefs.movingAverages = *days;
    savePreferences(false);
    if (!m_port.busy())
        drawChart();
}

void ChartWindow::onColorsChosen() {
    const auto colors =
        Cb_colors->currentIndex() == 1 ? chart::CandleColors::Print : chart::CandleColors::Color;
    if (colors == m_prefs.colors)
        return;
    m_prefs.colors = colors;
    savePreferences(false);
    if (!m_port.busy())
        drawChart();
}

void ChartWindow::onAddPort() {
    if (m_port.busy())
        return;
    bool added = false;
    runCommand(this, [this, &added] {
        m_port.setBusy(true);
        const chart::AddPortResult r =
            chart::addToPortfolio(m_model.link(), portfolioTable(), code(), chart::todayYmd());
        m_port.setBusy(false);
        added =
            r.outcome == chart::AddPortOutcome::New || r.outcome == chart::AddPortOutcome::Added;
        if (r.outcome == chart::AddPortOutcome::Failed)
            showMessage(this, r.failure, us(windowTitle()), MsgIcon::Critical, MsgButtons::Ok);
        else
            showMessage(this, chart::addPortMessage(r), us(QApplication::applicationDisplayName()),
                        MsgIcon::None, MsgButtons::Ok);
    });
    m_port.setBusy(false);
    // Open portfolio windows show the new entry.
    if (added)
        WindowHub::instance().refreshDataWindows();
}

bool ChartWindow::openPage(const std::string &command) {
    return tesmo::ui::openPage(this, command, windowTitle());
}

void ChartWindow::onWeb1() {
    if (m_port.busy())
        return;
    // The information site wants its top page first; the window stays usable meanwhile, but
    // it stays open until the second page has been asked for.
    runCommand(this, [this] {
        const std::vector<std::string> pages = chart::web1Commands(code());
        if (pages.empty() || !openPage(pages[0]))
            return;
        m_port.wait(chart::web1WaitSeconds());
        openPage(pages[1]);
    });
}

void ChartWindow::onWeb2() {
    if (m_port.busy())
        return;
    runCommand(this, [this] {
        const std::string page = chart::web2Command(code());
        if (!page.empty())
            openPage(page);
    });
}

void ChartWindow::onRealtime() {
    runCommand(this, [this] { openPage(chart::realtimeUrl(code())); });
}

void ChartWindow::closeEvent(QCloseEvent *e) {
    if (!refuseCloseWhileBusy(this, e))
        QWidget::closeEvent(e);
}

void ChartWindow::onRedrawTick() {
    if (m_model.redraw_delay > 0) {
        --m_model.redraw_delay;
        if (m_model.redraw_delay == 0)
            drawChart();
    }
}

void ChartWindow::resizeEvent(QResizeEvent *e) {
    QWidget::resizeEvent(e);
    const int bar = Frame1->height();
    Frame1->resize(width(), bar);
    m_view->setGeometry(0, bar, width(), std::max(0, height() - bar));
    if (isMinimized())
        return;
    const double tpp = twipsPerPixel();
    m_model.setClientSize(m_view->width() * tpp, m_view->height() * tpp);
    if (!isMaximized() && !isFullScreen()) {
        try {
            const QRect outer = frameGeometry();
            storage::writeSetting(keys::form2_height,
                                  std::to_string(std::lround(outer.height() * tpp)));
            storage::writeSetting(keys::form2_width,
                                  std::to_string(std::lround(outer.width() * tpp)));
        } catch (const std::exception &) {
            // A size that cannot be saved only costs the next window its size.
        }
    }
    // One redraw two to four seconds after the last of a burst of resizes.
    m_model.redraw_delay = 2;
}

void ChartWindow::showEvent(QShowEvent *e) {
    QWidget::showEvent(e);
    if (!focusWidget())
        m_view->setFocus();
    if (m_loadedOuter.isEmpty() || !windowHandle())
        return;
    const QMargins m = windowHandle()->frameMargins();
    const QSize client = m_loadedOuter - QSize(m.left() + m.right(), m.top() + m.bottom());
    m_loadedOuter = QSize();
    if (client != size() && !isMaximized() && !isMinimized())
        resize(client);
    // The stored size may come from a larger screen.
    fitBeforeShow(this);
}

void ChartWindow::keyReleaseEvent(QKeyEvent *e) {
    keyShortcut(e->key(), e->modifiers());
    QWidget::keyReleaseEvent(e);
}

ChartWindow *openChartWindow(const QString &code, std::optional<double> portPrice) {
    auto *w = new ChartWindow;
    w->setAttribute(Qt::WA_DeleteOnClose);
    showNormal(w);
    w->T_code->setText(code);
    if (portPrice) {
        const double p = chart::roundHalfEven(*portPrice);
        w->setPortPrice(static_cast<std::int32_t>(std::clamp(p, double(INT_MIN), double(INT_MAX))));
    }
    w->drawChart();
    return w;
}

} // namespace tesmo::ui
