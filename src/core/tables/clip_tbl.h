#pragma once
// Copy and export of a grid window's table: the whole result of its record source, limited to
// the grid's visible columns, as separated text with a header line.
#include "core/storage/data_source.h"
#include "core/tables/grid_columns.h"

#include <optional>
#include <string>

namespace tesmo {
class UiPort;
}
namespace tesmo::storage {
class Database;
}

namespace tesmo::tables {

inline constexpr const char *kClipSourceError = "ｼｽﾃﾑｴﾗｰ 詳細:clip_tbl A3425";

// Tab when the setting cpseplt is 0 (or not a number), else a comma.
char copySeparator();
// The record source narrowed to the visible columns: a bare table or view name becomes a
// select of those fields, and " * " in a statement is replaced by the field list. nullopt when
// the source is a statement without " * ".
std::optional<std::string> clipStatement(const std::string &source, const GridColumns &cols);
// The text of a statement's result: the header of visible captions, then one line per row;
// values of right-aligned columns bare, others in double quotes, each in its default text
// form; CR LF after every line; the empty text when there are no rows. `params` are bound to
// the statement's placeholders.
std::string clipText(storage::Database &db, const std::string &statement,
                     const std::vector<storage::Value> &params, const GridColumns &cols,
                     char separator);
// Writes the text in code page 932. A character that the code page cannot hold becomes "?",
// so one odd stock name does not lose the export.
void writeCp932File(const std::string &path, const std::string &text);

// The shared routine of the copy and file commands: an empty `fileName` puts the text on the
// clipboard, else the text and one more CR LF go to the file and its folder becomes savecsvdir.
// Raises on database and file errors.
void exportTable(UiPort &port, storage::Database &db, const storage::Query &source,
                 const GridColumns &cols, const std::string &fileName);

// What each grid window hands to its copy and file commands.
struct TableExport {
    storage::Database &db;
    storage::Query source;
    const GridColumns &cols;
    std::string caption; // window caption: the title of the questions
    std::string prefix;  // file-name prefix of the save dialog
    bool longCopyNote;   // the ranking window warns that a copy takes a while
};

// Image1: confirm (unless nomoremsg), then copy. Failures are shown with the critical icon.
void copyTableCommand(UiPort &port, const TableExport &t);
// Image2: save dialog, overwrite question, write. `today` is yyyymmdd for the proposed name.
// The dialog itself asks nothing: the one overwrite question is this command's. True when
// the file was written.
bool fileTableCommand(UiPort &port, const TableExport &t, const std::string &today);

// The entries of the save dialog's filter.
inline constexpr const char *kExportFilter = "CSVﾌｧｲﾙ(*.csv);;ﾃｷｽﾄﾌｧｲﾙ(*.txt)";

} // namespace tesmo::tables
