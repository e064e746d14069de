#include "ui/watch/signals_window.h"

#include "core/common/dates.h"
#include "core/watch/watch_evaluation.h"
#include "ui/common/window_hub.h"
#include "ui/tables/result_set_model.h"

#include <set>

namespace tesmo::ui {
namespace keys = storage::keys;
using storage::Value;

namespace {

tables::GridColumns signalColumns() {
    using tables::Align;
    return {
        {"日付", "HDATE", 1100, Align::Centre, "IDATE"},
        {"条件名", "WNAME", 2200, Align::General, "WNAME"},
        {"コード", "CODE", 700, Align::Centre, "CODE"},
        {"銘柄名", "NAME", 2600, Align::General, "NAME"},
        {"値", "HTEXT", 1200, Align::Right, "HVAL"},
    };
}

// The kept matches of one day as storedMatches lists them, the value as the rule's column
// shows it. A bare " * " lets the copy narrow the fields to the visible columns.
constexpr const char *kDaySource =
    "SELECT * FROM (SELECT H.IDATE AS IDATE, watch_date(H.IDATE) AS HDATE, H.WID AS WID, "
    "W.WNAME AS WNAME, H.CODE AS CODE, M.NAME AS NAME, watch_value(H.WID, H.HVAL) AS HTEXT, "
    "H.HVAL AS HVAL FROM (T_WATCH_HIT AS H INNER JOIN T_WATCH AS W ON W.WID = H.WID) LEFT JOIN "
    "master AS M ON M.CODE = H.CODE WHERE H.IDATE = ?) AS S ORDER BY ";

} // namespace

SignalsWindow::SignalsWindow(QWidget *parent)
    : GridWindow(m_cols, "シグナル", "signal",
                 GeometryKeys{keys::signal_height, keys::signal_width, keys::signal_top,
                              keys::signal_left},
                 keys::cnt_F_signal, parent),
      m_cols(signalColumns()) {
    setObjectName(QStringLiteral("SignalsWindow"));
    bindGrid();
    dateCombo = new QComboBox(this);
    dateCombo->setObjectName(QStringLiteral("dateCombo"));
    dateCombo->setToolTip(QStringLiteral("表示する日 (該当が保存されている日)"));
    evaluateButton = new QPushButton(QStringLiteral("再評価"), this);
    evaluateButton->setObjectName(QStringLiteral("evaluateButton"));
    evaluateButton->setToolTip(QStringLiteral("監視条件を最新の日でもう一度評価します"));
    rulesButton = new QPushButton(QStringLiteral("監視条件"), this);
    rulesButton->setObjectName(QStringLiteral("rulesButton"));
    summary = new QLabel(this);
    summary->setObjectName(QStringLiteral("summary"));
    connect(dateCombo, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (!m_filling && i >= 0)
            busyCommand([this, i] { showDate(dateCombo->itemData(i).toLongLong()); });
    });
    connect(evaluateButton, &QPushButton::clicked, this, &SignalsWindow::evaluateNow);
    connect(rulesButton, &QPushButton::clicked, this,
            [] { WindowHub::instance().show(WindowKind::WatchRules); });
    m_gridTop = 520;

    if (openDatabase()) {
        m_opened = true;
        storage::Database &db = m_data.database();
        db.defineFunction("watch_date", 1, [](const std::vector<Value> &args) {
            return args[0].isNull() ? Value() : Value(slashDate(args[0].toInt()));
        });
        db.defineFunction("watch_value", 2, [this](const std::vector<Value> &args) {
            if (args[1].isNull())
                return Value();
            const auto rule = m_rules.find(args[0].toInt());
            const double value = args[1].toDouble();
            return Value(rule == m_rules.end() ? storage::formatDouble(value)
                                               : watch::valueText(rule->second, value));
        });
        busyCommand([this] { fillDates(0); });
    }
    finishOpen(9600, 6000);
}

