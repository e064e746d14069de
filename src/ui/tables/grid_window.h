#pragma once
// What the four table windows share: the data source Data1 with its navigator bar, the grid
// DBGrid1 over it, the busy guard, F5, the row position caption, the Ctrl shortcuts, the
// window counter, the saved geometry and the copy and file icons.
#include "core/storage/data_source.h"
#include "core/storage/settings_keys.h"
#include "core/tables/grid_columns.h"
#include "ui/common/qt_ui_port.h"
#include "ui/common/routine_scope.h"

#include <QLabel>
#include <QTableView>
#include <QToolButton>
#include <QWidget>

#include <optional>

namespace tesmo::ui {

class ResultSetModel;

// The data source's navigator bar: first, previous, next and last, with the row position.
class NavigatorBar : public QWidget {
    Q_OBJECT
public:
    explicit NavigatorBar(QWidget *parent);
    void setCaption(const QString &text);
    QString caption() const;

signals:
    void moveRequested(int where); // 0 first, 1 previous, 2 next, 3 last

private:
    QLabel *m_caption;
};

struct GeometryKeys {
    const storage::SettingKey &height, &width, &top, &left;
};

class GridWindow : public QWidget {
    Q_OBJECT
public:
    ~GridWindow() override;

    QTableView *DBGrid1 = nullptr;
    NavigatorBar *Data1 = nullptr;
    QToolButton *Image1 = nullptr;
    QToolButton *Image2 = nullptr;

    const tables::GridColumns &columns() const { return m_columns; }
    storage::DataSource &dataSource() { return m_data; }
    ResultSetModel *model() const { return m_model; }
    QtUiPort &port() { return m_port; }
    bool loading() const { return m_loading; }

    // The commands of the icons and keys, public so that the tests and the menu can call them.
    void copyTable();
    void saveTableToFile();
    Q_INVOKABLE virtual void refresh(); // F5; also when the data changed elsewhere
    void openChartOfRow(int row);
    QString navigatorCaption() const { return Data1->caption(); }

protected:
    GridWindow(tables::GridColumns &columns, const char *caption, const char *filePrefix,
               std::optional<GeometryKeys> geometry, const storage::SettingKey &counter,
               QWidget *parent);

    // Attaches the model to the grid; the derived window calls it first in its constructor.
    void bindGrid();
    // Opens the window's connection; false (and the error shown) when the database file is
    // missing or not a database, so that the window opens empty with one message.
    bool openDatabase();
    // The portfolio view `base` (V_PORT or M_PORT) for the portfolio in use; when the external
    // portfolio's view cannot be made, `base` itself, with the error shown.
    std::string portfolioView(const char *base);
    // Which row is current after a record source ran: a new order or a new search shows its
    // first row at the top; a re-read of the same rows keeps the stock that was current.
    enum class RowAfterRun { First, SameStock };
    // Runs `source` as the new record source and shows its rows and the column captions.
    // Errors of the engine are shown in a message box; the grid is then empty and the result
    // is false.
    bool runSource(const storage::Query &source, RowAfterRun row = RowAfterRun::First);
    bool runSource(const std::string &sql, RowAfterRun row = RowAfterRun::First) {
        return runSource(storage::Query{sql, {}}, row);
    }
    storage::Query currentSource() const { return {m_data.recordSource(), m_data.recordParams()}; }
    // Shows the columns' captions, widths and visibility; the topic columns only while the
    // data come with topic counts.
    void applyColumns();
    // After applyColumns(): controls that depend on the columns shown.
    virtual void columnsApplied() {}
    // Busy guard: false when the window is already busy, else shows the hourglass.
    bool beginBusy();
    void endBusy();
    // A command of the window with the busy pointer; nothing happens while the window is busy.
    // Errors are shown, never passed on.
    template <class Command> void busyCommand(Command &&command) {
        if (!beginBusy())
            return;
        runCommand(this, command);
        endBusy();
    }

    int px(double twips) const;
    double twipsPerPixel() const;
    // Sets the loaded geometry (or the design one) and starts the window counter.
    void finishOpen(int designWidth, int designHeight);

    // Window specific: header click, chart price of a row, the grid's top in twips.
    virtual void headerClicked(int column) { (void)column; }
    virtual std::optional<double> chartPrice(int row) const {
        (void)row;
        return std::nullopt;
    }
    virtual int codeColumn() const { return 0; }
    virtual bool longCopyNote() const { return false; }
    // Extra layout after the shared steps (controls below or beside the grid).
    virtual void layoutExtra(int innerWidthTwips) { (void)innerWidthTwips; }

    // The ranking and portfolio tables mark the rows whose stock the watch rules selected on
    // the newest day.
    bool m_marksWatchMatches = false;
    void markWatchMatches();

    int m_gridTop = 500; // twips
    int m_gridLeft = 0;
    int m_navNarrowing = 0; // twips taken from the navigator's width

    void resizeEvent(QResizeEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    void keyReleaseEvent(QKeyEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

    void layout();
    void saveGeometrySettings();
    void updateNavigator();

    tables::GridColumns &m_columns;
    storage::DataSource m_data;
    ResultSetModel *m_model = nullptr;
    QtUiPort m_port;
    bool m_loading = true;

private:
    std::string m_prefix;
    std::optional<GeometryKeys> m_geometry;
    const storage::SettingKey &m_counter;
    bool m_counted = false;
    bool m_closed = false;
};

// "ＭＳ Ｐゴシック", 9 points: cells and headers of every grid window.
QFont gridFont();

} // namespace tesmo::ui
