// extractArchive on arbitrary bytes: it reports a damaged archive, never writes outside the
// destination folder and never writes anything there but the day file it was asked for.
#include "core/acquire/lha_extract.h"
#include "fuzz_support.h"

#include <cstdlib>
#include <filesystem>

using namespace tesmo;
namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string root = fuzz::scratchDir();
    const std::string archive = root + "/tmp_data.lzh";
    const std::string dest = root + "/out";
    fs::remove_all(dest);
    fs::create_directories(dest);
    fuzz::writeBytes(archive, data, size);
    fuzz::QuietPort port;
    (void)acquire::extractArchive(archive, port, dest, "20240105.bnd");
    // Only the archive, the settings, the install folder and the destination may be there.
    for (const auto &entry : fs::directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        if (name != "tmp_data.lzh" && name != "out" && name != "config" && name != "install")
            std::abort();
    }
    for (const auto &entry : fs::directory_iterator(dest))
        if (!entry.is_regular_file() || entry.path().filename() != "20240105.bnd")
            std::abort();
    return 0;
}
