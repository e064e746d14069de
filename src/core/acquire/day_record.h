#pragma once
// The record lines of a daily data file, both ways: the data site writes each of the seven
// fields as an SQL literal, and the decoder reads those literals back into the values of a
// staging row.
#include "core/storage/value.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tesmo::acquire {

// One stock on one day.
struct DayRecord {
    long long date = 0; // yyyymmdd
    std::string code;   // written bare when it is all digits, else in double quotes
    std::string name;   // UTF-8; written in double quotes
    std::optional<double> prc;
    std::optional<double> dval;
    std::optional<double> talk; // absent: an empty field, which stands for null
    std::string market;         // UTF-8; empty: written as ""
};

// DATE,CODE,"NAME",PRC,DVAL,TALK,"MARKET" (UTF-8). Numbers in plain decimal form, quotes
// inside a text doubled. A comma inside a name is written as it stands, which gives the
// record an eighth field.
std::string formatDayRecord(const DayRecord &record);

class DayRecordError : public std::runtime_error {
public:
    explicit DayRecordError(const std::string &what) : std::runtime_error(what) {}
};

// The seven fields of a record (DATE, CODE, NAME, PRC, DVAL, TALK, MARKET) as the values of a
// staging row. The file writes each field as an SQL literal; this reads the few literal forms
// a field may take instead of pasting the text into a statement, so a crafted file can never
// run SQL of its own:
//   DATE               eight digits yyyymmdd, a day of the calendar
//   CODE               digits, or text in double quotes; kept as text either way
//   NAME               text in double quotes ("" inside stands for one quote)
//   PRC, DVAL, TALK    an integer or a decimal with an optional leading minus; empty: null
//   MARKET             text in double quotes; empty or "": null
// Blanks around a field are ignored, as they would be around a literal. Raises DayRecordError
// with a description of the first field that has none of these forms.
// The pieces of a record line between its commas, without quoting rules (a text without a
// comma is one piece). The views point into `text`.
std::vector<std::string_view> splitRecordFields(std::string_view text);

std::vector<storage::Value> stagingValues(const std::vector<std::string_view> &fields);

} // namespace tesmo::acquire
