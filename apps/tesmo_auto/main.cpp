// The updater. The main program's version check leaves the files to fetch in the section
// trg_dt of the updater state; with nothing there, there is nothing to do.
#include "storage/settings_keys.h"
#include "storage/settings_store.h"

#include <cstdio>

int main() {
    using namespace tesmo::storage;
    const auto files = getAllSettings(updaterStateAppName(), kTrgDtSection);
    if (!files || files->empty()) {
        std::printf("tesmo_auto: 更新するファイルはありません。\n");
        return 0;
    }
    // Downloading and installing arrive with the updater window.
    std::fprintf(stderr, "tesmo_auto: この版では更新ファイルを取得できません。\n");
    return 1;
}
