#include "core/shell/day_file_import.h"

#include "core/acquire/import_driver.h"
#include "core/acquire/lha_extract.h"
#include "core/common/paths.h"
#include "core/common/text.h"
#include "core/net/http_fetch.h"
#include "core/storage/update_lock.h"

#include <filesystem>
#include <optional>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tesmo::shell {
namespace {

// "<digits>.bnd", the only files an import reads.
bool isDayFileName(const std::string &name) {
    const std::string lower = lowerAscii(name);
    if (lower.size() <= 4 || !lower.ends_with(".bnd"))
        return false;
    for (size_t i = 0; i + 4 < lower.size(); ++i)
        if (lower[i] < '0' || lower[i] > '9')
            return false;
    return true;
}

bool isSaneFile(const std::string &path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec) &&
           static_cast<long long>(fs::file_size(path, ec)) <= net::kMaxTransferBytes && !ec;
}

} // namespace

PlacedDayFile placeDayFile(UiPort &port, const std::string &file) {
    std::string name = fs::path(file).filename().string();
    for (size_t at; (at = name.find(".lzh")) != std::string::npos;)
        name.erase(at, 4);
    const std::string data = pathFor(FileKind::Download, name);
    PlacedDayFile placed;
    std::error_code ec;
    if (lowerAscii(file.size() >= 4 ? file.substr(file.size() - 4) : file) == ".lzh") {
        if (!isDayFileName(name)) {
            placed.failure = kUnpackedFileMissing;
            return placed;
        }
        placed.deleteAfter = true;
        // A file of that name is replaced by the unpacked one, and then kept.
        if (fs::exists(data, ec)) {
            fs::remove(data, ec);
            placed.deleteAfter = false;
        }
        const std::string error =
            acquire::extractArchive(file, port, folderFor(FileKind::Download), name);
        if (!error.empty())
            placed.failure = std::string(kUnpackFailed) + "\r\n詳細:" + error;
        else if (!fs::exists(data, ec))
            placed.failure = kUnpackedFileMissing;
        else
            placed.path = data;
        return placed;
    }
    if (!isDayFileName(name) || !isSaneFile(file)) {
        placed.path = file;
        return placed;
    }
    if (!fs::exists(data, ec) || !fs::equivalent(file, data, ec)) {
        fs::copy_file(file, data, fs::copy_options::overwrite_existing, ec);
        if (ec)
            throw std::runtime_error("ファイルをコピーできません: " + file + " (" + ec.message() +
                                     ")");
    }
    placed.path = data;
    return placed;
}

LocalImport importLocalDayFile(storage::Database &db, UiPort &port, const std::string &file,
                               const std::function<void()> &refreshDate) {
    std::optional<storage::UpdateLock> lock;
    try {
        lock.emplace(db.path());
    } catch (const storage::UpdateRunning &refused) {
        return {{}, refused.what()};
    }
    if (storage::isFileOfDatabase(db, file))
        return {{}, std::string(kDatabaseIsNoDayFile) + file};
    const PlacedDayFile placed = placeDayFile(port, file);
    if (!placed.failure.empty())
        return {placed.failure, {}};
    LocalImport done;
    done.result = acquire::importDayFile(db, placed.path, port, 0);
    if (placed.deleteAfter) {
        std::error_code ec;
        fs::remove(placed.path, ec);
    }
    if (refreshDate)
        refreshDate();
    return done;
}

} // namespace tesmo::shell
