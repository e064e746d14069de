#pragma once
// The step label of a long routine: each step names itself before it runs, and the routine's
// single catch turns the label, its fixed phrase and the error's description into the
// failure text that the user sees.
#include <string>
#include <string_view>

namespace tesmo::acquire {

// The fixed phrase of the import driver, the indicator computation and the date markers.
inline constexpr const char *kStepFailedPhrase = "中にｴﾗｰが発生しました\r\n詳細:";

class StepLabel {
public:
    StepLabel &operator=(std::string text) {
        m_text = std::move(text);
        return *this;
    }
    const std::string &text() const { return m_text; }
    std::string failure(std::string_view phrase, std::string_view description) const {
        std::string out = m_text;
        out += phrase;
        out += description;
        return out;
    }

private:
    std::string m_text;
};

} // namespace tesmo::acquire
