// decodeDailyFile on arbitrary day files: the separator and section structure, the
// cipher with its running state, code page 932 to UTF-8, the splitting of a record into its
// fields and the reading of each field as the literal it must be, down to the INSERT into the
// staging table of a real database. Every outcome must be a text: no exception, no crash, and
// nothing but staging rows in the database.
//
// An input is the day file as it comes from the data site, byte for byte. An input that begins
// with '#' is plain text instead, one line per line, which the harness enciphers as the data
// site does (a line beginning with "+=" stays a plain separator, the line after it starts a
// section), so that the search reaches the record parsing without having to learn the cipher.
#include "core/acquire/day_file_decoder.h"
#include "core/acquire/day_file_writer.h"
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/settings_keys.h"
#include "core/storage/shipped_database.h"
#include "fuzz_support.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

using namespace tesmo;

namespace {

storage::Database &database() {
    static std::unique_ptr<storage::Database> db = [] {
        const std::string path = fuzz::scratchDir() + "/tesmo.mdb";
        storage::createShippedDatabase(path);
        // A low minimum, so that short files also reach the end of the decoding.
        storage::writeSetting(storage::keys::compyc, "2");
        return storage::Database::open(path, storage::kConnectString);
    }();
    return *db;
}

// "#" + plain lines -> an enciphered day file.
std::string encipheredFile(std::string_view plain) {
    acquire::DayFileWriter w;
    bool sectionStart = true;
    size_t pos = 0;
    while (pos <= plain.size()) {
        size_t end = plain.find('\n', pos);
        if (end == std::string_view::npos)
            end = plain.size();
        const std::string_view line = plain.substr(pos, end - pos);
        pos = end + 1;
        if (line.starts_with("+=")) {
            w.separator(line.substr(2));
            sectionStart = true;
            continue;
        }
        // UTF-8 in code page 932 where it can be, the bytes as they are where it cannot; a
        // header starts the cipher state again before it is converted.
        try {
            if (sectionStart)
                w.header(line);
            else
                w.line(line);
        } catch (const std::exception &) {
            w.lineBytes(line);
        }
        sectionStart = false;
    }
    return w.bytes();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    storage::Database &db = database();
    const std::string path = fuzz::scratchDir() + "/20240105.bnd";
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    if (!input.empty() && input.front() == '#') {
        const std::string bytes = encipheredFile(input.substr(1));
        fuzz::writeBytes(path, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    } else {
        fuzz::writeBytes(path, data, size);
    }
    db.execute("Delete from wonton_dat01 ");
    fuzz::QuietPort port;
    (void)acquire::decodeDailyFile(db, path, acquire::kDayFileKey, port);
    // The rows are readable and nothing else was touched.
    db.openRecordset("select * from wonton_dat01");
    if (db.scalar("select count(*) from master").toInt() != 0 ||
        db.scalar("select count(*) from T_config").toInt() != 4)
        std::abort();
    return 0;
}
