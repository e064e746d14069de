#include "ui/tables/grid_window.h"

#include "core/storage/connection.h"
#include "core/tables/clip_tbl.h"
#include "core/tables/table_sources.h"
#include "core/watch/watch_evaluation.h"
#include "ui/common/twips.h"
#include "ui/common/window_hub.h"
#include "ui/tables/result_set_model.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>

#include <cmath>

namespace tesmo::ui {
namespace keys = storage::keys;

QFont gridFont() {
    QFont f(QStringLiteral("ＭＳ Ｐゴシック"));
    f.setPointSize(9);
    f.setWeight(QFont::Normal);
    return f;
}

NavigatorBar::NavigatorBar(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Data1"));
    setAutoFillBackground(true);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    const QString arrows[] = {QStringLiteral("|◀"), QStringLiteral("◀"), QStringLiteral("▶"),
                              QStringLiteral("▶|")};
    auto addButton = [&](int where) {
        auto *b = new QToolButton(this);
        b->setText(arrows[where]);
        b->setAutoRaise(false);
        connect(b, &QToolButton::clicked, this, [this, where] { emit moveRequested(where); });
        row->addWidget(b);
    };
    addButton(0);
    addButton(1);
    m_caption = new QLabel(this);
    m_caption->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    row->addWidget(m_caption, 1);
    addButton(2);
    addButton(3);
}

void NavigatorBar::setCaption(const QString &text) {
    m_caption->setText(text);
}
QString NavigatorBar::caption() const {
    return m_caption->text();
}

GridWindow::GridWindow(tables::GridColumns &columns, const char *caption, const char *filePrefix,
                       std::optional<GeometryKeys> geometry, const storage::SettingKey &counter,
                       QWidget *parent)
    : QWidget(parent), m_columns(columns), m_port(this), m_prefix(filePrefix), m_geometry(geometry),
      m_counter(counter) {
    setWindowTitle(qs(caption));
    setFont(gridFont());
    m_data.setDatabaseName(storage::databasePath());

    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    // The columns belong to the derived window and exist only once its members are made, so
    // the grid gets its model in bindGrid().
    m_model = new ResultSetModel(m_data, m_columns, this);
    DBGrid1->setFont(gridFont());
    DBGrid1->horizontalHeader()->setFont(gridFont());
    DBGrid1->horizontalHeader()->setSectionsClickable(true);
    DBGrid1->horizontalHeader()->setHighlightSections(false);
    DBGrid1->verticalHeader()->setDefaultSectionSize(px(255));
    DBGrid1->verticalHeader()->setFixedWidth(px(280));
    // A double-click always opens the chart, so editable grids start editing on typing, F2 or
    // a click on the current cell.
    DBGrid1->setEditTriggers(QAbstractItemView::SelectedClicked |
                             QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    DBGrid1->setWordWrap(false);
    DBGrid1->installEventFilter(this);

    Data1 = new NavigatorBar(this);
    Data1->setFixedHeight(px(345));

    Image1 = new QToolButton(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setIcon(QIcon::fromTheme(QStringLiteral("edit-copy"),
                                     style()->standardIcon(QStyle::SP_FileDialogContentsView)));
    Image1->setToolTip(QStringLiteral("現在の表ﾃﾞｰﾀをすべてｺﾋﾟｰします"));
    Image1->setAutoRaise(true);
    Image2 = new QToolButton(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setIcon(QIcon::fromTheme(QStringLiteral("document-save"),
                                     style()->standardIcon(QStyle::SP_DialogSaveButton)));
    Image2->setToolTip(QStringLiteral("現在の表ﾃﾞｰﾀをﾌｧｲﾙへ出力します"));
    Image2->setAutoRaise(true);
    for (QToolButton *b : {Image1, Image2})
        b->setGeometry(0, px(60), px(375), px(375));

    connect(Image1, &QToolButton::clicked, this, &GridWindow::copyTable);
    connect(Image2, &QToolButton::clicked, this, &GridWindow::saveTableToFile);
    connect(DBGrid1->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int c) { headerClicked(c); });
    connect(DBGrid1, &QTableView::doubleClicked, this,
            [this](const QModelIndex &i) { openChartOfRow(i.row()); });
    connect(Data1, &NavigatorBar::moveRequested, this, [this](int where) {
        const int last = m_model->rowCount() - 1;
        const int cur = DBGrid1->currentIndex().isValid() ? DBGrid1->currentIndex().row() : 0;
        const int target = where == 0 ? 0 : where == 1 ? cur - 1 : where == 2 ? cur + 1 : last;
        if (last < 0)
            return;
        const int col = std::max(0, DBGrid1->currentIndex().column());
        DBGrid1->setCurrentIndex(m_model->index(std::clamp(target, 0, last), col));
    });
    connect(m_model, &ResultSetModel::editRefused, this, [this](const QString &text) {
        runCommand(this, [&] {
            showMessage(this, us(text), us(windowTitle()), MsgIcon::Critical, MsgButtons::Ok);
        });
    });
}

GridWindow::~GridWindow() {
    if (m_counted && !m_closed) {
        try {
            storage::writeSetting(m_counter,
                                  std::to_string(storage::readSettingInt(m_counter) - 1));
        } catch (const std::exception &) {
        }
    }
}

void GridWindow::bindGrid() {
    DBGrid1->setModel(m_model);
    connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { updateNavigator(); });
}

double GridWindow::twipsPerPixel() const {
    return ui::twipsPerPixel(*this);
}

int GridWindow::px(double twips) const {
    return twipsToPixels(*this, twips);
}

bool GridWindow::beginBusy() {
    if (m_port.busy())
        return false;
    m_port.setBusy(true);
    return true;
}

void GridWindow::endBusy() {
    m_port.setBusy(false);
}

void GridWindow::applyColumns() {
    QHeaderView *h = DBGrid1->horizontalHeader();
    const QFontMetrics cells(DBGrid1->font());
    const QFontMetrics headers(h->font());
    // The design width, or what the caption and the usual contents need ("東証スタンダード" in
    // 市場): the first rows stand for the rest, so a long table costs no more than a short one.
    const int rows = std::min(m_model->dataRowCount(), 200);
    tables::showTopicColumns(m_columns, !storage::jquantsSource());
    for (size_t i = 0; i < m_columns.size(); ++i) {
        const int c = static_cast<int>(i);
        DBGrid1->setColumnHidden(c, !m_columns[i].visible);
        int width = headers.horizontalAdvance(qs(m_columns[i].caption)) + 16;
        for (int r = 0; r < rows; ++r)
            width = std::max(width, cells.horizontalAdvance(m_model->displayText(r, c)) + 12);
        h->resizeSection(c, std::max(px(m_columns[i].width), std::min(width, px(6000))));
    }
    m_model->captionsChanged();
    columnsApplied();
}

bool GridWindow::openDatabase() {
    try {
        m_data.database();
        return true;
    } catch (const std::exception &e) {
        showError(this, e);
        return false;
    }
}

std::string GridWindow::portfolioView(const char *base) {
    try {
        return tables::portfolioView(m_data.database(), base);
    } catch (const std::exception &e) {
        showError(this, e);
        return base;
    }
}

bool GridWindow::runSource(const storage::Query &source, RowAfterRun rowAfter) {
    const bool same = rowAfter == RowAfterRun::SameStock;
    const int keepRow = same ? DBGrid1->currentIndex().row() : -1;
    const int keepCol = std::max(0, DBGrid1->currentIndex().column());
    // The selected stock stays selected where the new rows still have it.
    const QString keepCode = keepRow >= 0 ? m_model->text(keepRow, codeColumn()) : QString();
    m_data.setRecordSource(source);
    try {
        m_data.refresh();
    } catch (const std::exception &e) {
        m_data.setRecordSource(source);
        m_model->reload();
        applyColumns();
        updateNavigator();
        showError(this, e);
        return false;
    }
    m_model->reload();
    if (m_marksWatchMatches)
        markWatchMatches();
    applyColumns();
    if (m_model->dataRowCount() > 0) {
        int row = keepRow < 0 ? 0 : std::min(keepRow, m_model->dataRowCount() - 1);
        for (int r = 0; !keepCode.isEmpty() && r < m_model->dataRowCount(); ++r)
            if (m_model->text(r, codeColumn()) == keepCode) {
                row = r;
                break;
            }
        DBGrid1->setCurrentIndex(m_model->index(row, keepCol));
        if (same)
            DBGrid1->scrollTo(DBGrid1->currentIndex());
        else
            DBGrid1->scrollToTop();
    }
    updateNavigator();
    return true;
}

void GridWindow::markWatchMatches() {
    std::map<QString, QString> tips;
    try {
        storage::Database &db = m_data.database();
        const storage::Value newest = db.scalar("SELECT max(IDATE) FROM T_NEARLY");
        if (!newest.isNull())
            for (const watch::Match &m : watch::storedMatches(db, newest.toInt())) {
                QString &tip = tips[qs(m.code)];
                if (tip.isEmpty())
                    tip = QStringLiteral("監視条件に該当:");
                tip += qs("\n・" + m.ruleName + " (" + m.valueText + ")");
            }
    } catch (const std::exception &) {
        // The marks are a convenience: the table shows its rows without them.
        tips.clear();
    }
    m_model->setRowMarks(codeColumn(), std::move(tips));
}

void GridWindow::updateNavigator() {
    const QModelIndex cur = DBGrid1->currentIndex();
    const int pos = cur.isValid() ? cur.row() : m_data.currentRow();
    Data1->setCaption(QStringLiteral(" %1 / %2").arg(pos + 1).arg(m_model->dataRowCount()));
}

void GridWindow::refresh() {
    // A window whose table never opened has nothing to re-read; it said why when it opened.
    if (m_data.recordSource().empty())
        return;
    busyCommand([this] { runSource(currentSource(), RowAfterRun::SameStock); });
}

void GridWindow::openChartOfRow(int row) {
    if (row < 0 || row >= m_model->dataRowCount())
        return;
    const QString code = m_model->text(row, codeColumn());
    WindowHub::instance().openChart(code, chartPrice(row));
}

// The copy and the export ask first and set the busy pointer themselves; the window stays
// open until they are done.
void GridWindow::copyTable() {
    if (m_port.busy())
        return;
    runCommand(this, [this] {
        tables::copyTableCommand(m_port,
                                 tables::TableExport{m_data.database(), currentSource(), m_columns,
                                                     us(windowTitle()), m_prefix, longCopyNote()});
    });
    endBusy();
}

void GridWindow::saveTableToFile() {
    if (m_port.busy())
        return;
    runCommand(this, [this] {
        tables::fileTableCommand(m_port,
                                 tables::TableExport{m_data.database(), currentSource(), m_columns,
                                                     us(windowTitle()), m_prefix, longCopyNote()},
                                 us(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))));
    });
    endBusy();
}

