#pragma once
// Answers the message boxes that a window shows during a test, in order, and remembers their
// texts. Without a scripted answer a box gets its default button (No for Yes/No). The welcome
// window of a first start is counted and closed with "あとで設定する", or handed to onWelcome.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <deque>
#include <functional>

namespace tesmo::test {

class MessageBoxAnswerer {
public:
    MessageBoxAnswerer() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start(5);
    }
    void answer(QMessageBox::StandardButton b) { m_answers.push_back(b); }

    QStringList texts;
    QStringList titles;
    QStringList buttons; // per box, its button texts in the order of the box's layout
    int welcomes = 0;
    std::function<void(QWidget *)> onWelcome;

private:
    void poll() {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->objectName() == QLatin1String("F_welcome") && w->isVisible() &&
                !w->property("answered").toBool()) {
                w->setProperty("answered", true);
                ++welcomes;
                if (onWelcome)
                    onWelcome(w);
                else if (auto *later = w->findChild<QAbstractButton *>(QStringLiteral("C_later")))
                    later->click();
                continue;
            }
            auto *box = qobject_cast<QMessageBox *>(w);
            if (!box || !box->isVisible() || box->property("answered").toBool())
                continue;
            box->setProperty("answered", true);
            texts << box->text();
            titles << box->windowTitle();
            QStringList names;
            for (QAbstractButton *button : box->findChildren<QAbstractButton *>())
                if (box->buttonRole(button) != QMessageBox::InvalidRole)
                    names << button->text();
            buttons << names.join(QLatin1Char('/'));
            QMessageBox::StandardButton b = QMessageBox::NoButton;
            if (!m_answers.empty()) {
                b = m_answers.front();
                m_answers.pop_front();
            } else if (box->standardButtons() & QMessageBox::No) {
                b = QMessageBox::No;
            } else if (box->standardButtons() & QMessageBox::Ok) {
                b = QMessageBox::Ok;
            }
            if (QAbstractButton *button = box->button(b))
                button->click();
            else
                box->reject();
        }
    }

    QTimer m_timer;
    std::deque<QMessageBox::StandardButton> m_answers;
};

} // namespace tesmo::test
