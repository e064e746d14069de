// The page reader of the J-Quants client, on answers as they arrive, and the one-line form in
// which the texts of a server reach the user.
#include "core/acquire/jquants_client.h"
#include "core/common/text.h"

#include <cstdlib>

using namespace tesmo;

namespace {

// Whether `text` still holds a byte that steers a terminal: a C0 control or DEL.
bool holdsControl(const std::string &text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const acquire::jquants::Body body(data, data + size);
    size_t handed = 0;
    try {
        const std::string key = acquire::jquants::readPage(body, [&](const nlohmann::json &row) {
            // A row is a piece of the page: its text is never longer than the page.
            if (row.dump().size() > size + 2)
                std::abort();
            ++handed;
        });
        if (key.size() > acquire::jquants::kMaxKeyLength || key.size() > size)
            std::abort();
    } catch (const acquire::jquants::ApiError &e) {
        if (e.kind != acquire::jquants::ApiError::Kind::BadAnswer)
            std::abort();
    }
    if (handed > size)
        std::abort();

    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::string shown = singleLine(text, kServerTextLimit);
    size_t characters = 0;
    for (unsigned char c : shown)
        characters += (c & 0xC0) != 0x80;
    if (characters > kServerTextLimit || holdsControl(shown))
        std::abort();
    if (holdsControl(withoutControlCharacters(text)))
        std::abort();
    return 0;
}