void GridWindow::finishOpen(int designWidth, int designHeight) {
    if (m_geometry) {
        auto twips = [](const storage::SettingKey &k, int design) {
            try {
                return static_cast<int>(storage::readSettingInt(k));
            } catch (const std::exception &) {
                return design;
            }
        };
        const int w = twips(m_geometry->width, designWidth);
        const int h = twips(m_geometry->height, designHeight);
        const int top = twips(m_geometry->top, -1);
        const int left = twips(m_geometry->left, -1);
        resize(px(std::max(w, 1500)), px(std::max(h, 1500)));
        if (top >= 0 && left >= 0)
            move(px(left), px(top));
    } else {
        resize(px(designWidth), px(designHeight));
    }
    m_loading = false;
    layout();
    try {
        storage::writeSetting(m_counter, std::to_string(storage::readSettingInt(m_counter) + 1));
        m_counted = true;
    } catch (const std::exception &) {
        // The counters only feed the main window's question about open windows.
    }
    updateNavigator();
}

void GridWindow::layout() {
    if (m_loading)
        return;
    const double tpp = twipsPerPixel();
    const int W = std::max(300, static_cast<int>(std::lround(width() * tpp)));
    const int H = std::max(300, static_cast<int>(std::lround(height() * tpp)));
    const int navH = static_cast<int>(std::lround(Data1->height() * tpp));
    const int gridH = std::max(0, H - m_gridTop - navH - 20);
    const int w = std::max(0, W - m_gridLeft - 20);
    DBGrid1->setGeometry(px(m_gridLeft), px(m_gridTop), px(w), px(gridH));
    Data1->setGeometry(px(m_gridLeft), px(m_gridTop + gridH), px(std::max(0, w - m_navNarrowing)),
                       Data1->height());
    Image1->move(px(w) - Image1->width(), Image1->y());
    Image2->move(Image1->x() - Image1->width(), Image1->y());
    layoutExtra(W);
    if (windowState() == Qt::WindowNoState && isVisible())
        saveGeometrySettings();
}

