#pragma once
// A day file that the user picked ("test") or dropped onto the options window: it is put into
// the install folder, unpacked from its archive when it is one, and imported as day 0.
#include "core/common/ui_port.h"
#include "core/storage/database.h"

#include <functional>
#include <string>

namespace tesmo::shell {

// What the failure texts of the extraction begin with.
inline constexpr const char *kUnpackFailed = "Lhaの解凍に失敗しました";
inline constexpr const char *kUnpackedFileMissing = "Lhaの解凍後のﾌｧｲﾙが見つかりません";
// The database itself, picked as a day file: reading it beside its own connection would drop
// the connection's locks.
inline constexpr const char *kDatabaseIsNoDayFile = "データベースファイルは取り込めません: ";

struct PlacedDayFile {
    std::string path;         // the file to import; empty when `failure` is set
    bool deleteAfter = false; // an unpacked file that nobody had kept there before
    std::string failure;      // why nothing came out of the archive, for a critical message
};

// The name N of `file` with every ".lzh" removed. An archive (".lzh") gives up only its member
// N, unpacked into the install folder, and only when N is a day file's name ("<digits>.bnd"):
// whatever else it holds is never written. Another file is copied to the install folder when
// it is a day file of a sane size, and read where it lies otherwise (the import then refuses
// it with its message), so that a file named like the database or a program never replaces
// one. Raises when the copy fails.
PlacedDayFile placeDayFile(UiPort &port, const std::string &file);

struct LocalImport {
    std::string unpackFailure; // set: nothing was imported
    std::string result;        // importDayFile's result
};

// placeDayFile, then importDayFile as day 0, the unpacked file removed again and `refreshDate`
// run after the import. Under the database's update lock: while another program updates the
// database the result is kOtherUpdateRunning and nothing is placed or imported; the database
// itself (or a file of SQLite's beside it) is refused with kDatabaseIsNoDayFile.
LocalImport importLocalDayFile(storage::Database &db, UiPort &port, const std::string &file,
                               const std::function<void()> &refreshDate);

} // namespace tesmo::shell
