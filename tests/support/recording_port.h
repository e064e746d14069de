#pragma once
// A UI port for tests: records captions, waits and messages, answers questions from a script
// and never really sleeps.
#include "core/common/ui_port.h"

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tesmo::test {

struct RecordedMessage {
    std::string text;
    std::string title;
    MsgIcon icon;
    MsgButtons buttons;
};

class RecordingPort : public UiPort {
public:
    std::string caption() const override { return m_caption; }
    void setCaption(const std::string &text) override {
        m_caption = text;
        captions.push_back(text);
    }
    void repaint() override { ++repaints; }
    void processEvents() override { ++eventPumps; }
    void wait(int seconds) override { waits.push_back(seconds); }
    MsgAnswer message(const std::string &text, const std::string &title, MsgIcon icon,
                      MsgButtons buttons) override {
        messages.push_back({text, title, icon, buttons});
        if (!answers.empty()) {
            const MsgAnswer a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
    }
    void beep() override { ++beeps; }
    std::string clipboardText() const override { return clipboard; }
    void setClipboardText(const std::string &text) override { clipboard = text; }
    std::string openFileDialog(const FileDialogRequest &r) override {
        dialogs.push_back(r);
        return nextFileName;
    }
    std::string saveFileDialog(const FileDialogRequest &r) override {
        dialogs.push_back(r);
        return nextFileName;
    }
    bool busy() const override { return m_busy; }
    void setBusy(bool b) override { m_busy = b; }
    void progress(long long done, long long total) override {
        if (progresses.empty() || progresses.back() != std::pair(done, total))
            progresses.emplace_back(done, total);
    }
    bool stopRequested() const override { return stop; }
    bool stopAfterDayRequested() const override {
        if (!stopAfterDay && stopAfterDayWhen && stopAfterDayWhen())
            stopAfterDay = true;
        return stopAfterDay;
    }

    std::vector<std::string> captions;
    std::vector<int> waits;
    std::vector<RecordedMessage> messages;
    std::deque<MsgAnswer> answers;
    std::vector<FileDialogRequest> dialogs;
    std::string clipboard;
    std::string nextFileName;
    std::vector<std::pair<long long, long long>> progresses; // changes only
    int repaints = 0;
    int eventPumps = 0;
    int beeps = 0;
    bool stop = false; // the program is asked to end; this port never raises by itself
    // The user's stop (中止): set, or from the first time the condition holds when asked.
    mutable bool stopAfterDay = false;
    std::function<bool()> stopAfterDayWhen;

private:
    std::string m_caption;
    bool m_busy = false;
};

} // namespace tesmo::test
