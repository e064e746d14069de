#pragma once
// The UI port of a terminal, for the programs that run without a window (tesmoctl, the updater
// built without the windows): captions and message boxes become lines of text, questions are
// answered with OK (or Yes), and the save dialog answers with the file named on the command
// line.
#include "core/common/ui_port.h"

#include <cstdio>
#include <string>
#include <utility>

namespace tesmo {

class ConsolePort : public UiPort {
public:
    // Captions go to `captionsTo` as they change (nullptr: nowhere), messages to
    // `messagesTo`. Without `waits` the pauses that only keep a window alive are skipped.
    explicit ConsolePort(std::FILE *captionsTo, std::FILE *messagesTo = stdout,
                         std::string caption = {}, bool waits = true)
        : m_captionsTo(captionsTo), m_messagesTo(messagesTo), m_caption(std::move(caption)),
          m_waits(waits) {}

    std::string caption() const override { return m_caption; }
    void setCaption(const std::string &text) override;
    void wait(int seconds) override;
    MsgAnswer message(const std::string &text, const std::string &title, MsgIcon,
                      MsgButtons buttons) override;
    void beep() override { (void)std::fputc('\a', stderr); }
    std::string saveFileDialog(const FileDialogRequest &) override { return m_savePath; }
    bool busy() const override { return m_busy; }
    void setBusy(bool busy) override { m_busy = busy; }

    // What the save dialog answers.
    void setSavePath(const std::string &path) { m_savePath = path; }

private:
    std::FILE *m_captionsTo;
    std::FILE *m_messagesTo;
    std::string m_caption;
    bool m_waits;
    bool m_busy = false;
    std::string m_savePath;
};

} // namespace tesmo
