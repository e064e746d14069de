#pragma once
// The core's UI port on a Qt window: captions, events, waits and message boxes.
#include "core/common/ui_port.h"

#include <QPointer>
#include <QWidget>

namespace tesmo::ui {

QString qs(const std::string &utf8);
std::string us(const QString &text);

// The object name of the progress bar that a window shows the progress of its routines in.
inline constexpr const char *kProgressBarName = "StatusProgress";

class QtUiPort : public UiPort {
public:
    explicit QtUiPort(QWidget *window) : m_window(window) {}

    std::string caption() const override;
    void setCaption(const std::string &text) override;
    void repaint() override;
    // Shown by the window's progress bar named kProgressBarName, where it has one.
    void progress(long long done, long long total) override;
    void processEvents() override;
    void wait(int seconds) override;
    MsgAnswer message(const std::string &text, const std::string &title, MsgIcon icon,
                      MsgButtons buttons) override;
    void beep() override;
    std::string clipboardText() const override;
    void setClipboardText(const std::string &text) override;
    std::string openFileDialog(const FileDialogRequest &request) override;
    std::string saveFileDialog(const FileDialogRequest &request) override;
    bool busy() const override;
    void setBusy(bool busy) override;
    bool stopRequested() const override;

private:
    QPointer<QWidget> m_window;
};

// A message box as the core's texts expect it: CR LF line breaks shown as line breaks. A
// Yes/No question has no escape path (Esc and the close button do nothing); Esc cancels an
// OK/Cancel question. Once the program is ending nothing is shown: a question raises
// StopRequested, a message is dropped. A box that is open when the program is asked to end
// closes unanswered and raises StopRequested.
MsgAnswer showMessage(QWidget *parent, const std::string &text, const std::string &title,
                      MsgIcon icon, MsgButtons buttons);

} // namespace tesmo::ui
