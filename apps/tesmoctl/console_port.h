#pragma once
#include "common/ui_port.h"

#include <cstdio>
#include <string>

namespace tesmoctl {

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

} // namespace tesmoctl
