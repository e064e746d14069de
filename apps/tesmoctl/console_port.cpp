#include "console_port.h"

#include "core/common/text.h"

namespace tesmoctl {

void ConsolePort::setCaption(const std::string &text) {
    if (text != m_caption && m_captionsTo) {
        (void)std::fprintf(m_captionsTo, "%s\n", text.c_str());
        (void)std::fflush(m_captionsTo);
    }
    m_caption = text;
}

void ConsolePort::wait(int seconds) {
    if (m_waits)
        tesmo::waitSeconds(*this, seconds);
}

tesmo::MsgAnswer ConsolePort::message(const std::string &text, const std::string &title,
                                      tesmo::MsgIcon, tesmo::MsgButtons buttons) {
    if (!title.empty())
        (void)std::fprintf(m_messagesTo, "[%s]\n", title.c_str());
    (void)std::fprintf(m_messagesTo, "%s\n", withNewlines(text).c_str());
    (void)std::fflush(m_messagesTo);
    return buttons == tesmo::MsgButtons::YesNo ? tesmo::MsgAnswer::Yes : tesmo::MsgAnswer::Ok;
}

std::string withNewlines(std::string text) {
    tesmo::replaceAll(text, "\r\n", "\n");
    return text;
}

} // namespace tesmoctl
