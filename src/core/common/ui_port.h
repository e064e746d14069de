#pragma once
// The only way the core talks to the user. The windows implement it with Qt; tests and
// tesmoctl implement it without a display. Long routines keep the interface alive by
// calling processEvents() and wait() here rather than blocking.
#include <stdexcept>
#include <string>
#include <vector>

namespace tesmo {

enum class MsgIcon { None, Information, Critical, Exclamation, Question };
enum class MsgButtons { Ok, OkCancel, YesNo };
enum class MsgAnswer { Ok, Cancel, Yes, No };

struct FileDialogRequest {
    std::string title;
    std::string initialDir;
    std::string initialName;
    std::string filter; // e.g. "CSV (*.csv)"
};

// `path` with the extension of the filter entry `filter` ("ﾃｷｽﾄﾌｧｲﾙ(*.txt)" gives ".txt")
// when its file name has none: a name typed into a save dialog gets the chosen type's.
std::string withFilterExtension(const std::string &path, const std::string &filter);

class UiPort {
public:
    virtual ~UiPort() = default;

    // Caption of the window that shows progress.
    virtual std::string caption() const = 0;
    virtual void setCaption(const std::string &text) = 0;
    // Repaint the progress window at once (the caption must be visible while we are busy).
    virtual void repaint() {}
    // How far the step in progress is, when it knows: `done` of `total` records, days or
    // bytes. A total of 0 (or less) means the step ended or cannot tell.
    virtual void progress(long long done, long long total) {
        (void)done;
        (void)total;
    }

    virtual void processEvents() {}
    // Sleeps one second at a time until `seconds` have passed, processing events after each
    // sleep. Test ports count the call instead of sleeping.
    virtual void wait(int seconds) = 0;

    virtual MsgAnswer message(const std::string &text, const std::string &title, MsgIcon icon,
                              MsgButtons buttons) = 0;
    virtual void beep() {}

    virtual std::string clipboardText() const { return {}; }
    virtual void setClipboardText(const std::string &) {}

    // Empty result: the user cancelled.
    virtual std::string openFileDialog(const FileDialogRequest &) { return {}; }
    virtual std::string saveFileDialog(const FileDialogRequest &) { return {}; }

    virtual bool busy() const { return false; }
    virtual void setBusy(bool) {}

    // True once the program has been asked to end while a routine runs (the desktop session
    // ends). A port that can be stopped then raises StopRequested from processEvents(),
    // wait() and repaint() and from every question, so that the routine unwinds at its next
    // pause through its ordinary failure path (an import commits what ran, as on any failure).
    virtual bool stopRequested() const { return false; }
    // True once the user asked the data update in progress to stop (中止, Ctrl+C). Unlike
    // stopRequested() nothing raises: the update finishes the day it is on, so that only whole
    // days are kept, and ends before the next.
    virtual bool stopAfterDayRequested() const { return false; }
};

// Ends the progress of a step on every way out of it.
class ProgressScope {
public:
    explicit ProgressScope(UiPort &port) : m_port(port) {}
    ~ProgressScope() { m_port.progress(0, 0); }
    ProgressScope(const ProgressScope &) = delete;
    ProgressScope &operator=(const ProgressScope &) = delete;

private:
    UiPort &m_port;
};

// Raised at a routine's pause once the program has been asked to end.
class StopRequested : public std::runtime_error {
public:
    StopRequested() : std::runtime_error("終了の要求により処理を中断しました。") {}
};

// For the places where a routine would otherwise go on after a failure (the next day of a
// scan): raises StopRequested once the port says so.
inline void throwIfStopRequested(const UiPort &port) {
    if (port.stopRequested())
        throw StopRequested();
}

// Shared wait routine: sleep 1000 ms at a time until the clock is `seconds` past the call,
// processing pending events after each sleep. Ports without a real clock override wait().
void waitSeconds(UiPort &port, int seconds);

} // namespace tesmo
