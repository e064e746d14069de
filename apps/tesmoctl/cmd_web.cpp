// fetch and version-check: the web side of the programs from the command line.
#include "commands.h"

#include "acquire/http_fetch.h"
#include "common/ui_port.h"
#include "update/version_check.h"

#include <cstdio>

namespace tesmoctl {
namespace {

// The UI port of a terminal: captions and message boxes become lines of text, questions are
// answered with OK (or Yes), and waits really wait.
class ConsolePort : public tesmo::UiPort {
public:
    explicit ConsolePort(std::FILE *captionsTo) : m_captionsTo(captionsTo) {}

    std::string caption() const override { return m_caption; }
    void setCaption(const std::string &text) override {
        if (text != m_caption && m_captionsTo)
            std::fprintf(m_captionsTo, "%s\n", text.c_str());
        m_caption = text;
    }
    void wait(int seconds) override { tesmo::waitSeconds(*this, seconds); }
    tesmo::MsgAnswer message(const std::string &text, const std::string &title, tesmo::MsgIcon,
                             tesmo::MsgButtons buttons) override {
        std::string shown = text;
        for (size_t at = shown.find("\r\n"); at != std::string::npos; at = shown.find("\r\n", at))
            shown.replace(at, 2, "\n");
        std::printf("[%s]\n%s\n", title.c_str(), shown.c_str());
        std::fflush(stdout);
        return buttons == tesmo::MsgButtons::YesNo ? tesmo::MsgAnswer::Yes : tesmo::MsgAnswer::Ok;
    }

private:
    std::FILE *m_captionsTo;
    std::string m_caption;
};

const Command &commandNamed(const char *name) {
    for (const auto &c : commands())
        if (std::string(c.name) == name)
            return c;
    return commands().front();
}

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
