#include "core/common/console_port.h"

#include "core/common/text.h"

namespace tesmo {

void ConsolePort::setCaption(const std::string &text) {
    if (text != m_caption && m_captionsTo) {
        (void)std::fprintf(m_captionsTo, "%s\n", text.c_str());
        (void)std::fflush(m_captionsTo);
    }
    m_caption = text;
}

void ConsolePort::wait(int seconds) {
    if (m_waits)
        waitSeconds(*this, seconds);
}

MsgAnswer ConsolePort::message(const std::string &text, const std::string &title, MsgIcon,
                               MsgButtons buttons) {
    if (!title.empty())
        (void)std::fprintf(m_messagesTo, "[%s]\n", title.c_str());
    (void)std::fprintf(m_messagesTo, "%s\n", withLfNewlines(text).c_str());
    (void)std::fflush(m_messagesTo);
    return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
}

} // namespace tesmo