void SignalsWindow::fillDates(long long keep) {
    storage::Database &db = m_data.database();
    std::set<long long, std::greater<>> dates;
    if (const Value newest = db.scalar("SELECT max(IDATE) FROM T_NEARLY"); !newest.isNull())
        dates.insert(newest.toInt());
    for (long long d : watch::matchDates(db))
        dates.insert(d);
    m_filling = true;
    dateCombo->clear();
    for (long long d : dates)
        dateCombo->addItem(qs(slashDate(d)), QVariant::fromValue(d));
    const int at = dateCombo->findData(QVariant::fromValue(keep));
    dateCombo->setCurrentIndex(at >= 0 ? at : 0);
    m_filling = false;
    showDate(dates.empty() ? 0 : dateCombo->currentData().toLongLong());
}

void SignalsWindow::showDate(long long date) {
    m_date = date;
    if (const int at = dateCombo->findData(QVariant::fromValue(date)); at >= 0) {
        m_filling = true;
        dateCombo->setCurrentIndex(at);
        m_filling = false;
    }
    runDay();
}

void SignalsWindow::runDay() {
    m_rules.clear();
    for (watch::Rule &r : watch::listRules(m_data.database()))
        m_rules.emplace(r.id, std::move(r));
    std::string order = "WID, CODE";
    if (m_sorted >= 0) {
        const std::string &key = m_cols.at(static_cast<size_t>(m_sorted)).sortKey;
        order = key + (m_descending ? " DESC" : "") + ", WID, CODE";
    }
    runSource(storage::Query{kDaySource + order, {Value(static_cast<std::int64_t>(m_date))}});
    showSummary();
}

void SignalsWindow::showSummary() {
    std::set<QString> codes;
    for (int r = 0; r < m_model->dataRowCount(); ++r)
        codes.insert(m_model->text(r, codeColumn()));
    QString text;
    if (m_date == 0)
        text = QStringLiteral("データがまだありません");
    else if (m_rules.empty())
        text = QStringLiteral("監視条件がありません。[監視条件]で追加します");
    else if (codes.empty())
        text = QStringLiteral("該当する銘柄はありません");
    else
        text = qs(watch::announcement(static_cast<int>(codes.size())));
    summary->setText(text);
    summary->setToolTip(text);
}

void SignalsWindow::headerClicked(int c) {
    if (c < 0 || c >= static_cast<int>(m_cols.size()))
        return;
    busyCommand([this, c] {
        m_descending = tables::clickSortsDescending(m_cols.at(static_cast<size_t>(c)));
        m_sorted = c;
        tables::markSorted(m_cols, c, m_descending);
        runDay();
    });
}

void SignalsWindow::refresh() {
    if (!m_opened)
        return;
    busyCommand([this] { fillDates(m_date); });
}

void SignalsWindow::evaluateNow() {
    if (!m_opened)
        return;
    bool evaluated = false;
    busyCommand([this, &evaluated] {
        const watch::Evaluation result = watch::evaluateNewestDay(m_data.database());
        if (!result.failure.empty()) {
            showMessage(this, result.failure, us(windowTitle()), MsgIcon::Critical, MsgButtons::Ok);
            return;
        }
        fillDates(result.date);
        evaluated = true;
    });
    // The ranking and the portfolio mark the new matches.
    if (evaluated)
        WindowHub::instance().refreshDataWindows();
}

void SignalsWindow::layoutExtra(int innerWidthTwips) {
    (void)innerWidthTwips;
    dateCombo->setGeometry(px(60), px(60), px(1500), px(375));
    evaluateButton->setGeometry(px(1620), px(60), px(1000), px(375));
    rulesButton->setGeometry(px(2680), px(60), px(1200), px(375));
    const int left = px(3980);
    summary->setGeometry(left, px(60), std::max(0, Image2->x() - left - px(60)), px(375));
}

} // namespace tesmo::ui
