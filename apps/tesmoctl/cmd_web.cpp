// fetch, update and version-check: the web side of the programs from the command line.
#include "commands.h"

#include "acquire/http_fetch.h"
#include "acquire/import_driver.h"
#include "acquire/jquants_client.h"
#include "acquire/jquants_update.h"
#include "common/dates.h"
#include "common/ui_port.h"
#include "shell/newest_date.h"
#include "storage/connection.h"
#include "storage/database.h"
#include "update/version_check.h"

#include <cstdio>
#include <ctime>

namespace tesmoctl {
namespace {

// The UI port of a terminal: captions and message boxes become lines of text, questions are
// answered with OK (or Yes), and waits really wait.
class ConsolePort : public tesmo::UiPort {
public:
    explicit ConsolePort(std::FILE *captionsTo, std::string caption = {}, bool waits = true)
        : m_captionsTo(captionsTo), m_caption(std::move(caption)), m_waits(waits) {}

    std::string caption() const override { return m_caption; }
    void setCaption(const std::string &text) override {
        if (text != m_caption && m_captionsTo)
            std::fprintf(m_captionsTo, "%s\n", text.c_str());
        m_caption = text;
    }
    void wait(int seconds) override {
        if (m_waits)
            tesmo::waitSeconds(*this, seconds);
    }
    tesmo::MsgAnswer message(const std::string &text, const std::string &title, tesmo::MsgIcon,
                             tesmo::MsgButtons buttons) override {
        std::printf("[%s]\n%s\n", title.c_str(), withNewlines(text).c_str());
        std::fflush(stdout);
        return buttons == tesmo::MsgButtons::YesNo ? tesmo::MsgAnswer::Yes : tesmo::MsgAnswer::Ok;
    }

    void beep() override { std::fputc('\a', stderr); }

    // CR LF -> LF: the texts are made for message boxes.
    static std::string withNewlines(std::string text) {
        for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
            text.replace(at, 2, "\n");
        return text;
    }

private:
    std::FILE *m_captionsTo;
    std::string m_caption;
    bool m_waits;
};

} // namespace

int cmdFetch(const Args &args) {
    if (args.empty() || args.size() > 2)
        return usageError(commandNamed("fetch"));
    ConsolePort port(stderr);
    port.setCaption("tesmoctl fetch");
    tesmo::acquire::HttpClient client;
    if (args.size() == 2) {
        const std::string failure = tesmo::acquire::FetchToFile(args[0], port, client, args[1]);
        return failure.empty() ? 0 : fail(failure);
    }
    std::string text;
    const std::string failure = tesmo::acquire::FetchToText(args[0], port, client, text);
    if (!failure.empty())
        return fail(failure);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

int cmdUpdate(const Args &args) {
    bool waits = true;
    Args positional;
    for (const std::string &a : args) {
        if (a == "--no-wait")
            waits = false;
        else
            positional.push_back(a);
    }
    if (positional.size() != 1)
        return usageError(commandNamed("update"));
    auto db = tesmo::storage::Database::open(positional[0], tesmo::storage::kConnectString);
    // Captions go to stdout as they change, like the title bar of the main window.
    ConsolePort port(stdout, "Tesmo", waits);
    tesmo::acquire::HttpClient client;
    tesmo::acquire::ImportRunState &state = tesmo::acquire::importRunState();
    const auto showNewestDate = [&] {
        std::printf("直近日付 %s\n",
                    tesmo::shell::newestDateText(tesmo::shell::newestDate(*db)).c_str());
        std::fflush(stdout);
    };
    const std::string failure =
        tesmo::acquire::ScanSelectedSource(*db, port, client, showNewestDate, state);
    db->close();
    if (!failure.empty()) {
        std::printf("%s\n", ConsolePort::withNewlines(failure).c_str());
        return 1;
    }
    if (state.importedCount != 0)
        std::printf("正常終了\n\n[更新したﾃﾞｰﾀﾌｧｲﾙ]\n%s",
                    ConsolePort::withNewlines(state.importedList).c_str());
    else
        std::printf("ホームページ上に新しい更新ﾃﾞｰﾀがありませんでした。\n");
    if (!tesmo::acquire::sourceNote().empty())
        std::printf("%s\n", tesmo::acquire::sourceNote().c_str());
    return 0;
}

int cmdJQuantsCheck(const Args &args) {
    if (!args.empty())
        return usageError(commandNamed("jquants-check"));
    ConsolePort port(nullptr);
    const tesmo::acquire::jquants::ConnectionReport report =
        tesmo::acquire::jquants::testConnection(tesmo::acquire::jquants::Settings::fromStore(),
                                                port, tesmo::localDate(std::time(nullptr)));
    std::printf("%s\n", ConsolePort::withNewlines(report.text).c_str());
    return report.ok ? 0 : 1;
}

int cmdVersionCheck(const Args &args) {
    bool completeDb = false;
    for (const std::string &a : args) {
        if (a == "--complete")
            completeDb = true;
        else
            return usageError(commandNamed("version-check"));
    }
    ConsolePort port(nullptr);
    tesmo::acquire::HttpClient client;
    const std::string selection = tesmo::update::version_check(client, port, completeDb);
    // One selected file per line: name, size, stamp.
    size_t start = 0;
    for (size_t tab = selection.find('\t'); tab != std::string::npos;
         tab = selection.find('\t', start)) {
        std::printf("%s\n", selection.substr(start, tab - start).c_str());
        start = tab + 1;
    }
    if (!selection.empty())
        std::fprintf(stderr, "update-size: %.0f\n",
                     static_cast<double>(tesmo::update::updateSize()));
    return 0;
}

} // namespace tesmoctl
