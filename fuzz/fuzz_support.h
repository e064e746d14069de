#pragma once
// What every fuzz target shares: a UI port that never waits or asks, and a scratch folder for
// the settings, the install folder and the files a target writes.
#include "core/common/ui_port.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tesmo::fuzz {

class QuietPort : public UiPort {
public:
    std::string caption() const override { return m_caption; }
    void setCaption(const std::string &text) override { m_caption = text; }
    void wait(int) override {}
    MsgAnswer message(const std::string &, const std::string &, MsgIcon,
                      MsgButtons buttons) override {
        return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
    }

private:
    std::string m_caption;
};

// A folder of this process under $TMPDIR, made on the first call, with $XDG_CONFIG_HOME and
// the install folder pointed into it so that no target reads or writes the user's own files.
// Removed when the process ends.
const std::string &scratchDir();

// Writes `size` bytes to `path`, replacing the file.
void writeBytes(const std::string &path, const uint8_t *data, size_t size);

} // namespace tesmo::fuzz
