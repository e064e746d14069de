// Fuzzes the decoding of a daily data file (Part 2.4): separator and section structure, the
// cipher with its running state, code page 932 to UTF-8, the splitting of a record into its
// fields and the reading of each field as the literal it must be, down to the INSERT into the
// staging table of a real database.
//
// An input is the day file as it comes from the data site, byte for byte. An input that begins
// with '#' is plain text instead, one line per line, which the harness enciphers as the data
// site does (a line beginning with "+=" stays a plain separator, the line after it starts a
// section), so that the search reaches the record parsing without first having to learn the
// cipher.
#include "acquire/day_file_decoder.h"
#include "acquire/day_file_writer.h"
#include "common/ui_port.h"
#include "storage/database.h"
#include "storage/settings_keys.h"
#include "storage/shipped_database.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

namespace {
using namespace tesmo;

class SilentPort : public UiPort {
public:
    std::string caption() const override { return {}; }
    void setCaption(const std::string &) override {}
    void wait(int) override {}
    MsgAnswer message(const std::string &, const std::string &, MsgIcon, MsgButtons) override {
        return MsgAnswer::Ok;
    }
};

struct Harness {
    std::string dir;
    std::string file;
    std::unique_ptr<storage::Database> db;
    SilentPort port;

    Harness() {
        char tmpl[] = "/tmp/tesmo-fuzz-XXXXXX";
        dir = mkdtemp(tmpl);
        // The settings store follows XDG_CONFIG_HOME: keep the user's own out of reach.
        setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
        storage::writeSetting(storage::keys::compyc, "2");
        const std::string path = dir + "/tesmo.mdb";
        storage::createShippedDatabase(path);
        db = storage::Database::open(path, storage::kConnectString);
        file = dir + "/20240105.bnd";
    }
    ~Harness() {
        db.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Harness &harness() {
    static Harness h;
    return h;
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
            w.separator(line.size() > 2 ? line.substr(2) : std::string_view());
            sectionStart = true;
        } else {
            if (sectionStart)
                w.header({}).dropLastLine();
            sectionStart = false;
            // UTF-8 in code page 932 where it can be, the bytes as they are where it cannot.
            try {
                w.line(line);
            } catch (const std::exception &) {
                w.lineBytes(line);
            }
        }
    }
    return w.bytes();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Harness &h = harness();
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    const std::string bytes = !input.empty() && input.front() == '#'
                                  ? encipheredFile(input.substr(1))
                                  : std::string(input);
    {
        std::ofstream out(h.file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    h.db->execute("Delete from wonton_dat01 ");
    // Every outcome is a text; the decoder must never raise, crash or leave the table
    // unreadable.
    const std::string result = acquire::DecodeDailyFile(*h.db, h.file, acquire::kDayFileKey, h.port);
    h.db->scalar("select count(*) from wonton_dat01");
    (void)result;
    return 0;
}
