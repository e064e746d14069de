#pragma once
// Reads one daily data file, deciphers it line by line and inserts one staging row per stock
// into wonton_dat01.
#include "core/common/ui_port.h"
#include "core/storage/database.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tesmo::acquire {

// The deciphered header of a data section begins with this.
inline constexpr std::string_view kDataSectionPrefix = "DATE,CODE,NAME,";
inline constexpr const char *kDecoderPhrase = "時にｴﾗｰ\r\n詳細：";

// Returns the empty text on success, otherwise the reason: a step's failure text or one of
// "ENDｾﾊﾟﾚｰﾀ未発見", "全てEncode NG" and the too-few-records message. Rows inserted before a
// failure stay in wonton_dat01; the caller empties the table first. `port` waits one second
// at every separator line, so that the window stays alive.
std::string decodeDailyFile(storage::Database &db, const std::string &path, const std::string &key,
                            UiPort &port);

// The same walk through the file, handing each record to `row` as the seven values of a
// staging row (DATE, CODE, NAME, PRC, DVAL, TALK, MARKET) instead of inserting it. An
// exception from `row` ends the walk with the step's failure text.
std::string decodeDailyRows(const std::string &path, const std::string &key, UiPort &port,
                            const std::function<void(const std::vector<storage::Value> &)> &row);

} // namespace tesmo::acquire
