#include "core/acquire/day_file_decoder.h"
#include "core/acquire/day_record.h"

#include "acquire_test_env.h"
#include "core/net/http_fetch.h"

#include <filesystem>
#include <fstream>

#include <sys/stat.h>

namespace tesmo::test {
namespace {
using acquire::DayFileWriter;
using acquire::DayRecord;
using acquire::decodeDailyFile;
using acquire::kDataSectionHeader;
using acquire::kDayFileKey;

class Decoder : public AcquireTest {
protected:
    std::string decode(const std::string &path, const std::string &key = kDayFileKey) {
        return decodeDailyFile(*db, path, key, port);
    }
    std::vector<std::string> staging() {
        return rows("select [DATE],CODE,NAME,PRC,DVAL,TALK,MARKET,typeof(CODE),typeof(PRC) "
                    "from wonton_dat01 order by rowid");
    }
    std::string file(const DayFileWriter &w, const std::string &name = "20240105.bnd") {
        const std::string p = env.path(name);
        w.save(p);
        return p;
    }
};

TEST_F(Decoder, StoresTheRecordsOfTheHandMadeFixtureInFileOrder) {
    setting(storage::keys::compyc, "3");
    EXPECT_EQ(decode(TEST_DATA_DIR "/acquire/ok/20240105.bnd"), "");
    EXPECT_EQ(staging(),
              (std::vector<std::string>{
                  "20240105|1301|極洋|3920|21500|12|東証プライム|text|integer",
                  "20240105|130A|Ｖｅｒｉｔａｓ \"Ｉｎ\" Ｓｉｌｉｃｏ|1234.5|0|NULL|NULL|"
                  "text|real",
                  "20240105|7203|トヨタ自動車|2680|30516300|415|NULL|text|integer",
              }));
    // One pause at each of the two separators.
    EXPECT_EQ(port.waits, (std::vector<int>{1, 1}));
}

TEST_F(Decoder, StructuralFailuresAreReportedAfterTheWholeFile) {
    struct Case {
        const char *name;
        std::string path;
        const char *result;
        long long rows;
    };
    DayFileWriter notData;
    notData.header("DATE,CODE,NAME").line("20240105,1301,\"a\",1,1,1,\"b\"").separator();
    DayFileWriter noSection;
    noSection.header("お知らせ").line("本日は休みです").separator();
    DayFileWriter endsWithRecord;
    endsWithRecord.header(kDataSectionHeader);
    for (const DayRecord &r : acquire::sampleDayRecords(20240105, 20))
        endsWithRecord.record(r);
    const Case cases[] = {
        {"no end separator", TEST_DATA_DIR "/acquire/errors/no_end_separator.bnd",
         "ENDｾﾊﾟﾚｰﾀ未発見", 3},
        {"thousands of records, no end separator", file(endsWithRecord, "a.bnd"), "ENDｾﾊﾟﾚｰﾀ未発見",
         20},
        {"header without the third comma", file(notData, "b.bnd"), "全てEncode NG", 0},
        {"no data section", file(noSection, "c.bnd"), "全てEncode NG", 0},
        {"empty file", rawFile("d.bnd", ""), "全てEncode NG", 0},
    };
    setting(storage::keys::compyc, "1");
    for (const Case &c : cases) {
        db->execute("Delete from wonton_dat01 ");
        EXPECT_EQ(decode(c.path), c.result) << c.name;
        EXPECT_EQ(count("wonton_dat01"), c.rows) << c.name;
    }
}

TEST_F(Decoder, NeedsCompycRecords) {
    // Default compyc is 3000.
    const auto days = acquire::sampleDayRecords(20240105, 3000);
    const std::string short1 =
        dayFile(std::vector<DayRecord>(days.begin(), days.end() - 1), "20240105");
    EXPECT_EQ(decode(short1), "対象ﾃﾞｰﾀ数が少なすぎます 2999件");
    EXPECT_EQ(count("wonton_dat01"), 2999);
    db->execute("Delete from wonton_dat01 ");
    EXPECT_EQ(decode(dayFile(days, "20240106")), "");
    EXPECT_EQ(count("wonton_dat01"), 3000);

    setting(storage::keys::compyc, "x");
    EXPECT_NE(decode(short1).find("時にｴﾗｰ\r\n詳細：設定 compyc の値が数値ではありません"),
              std::string::npos);
}

TEST_F(Decoder, SkipsRecordsWithoutSevenFieldsSilently) {
    setting(storage::keys::compyc, "2");
    DayFileWriter w;
    w.header(kDataSectionHeader)
        .record(rec(20240105, "1301", 100))
        .record({20240105, "1302", "名前, カンマ入り", 200, 1, 1, "東証"}) // eight fields
        .line("20240105,1303,\"six\",1,1,1")
        .record(rec(20240105, "1304", 300))
        .separator();
    EXPECT_EQ(decode(file(w)), "");
    EXPECT_EQ(rows("select CODE from wonton_dat01 order by rowid"),
              (std::vector<std::string>{"1301", "1304"}));
}

TEST_F(Decoder, EachSectionRestartsTheCipherState) {
    setting(storage::keys::compyc, "1");
    DayFileWriter w;
    w.header(kDataSectionHeader).record(rec(20240105, "1301", 100)).separator();
    w.header("お知らせ").line("途中の節").rawLine("not hex at all: skipped unread").separator();
    w.header(kDataSectionHeader).record(rec(20240105, "1302", 200)).separator();
    EXPECT_EQ(decode(file(w)), "");
    EXPECT_EQ(rows("select CODE, PRC from wonton_dat01 order by rowid"),
              (std::vector<std::string>{"1301|100", "1302|200"}));
    EXPECT_EQ(port.waits.size(), 3u);
}

TEST_F(Decoder, ReadsLinesEndedByCrLfOrAloneByLfOrCr) {
    setting(storage::keys::compyc, "2");
    DayFileWriter w;
    w.header(kDataSectionHeader)
        .record(rec(20240105, "1301", 100))
        .record(rec(20240105, "1302", 200))
        .separator();
    std::string lf, cr;
    for (char c : w.bytes()) {
        if (c != '\r')
            lf += c;
        if (c != '\n')
            cr += c;
    }
    for (const std::string &bytes : {lf, cr}) {
        db->execute("Delete from wonton_dat01 ");
        EXPECT_EQ(decode(rawFile("20240105.bnd", bytes)), "");
        EXPECT_EQ(count("wonton_dat01"), 2);
    }
    // Without the line end after the last separator the file is still complete.
    db->execute("Delete from wonton_dat01 ");
    DayFileWriter cut = w;
    EXPECT_EQ(decode(file(cut.dropLastLineEnd())), "");
}

TEST_F(Decoder, ARecordEncipheredOnItsOwnDoesNotDecode) {
    setting(storage::keys::compyc, "1");
    // The second record was enciphered with the state reset, as if it began a section.
    DayFileWriter w;
    w.header(kDataSectionHeader).record(rec(20240105, "1301", 100));
    DayFileWriter alone;
    alone.header(acquire::formatDayRecord(rec(20240105, "1302", 200)));
    std::string line = alone.bytes().substr(0, alone.bytes().size() - 2);
    w.rawLine(line).separator();
    const std::string result = decode(file(w));
    EXPECT_EQ(rows("select CODE from wonton_dat01"), (std::vector<std::string>{"1301"}));
    EXPECT_TRUE(result.empty() || result.starts_with("DataRecode確認出力(1)")) << result;
}

TEST_F(Decoder, UsesOnlyTheFirst14CharactersOfTheKey) {
    setting(storage::keys::compyc, "3");
    EXPECT_EQ(decode(TEST_DATA_DIR "/acquire/ok/20240105.bnd", "pebbleriverfox and more"), "");
    EXPECT_EQ(count("wonton_dat01"), 3);
    db->execute("Delete from wonton_dat01 ");
    EXPECT_EQ(decode(TEST_DATA_DIR "/acquire/ok/20240105.bnd", "pebbleriverfog"), "全てEncode NG");
}

TEST_F(Decoder, BrokenLinesEndTheDecodingWithTheStepLabel) {
    setting(storage::keys::compyc, "1");
    struct Case {
        std::string path;
        const char *prefix;
        long long rowsKept;
    } cases[] = {
        {TEST_DATA_DIR "/acquire/errors/lowercase_hex.bnd",
         "DataRecode確認出力(1)時にｴﾗｰ\r\n詳細：16進数ではない文字があります: 'b' (1桁目)", 1},
        {TEST_DATA_DIR "/acquire/errors/odd_digits.bnd",
         "DataRecode確認出力(2)時にｴﾗｰ\r\n詳細：16進数の桁数が奇数です", 2},
        {env.path("missing.bnd"), "ｾﾊﾟﾚｰﾀ読込時にｴﾗｰ\r\n詳細：ファイルを開けません: ", 0},
        {rawFile("h.bnd", "A3G1\r\n"),
         "Encode確認時にｴﾗｰ\r\n詳細：16進数ではない文字があります: 'G'", 0},
    };
    for (const Case &c : cases) {
        db->execute("Delete from wonton_dat01 ");
        const std::string result = decode(c.path);
        EXPECT_TRUE(result.starts_with(c.prefix)) << result;
        EXPECT_EQ(count("wonton_dat01"), c.rowsKept) << c.path;
    }
    EXPECT_EQ(decodeDailyFile(*db, env.path("x"), "", port),
              "key分解時にｴﾗｰ\r\n詳細：復号キーが空です。");
}

TEST_F(Decoder, MalformedFieldsFailTheRecordInsteadOfReachingTheEngine) {
    setting(storage::keys::compyc, "1");
    struct Case {
        const char *line;
        const char *description;
    } cases[] = {
        {"20240105,1301,,1,1,1,\"m\"", "NAME がダブルクォートで囲んだ文字列ではありません: "},
        {"20240105,1301,\"n\",0;Delete from master,1,1,\"m\"",
         "PRC が数値ではありません: 0;Delete from master"},
        {"2024015,1301,\"n\",1,1,1,\"m\"", "DATE が8 桁の日付ではありません: 2024015"},
        {"00000000,1301,\"n\",1,1,1,\"m\"", "DATE が8 桁の日付ではありません: 00000000"},
        {"20241399,1301,\"n\",1,1,1,\"m\"", "DATE が8 桁の日付ではありません: 20241399"},
        {"20240230,1301,\"n\",1,1,1,\"m\"", "DATE が8 桁の日付ではありません: 20240230"},
        {"19000229,1301,\"n\",1,1,1,\"m\"", "DATE が8 桁の日付ではありません: 19000229"},
        {"20240105,13-01,\"n\",1,1,1,\"m\"",
         "CODE がダブルクォートで囲んだ文字列ではありません: 13-01"},
        {"20240105,1301,\"n\",1,1,1e5,\"m\"", "TALK が数値ではありません: 1e5"},
        {"20240105,1301,\"n\",1,1,1,m", "MARKET がダブルクォートで囲んだ文字列ではありません: m"},
        {"20240105,1301,\"a\"b\",1,1,1,\"m\"",
         "NAME がダブルクォートで囲んだ文字列ではありません: \"a\"b\""},
    };
    for (const auto &c : cases) {
        db->execute("Delete from wonton_dat01 ");
        DayFileWriter w;
        w.header(kDataSectionHeader).record(rec(20240105, "1300", 1)).line(c.line).separator();
        EXPECT_EQ(decode(file(w)),
                  std::string("DataRecode確認出力(1)時にｴﾗｰ\r\n詳細：") + c.description);
        EXPECT_EQ(count("wonton_dat01"), 1) << c.line;
    }
    EXPECT_EQ(count("master"), 0);
}

TEST_F(Decoder, LocalFilesAreReadWithTheDownloadCap) {
    const std::string big = env.path("20240106.bnd");
    std::ofstream(big).close();
    std::filesystem::resize_file(big, net::kMaxTransferBytes + 1); // sparse: nothing written
    std::filesystem::create_symlink("/dev/zero", env.path("20240107.bnd"));
    ASSERT_EQ(::mkfifo(env.path("20240108.bnd").c_str(), 0600), 0);
    std::filesystem::create_directory(env.path("20240109.bnd"));
    const std::pair<const char *, const char *> cases[] = {
        {"20240106.bnd", "ファイルが上限(200MB)を超えているため読み込みません"},
        {"20240107.bnd", "通常のファイルではないため読み込みません"},
        {"20240108.bnd", "通常のファイルではないため読み込みません"},
        {"20240109.bnd", "通常のファイルではないため読み込みません"},
    };
    for (const auto &[name, why] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(decode(env.path(name)),
                  std::string("ｾﾊﾟﾚｰﾀ読込時にｴﾗｰ\r\n詳細：") + why + ": " + env.path(name));
    }
}

TEST_F(Decoder, TextFromTheFileIsStoredAsTextNeverRunAsSql) {
    setting(storage::keys::compyc, "1");
    DayFileWriter w;
    w.header(kDataSectionHeader)
        .record({20240105, "13'0", "x'); Delete from T_config; --", 1, 2, 3, "市場\"\""})
        .separator();
    EXPECT_EQ(decode(file(w)), "");
    EXPECT_EQ(rows("select CODE, NAME, MARKET from wonton_dat01"),
              (std::vector<std::string>{"13'0|x'); Delete from T_config; --|市場\"\""}));
    EXPECT_EQ(count("T_config"), 4);
}

TEST(StagingValues, ReadsEachLiteralForm) {
    using storage::Value;
    auto values = [](std::vector<std::string_view> f) { return acquire::stagingValues(f); };
    EXPECT_EQ(values({"20240105", "1301", "\"n\"", "100", "-2.5", "", "\"m\""}),
              (std::vector<Value>{Value(std::int64_t{20240105}), Value("1301"), Value("n"),
                                  Value(std::int64_t{100}), Value(-2.5), Value(), Value("m")}));
    EXPECT_EQ(
        values({" 20240105 ", " \"1301\"", "\"\"", ".5", "7.", "99999999999999999999", "\"\""}),
        (std::vector<Value>{Value(std::int64_t{20240105}), Value("1301"), Value(""), Value(0.5),
                            Value(7.0), Value(1e20), Value()}));
    EXPECT_EQ(values({"20240105", "1301", "\"a\"\"b\"", "", "", "", ""})[2], Value("a\"b"));
    for (const char *leapDay : {"20240229", "20000229"})
        EXPECT_EQ(values({leapDay, "1", "\"n\"", "", "", "", ""})[0],
                  Value(std::int64_t{std::stoll(leapDay)}));
    EXPECT_THROW(values({"20240105", "1301", "\"n\"", "-", "", "", ""}), acquire::DayRecordError);
    EXPECT_THROW(values({"20240105", "1301", "\"n\"", ".", "", "", ""}), acquire::DayRecordError);
    EXPECT_THROW(values({"20240105", "1301", "\"n\"", "1.2.3", "", "", ""}),
                 acquire::DayRecordError);
    EXPECT_THROW(values({"20240105", "", "\"n\"", "", "", "", ""}), acquire::DayRecordError);
    EXPECT_THROW(values({"20240105", "1301", "\"n\""}), acquire::DayRecordError);
}

} // namespace
} // namespace tesmo::test
