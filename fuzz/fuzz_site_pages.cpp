// The index-page and announcement parsers of the data-site scan, on pages as they arrive:
// code page 932 bytes turned into text first, as the scan does.
#include "core/acquire/site_scan.h"
#include "core/common/cp932.h"

#include <cstdlib>
#include <stdexcept>

using namespace tesmo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string page =
        cp932ToUtf8(std::string_view(reinterpret_cast<const char *>(data), size));
    try {
        for (const std::string &link : acquire::dayLinks(page)) {
            // A link text is a piece of the page, never more than it.
            if (link.size() > page.size())
                std::abort();
        }
    } catch (const std::runtime_error &) {
    }
    try {
        const std::string text = acquire::announcementText(page);
        if (text.find('\n') != std::string::npos && text.find("\r\n") == std::string::npos)
            std::abort(); // line breaks of the page are dropped; only "<br>" makes one
    } catch (const std::runtime_error &) {
    }
    (void)acquire::siteOrigin(page);
    return 0;
}
