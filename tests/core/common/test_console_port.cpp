#include "core/common/console_port.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

using namespace tesmo;

namespace {

struct FileCloser {
    void operator()(std::FILE *f) const { (void)std::fclose(f); }
};
using TempFile = std::unique_ptr<std::FILE, FileCloser>;

std::string contentOf(std::FILE *f) {
    std::rewind(f);
    std::string out;
    for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f))
        out += static_cast<char>(c);
    return out;
}

// A terminal has nobody to click: every question is answered as agreed, and the message box
// becomes lines of text with the title in brackets.
TEST(ConsolePort, MessagesBecomeLinesAndQuestionsAreAgreed) {
    const struct {
        std::string text, title;
        MsgButtons buttons;
        MsgAnswer answer;
        std::string shown;
    } cases[] = {
        {"保存しました。", "Tesmo", MsgButtons::Ok, MsgAnswer::Ok, "[Tesmo]\n保存しました。\n"},
        {"一行目\r\n二行目", "", MsgButtons::OkCancel, MsgAnswer::Ok, "一行目\n二行目\n"},
        {"削除しますか?", "確認", MsgButtons::YesNo, MsgAnswer::Yes, "[確認]\n削除しますか?\n"},
    };
    for (const auto &c : cases) {
        const TempFile out(std::tmpfile());
        ASSERT_TRUE(out);
        ConsolePort port(nullptr, out.get());
        EXPECT_EQ(port.message(c.text, c.title, MsgIcon::Information, c.buttons), c.answer)
            << c.text;
        EXPECT_EQ(contentOf(out.get()), c.shown);
    }
}

// A caption is written when it changes, not each time a routine sets it again.
TEST(ConsolePort, CaptionsAreWrittenAsTheyChange) {
    const TempFile captions(std::tmpfile());
    ASSERT_TRUE(captions);
    ConsolePort port(captions.get(), stdout, "Tesmo", false);
    for (const char *caption : {"Tesmo", "取得中", "取得中", "Tesmo"})
        port.setCaption(caption);
    EXPECT_EQ(contentOf(captions.get()), "取得中\nTesmo\n");
    EXPECT_EQ(port.caption(), "Tesmo");

    ConsolePort silent(nullptr);
    silent.setCaption("取得中");
    EXPECT_EQ(silent.caption(), "取得中");
}

} // namespace
