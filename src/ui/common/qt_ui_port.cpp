#include "ui/common/qt_ui_port.h"

#include "ui/common/routine_scope.h"
#include "ui/common/session_guard.h"

#include <algorithm>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProgressBar>
#include <QThread>

namespace tesmo::ui {

QString qs(const std::string &utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
std::string us(const QString &text) {
    return text.toUtf8().toStdString();
}

// The caption that a routine sees is the one it set: a refused close request's note is shown
// behind it and never becomes part of it.
std::string QtUiPort::caption() const {
    return m_window ? us(withoutBusyNote(m_window, m_window->windowTitle())) : "";
}

void QtUiPort::setCaption(const std::string &text) {
    if (m_window)
        m_window->setWindowTitle(withBusyNote(m_window, qs(text)));
}

void QtUiPort::repaint() {
    if (m_window)
        m_window->repaint();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    throwIfStopRequested(*this);
}

void QtUiPort::progress(long long done, long long total) {
    auto *bar = m_window ? m_window->findChild<QProgressBar *>(kProgressBarName) : nullptr;
    if (!bar)
        return;
    if (total <= 0) {
        bar->setVisible(false);
        return;
    }
    // The bar counts in permille, so that byte counts beyond int fit.
    bar->setRange(0, 1000);
    bar->setValue(static_cast<int>(std::clamp(done, 0LL, total) * 1000 / total));
    bar->setFormat(QStringLiteral("%1 / %2").arg(done).arg(total));
    bar->setVisible(true);
}

void QtUiPort::processEvents() {
    QApplication::processEvents();
    throwIfStopRequested(*this);
}

void QtUiPort::wait(int seconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < seconds * 1000LL) {
        // Short slices keep the window responsive; the deadline is what matters.
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        throwIfStopRequested(*this);
        QThread::msleep(20);
    }
}

bool QtUiPort::stopRequested() const {
    return SessionGuard::instance().stopRequested();
}

namespace {

// A Yes/No question must be answered: Esc and the window's close button would otherwise pick
// No, which is the forcing answer of every such question of the program.
class NoEscape : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent *>(event)->matches(QKeySequence::Cancel))
            return true;
        if (event->type() == QEvent::Close) {
            event->ignore();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

MsgAnswer showMessage(QWidget *parent, const std::string &text, const std::string &title,
                      MsgIcon icon, MsgButtons buttons) {
    // While the program ends nobody is there to answer; a question leaves its routine.
    if (SessionGuard::instance().stopRequested()) {
        if (buttons != MsgButtons::Ok)
            throw StopRequested();
        return MsgAnswer::Ok;
    }
    QString body = qs(text);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(parent);
    box.setWindowTitle(qs(title));
    box.setText(body);
    switch (icon) {
    case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MsgIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MsgIcon::None:
        break;
    }
    switch (buttons) {
    case MsgButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MsgButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MsgButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setWindowFlag(Qt::WindowCloseButtonHint, false);
        box.installEventFilter(new NoEscape(&box));
        break;
    }
    // The program's texts name the buttons [はい], [いいえ] and [ｷｬﾝｾﾙ]; they read so whether
    // or not Qt's Japanese translation is installed.
    const struct {
        QMessageBox::StandardButton button;
        const char *text;
    } names[] = {{QMessageBox::Yes, "はい"},
                 {QMessageBox::No, "いいえ"},
                 {QMessageBox::Ok, "OK"},
                 {QMessageBox::Cancel, "キャンセル"}};
    for (const auto &n : names)
        if (QAbstractButton *b = box.button(n.button))
            b->setText(QString::fromUtf8(n.text));
    const int answer = box.exec();
    // The program was asked to end while the box was open: nobody answered, and the routine
    // that asked stops here rather than go on with a made-up answer.
    if (SessionGuard::instance().stopRequested())
        throw StopRequested();
    switch (answer) {
    case QMessageBox::Ok:
        return MsgAnswer::Ok;
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::No:
        return MsgAnswer::No;
    default:
        return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Cancel;
    }
}

MsgAnswer QtUiPort::message(const std::string &text, const std::string &title, MsgIcon icon,
                            MsgButtons buttons) {
    return showMessage(m_window, text, title, icon, buttons);
}

void QtUiPort::beep() {
    QApplication::beep();
}

std::string QtUiPort::clipboardText() const {
    return us(QApplication::clipboard()->text());
}

void QtUiPort::setClipboardText(const std::string &text) {
    QApplication::clipboard()->setText(qs(text));
}

std::string QtUiPort::openFileDialog(const FileDialogRequest &r) {
    std::string chosen = us(QFileDialog::getOpenFileName(
        m_window, qs(r.title),
        qs(r.initialDir + (r.initialName.empty() ? "" : "/" + r.initialName)), qs(r.filter)));
    throwIfStopRequested(*this); // closed by the end of the program, not by the user
    return chosen;
}

std::string QtUiPort::saveFileDialog(const FileDialogRequest &r) {
    QString chosenFilter;
    // The dialog asks nothing about an existing file: the program asks once it knows the
    // final name, which gets the chosen filter's extension when the user typed none.
    const QString name = QFileDialog::getSaveFileName(
        m_window, qs(r.title),
        qs(r.initialDir + (r.initialName.empty() ? "" : "/" + r.initialName)), qs(r.filter),
        &chosenFilter, QFileDialog::DontConfirmOverwrite);
    throwIfStopRequested(*this);
    return name.isEmpty() ? std::string() : withFilterExtension(us(name), us(chosenFilter));
}

bool QtUiPort::busy() const {
    return m_window && m_window->cursor().shape() == Qt::WaitCursor;
}

void QtUiPort::setBusy(bool busy) {
    if (!m_window)
        return;
    m_window->setCursor(busy ? Qt::WaitCursor : Qt::ArrowCursor);
    if (!busy && !routineRunning(m_window))
        clearBusyNote(m_window); // the note goes with the busy pointer
}

} // namespace tesmo::ui
