#pragma once
// The main window: opens the database at start-up and shows the newest trading date.
#include "common/qt_ui_port.h"

#include <QLabel>
#include <QWidget>

namespace tesmo::ui {

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    // Form_Load: connect the database and show the newest date. Returns false when the
    // connection failed (the failure message has been shown).
    bool startUp();
    // set_later_date: refresh the date field from the database.
    void set_later_date();

    QString dateText() const { return Text_date->text(); }
    UiPort &port() { return m_port; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QLabel *Label1;
    QLabel *Text_date;
    QtUiPort m_port;
};

} // namespace tesmo::ui
