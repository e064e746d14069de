#pragma once
// The welcome window of the first start (and of every start while no source can be used):
// where the data come from, the J-Quants key with its connection test or the data site, and
// what to press next.
#include "core/shell/first_start.h"
#include "ui/common/qt_ui_port.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tesmo::ui {

class WelcomeWindow : public QDialog {
    Q_OBJECT
public:
    explicit WelcomeWindow(QWidget *parent = nullptr);

    // What the controls hold now.
    shell::SourceChoice choice() const;

    // The buttons' commands (public so that they can be driven without a mouse).
    void testJQuantsConnection();
    // Saves the choice and closes; a choice that cannot be taken is said and the window stays.
    void saveAndClose();
    // Closes without a choice: the window comes again at the next start while no source works.
    void askLater();

    QRadioButton *Op_source[2] = {}; // データサイト, J-Quants
    QLineEdit *T_jqkey = nullptr;
    QComboBox *Cb_plan = nullptr;
    QPushButton *C_jqtest = nullptr;
    QPushButton *C_help = nullptr;
    QPushButton *C_OK = nullptr;
    QPushButton *C_later = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void sourceClicked();

    QLabel *L_siteNote = nullptr;
    QtUiPort m_port;
};

} // namespace tesmo::ui
