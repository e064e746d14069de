#include "core/acquire/day_file_writer.h"

#include "core/common/cp932.h"

#include <fstream>
#include <random>
#include <stdexcept>

namespace tesmo::acquire {
namespace {

void writeFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("ファイルを書けません: " + path);
}

} // namespace

DayFileWriter::DayFileWriter(std::string_view key) : m_cipher(key) {}

DayFileWriter &DayFileWriter::header(std::string_view text) {
    m_cipher.reset();
    return line(text);
}

DayFileWriter &DayFileWriter::line(std::string_view text) {
    return lineBytes(utf8ToCp932(text));
}

DayFileWriter &DayFileWriter::lineBytes(std::string_view bytes) {
    return rawLine(m_cipher.encipher(bytes));
}

DayFileWriter &DayFileWriter::rawLine(std::string_view text) {
    m_bytes += text;
    m_bytes += "\r\n";
    return *this;
}

DayFileWriter &DayFileWriter::separator(std::string_view tail) {
    std::string text(kSeparatorLine);
    text += tail;
    return rawLine(text);
}

DayFileWriter &DayFileWriter::dropLastLineEnd() {
    if (m_bytes.ends_with("\r\n"))
        m_bytes.resize(m_bytes.size() - 2);
    return *this;
}

void DayFileWriter::save(const std::string &path) const {
    writeFile(path, m_bytes);
}

std::string dayFileBytes(const std::vector<DayRecord> &records, const DayFileOptions &options) {
    DayFileWriter w(options.key);
    if (!options.notice.empty()) {
        w.header(options.notice.front());
        for (size_t i = 1; i < options.notice.size(); ++i)
            w.line(options.notice[i]);
        w.separator();
    }
    w.header(kDataSectionHeader);
    for (const DayRecord &r : records)
        w.record(r);
    w.separator();
    return w.bytes();
}

std::string writeDayFile(const std::string &path, const std::vector<DayRecord> &records,
                         const DayFileOptions &options) {
    writeFile(path, dayFileBytes(records, options));
    return path;
}

std::vector<DayRecord> sampleDayRecords(long long date, int count, unsigned seed) {
    static const char *const kMarkets[] = {"東証プライム", "東証スタンダード", "東証グロース",
                                           "名証"};
    // A fixed generator (not std::uniform_*_distribution, whose output differs between
    // standard libraries) so that a seed names the same day everywhere.
    std::mt19937 gen(seed ^ static_cast<unsigned>(date));
    std::vector<DayRecord> out;
    out.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        DayRecord r;
        r.date = date;
        r.code = std::to_string(1301 + i);
        r.name = "サンプル銘柄" + std::to_string(i + 1);
        r.prc = 100.0 + static_cast<double>(gen() % 20000);
        r.dval = static_cast<double>((gen() % 5000) * 100);
        r.talk = static_cast<double>(gen() % 300);
        r.market = kMarkets[gen() % 4];
        out.push_back(std::move(r));
    }
    return out;
}

} // namespace tesmo::acquire
