#pragma once
// Writes daily data files as the data site publishes them: sections of enciphered lines, each
// closed by a separator line, lines ended by CR LF, text in code page 932. The tests make
// their day files with it, and the sample data site serves what it writes. No test framework
// and no window: a plain program can link it.
#include "core/acquire/day_cipher.h"
#include "core/acquire/day_record.h"

#include <string>
#include <string_view>
#include <vector>

namespace tesmo::acquire {

// The header of the data section; the decoder only looks at its first 15 characters.
inline constexpr const char *kDataSectionHeader = "DATE,CODE,NAME,PRC,DVAL,TALK,MARKET";

class DayFileWriter {
public:
    explicit DayFileWriter(std::string_view key = kDayFileKey);

    // Starts a section with its header line; the cipher state starts again.
    DayFileWriter &header(std::string_view text);
    // A line of the current section (UTF-8 text, written in code page 932). Raises
    // tesmo::Cp932Error for a character that code page 932 cannot hold.
    DayFileWriter &line(std::string_view text);
    DayFileWriter &record(const DayRecord &record) { return line(formatDayRecord(record)); }
    // Bytes enciphered as they are, for text that is not valid code page 932.
    DayFileWriter &lineBytes(std::string_view bytes);
    // A line written without enciphering: broken hexadecimal text, say.
    DayFileWriter &rawLine(std::string_view text);
    // Closes the section. `tail` follows the 25 characters that make a separator.
    DayFileWriter &separator(std::string_view tail = {});
    // Ends the file without the CR LF of its last line.
    DayFileWriter &dropLastLineEnd();

    const std::string &bytes() const { return m_bytes; }
    // Raises std::runtime_error when the file cannot be written.
    void save(const std::string &path) const;

private:
    DayCipher m_cipher;
    std::string m_bytes;
};

struct DayFileOptions {
    std::string key = kDayFileKey;
    // Lines of a notice section before the data section; none: no such section.
    std::vector<std::string> notice;
};

// A complete day file: the optional notice section, then the data section with one line per
// record, each section closed by a separator.
std::string dayFileBytes(const std::vector<DayRecord> &records, const DayFileOptions &options = {});
// The same written to `path`; returns `path`.
std::string writeDayFile(const std::string &path, const std::vector<DayRecord> &records,
                         const DayFileOptions &options = {});

// `count` made-up stocks on `date`, codes from 1301 on: what the sample data site and the
// tests need when the figures themselves do not matter. The same seed gives the same day.
std::vector<DayRecord> sampleDayRecords(long long date, int count, unsigned seed = 1);

} // namespace tesmo::acquire
