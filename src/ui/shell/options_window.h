#pragma once
// The options window: the settings the user may change, the external portfolio file, the
// program update and the complete-database fetch, and day files dropped onto "DB再取得".
#include "core/net/http_fetch.h"
#include "core/shell/options.h"
#include "core/update/update_start.h"
#include "ui/common/qt_ui_port.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

class QGridLayout;
class QHBoxLayout;

namespace tesmo::ui {

// "DB再取得": a button that also takes files dropped onto it.
class DropButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

signals:
    void filesDropped(const QStringList &paths);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
};

// The options window's port: its busy pointer shows on the main window too, which keeps the
// main window's commands from starting while a drop import runs.
class OptionsPort : public QtUiPort {
public:
    using QtUiPort::QtUiPort;
    bool busy() const override;
    void setBusy(bool busy) override;
};

class OptionsWindow : public QWidget {
    Q_OBJECT
public:
    explicit OptionsWindow(QWidget *parent = nullptr);
    ~OptionsWindow() override;

    // The values the controls hold now.
    shell::OptionValues values() const;

    // Event handlers (public so that they can be driven without a mouse).
    void saveAndClose();
    void cancel();
    void onExternalPortfolioToggled();
    void onProxyToggled();
    void onSourceChosen();
    void testJQuantsConnection();
    void createPortfolioFile();
    void choosePortfolioFile();
    void updateProgram();
    void refetchDatabase();
    void importDroppedFiles(const QStringList &paths);

    UiPort &port() { return m_port; }

protected:
    void keyReleaseEvent(QKeyEvent *event) override;
    // Refused while one of its commands runs (a dropped-file import, an update check).
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    // One builder per group of controls; each makes its controls and returns what holds them.
    QGridLayout *buildSettingsGrid();
    QGroupBox *buildSeparatorGroup();
    QGroupBox *buildPortfolioGroup();
    QGroupBox *buildProxyGroup();
    QGroupBox *buildSourceGroup();
    QHBoxLayout *buildCommandRow();
    void connectCommands();
    void loadValues();
    // After an accepted update: this window and the main window close, which ends the program.
    void closeForUpdate();
    using UpdateCommand = update::UpdateOutcome (*)(net::HttpClient &, UiPort &,
                                                    const std::string &);
    void runUpdateCommand(UpdateCommand command);

    QLineEdit *T_wontonton, *T_compyC, *T_debugcode, *T_web1sleep, *T_myhpadd, *T_myhpad_data,
        *T_maxDTc, *T_browser, *T_portfile, *T_poxysv, *T_poxyid, *T_poxypd, *T_jqkey, *T_jqrate;
    QLabel *L_porxy1, *L_porxy2, *L_porxy3, *L_jqkey, *L_jqrate;
    QCheckBox *C_autoTaskT, *C_noAnnounce, *C_nomoremsg, *Chk_realc_spd, *Ch_portOPT, *Ch_proxy;
    QRadioButton *Op_sep[2], *Op_source[2];
    QGroupBox *Frame1, *Frame2, *Frame3, *Frame4;
    QPushButton *C_portfileselect, *C_port_new, *C_auto_up, *C_OK, *C_cancel, *C_jqtest;
    DropButton *m_refetchButton;
    OptionsPort m_port;
    net::HttpClient m_http;
};

// Makes OptionsWindow the window that the options button and Ctrl+O show.
void registerOptionsWindow();

} // namespace tesmo::ui