void GridWindow::saveGeometrySettings() {
    if (!m_geometry)
        return;
    const double tpp = twipsPerPixel();
    auto save = [tpp](const storage::SettingKey &k, int pixels) {
        storage::writeSetting(k, std::to_string(std::lround(pixels * tpp)));
    };
    try {
        save(m_geometry->height, height());
        save(m_geometry->width, width());
        save(m_geometry->top, y());
        save(m_geometry->left, x());
    } catch (const std::exception &) {
        // A settings file that cannot be written must not break resizing.
    }
}

void GridWindow::resizeEvent(QResizeEvent *e) {
    QWidget::resizeEvent(e);
    layout();
}

void GridWindow::closeEvent(QCloseEvent *e) {
    if (refuseCloseWhileBusy(this, e))
        return;
    if (windowState() == Qt::WindowNoState)
        saveGeometrySettings();
    if (m_counted && !m_closed) {
        m_closed = true;
        try {
            storage::writeSetting(m_counter,
                                  std::to_string(storage::readSettingInt(m_counter) - 1));
        } catch (const std::exception &) {
        }
    }
    QWidget::closeEvent(e);
}

void GridWindow::keyReleaseEvent(QKeyEvent *e) {
    keyShortcut(e->key(), e->modifiers());
    QWidget::keyReleaseEvent(e);
}

bool GridWindow::eventFilter(QObject *watched, QEvent *event) {
    if (watched == DBGrid1 && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_F5) {
        refresh();
        return true;
    }
    if (event->type() == QEvent::KeyRelease) {
        auto *k = static_cast<QKeyEvent *>(event);
        if (keyShortcut(k->key(), k->modifiers()))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace tesmo::ui
