#include "core/acquire/day_file_decoder.h"

#include "core/acquire/day_cipher.h"
#include "core/acquire/day_record.h"
#include "core/acquire/step_label.h"
#include "core/common/cp932.h"
#include "core/common/paths.h"
#include "core/net/http_fetch.h"
#include "core/storage/settings_keys.h"

namespace tesmo::acquire {
namespace {
using storage::Value;

constexpr const char *kInsertStaging =
    "Insert into wonton_dat01([DATE],CODE,NAME,PRC,DVAL,TALK,MARKET) Values(?,?,?,?,?,?,?) ;";
// Deciphered bytes -> text: code page 932 to UTF-8, without CR, LF and NUL.
std::string decipheredText(DayCipher &cipher, std::string_view line) {
    std::string text = cp932ToUtf8(cipher.decipher(line));
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
    return text;
}

} // namespace

std::string decodeDailyFile(storage::Database &db, const std::string &path, const std::string &key,
                            UiPort &port) {
    return decodeDailyRows(path, key, port,
                           [&](const std::vector<Value> &row) { db.execute(kInsertStaging, row); });
}

std::string decodeDailyRows(const std::string &path, const std::string &key, UiPort &port,
                            const std::function<void(const std::vector<storage::Value> &)> &row) {
    StepLabel step;
    try {
        step = "key分解";
        DayCipher cipher(key);

        step = "ｾﾊﾟﾚｰﾀ読込";
        // The same cap as a download: a local file may be anything the user picked.
        const std::string content = readFileCapped(path, net::kMaxTransferBytes);

        int linesInSection = 0;
        bool dataSection = false;
        long long records = 0;
        size_t pos = 0;
        while (pos < content.size()) {
            // A line ends at CR LF (the files' own line end), or at a lone CR or LF.
            size_t end = content.find_first_of("\r\n", pos);
            size_t next;
            if (end == std::string::npos)
                end = next = content.size();
            else if (content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n')
                next = end + 2;
            else
                next = end + 1;
            const std::string_view line(content.data() + pos, end - pos);
            pos = next;

            if (isSeparatorLine(line)) {
                linesInSection = 0;
                dataSection = false;
                port.wait(1);
                continue;
            }
            ++linesInSection;
            if (linesInSection == 1) {
                step = "Encode確認";
                cipher.reset();
                const std::string text = decipheredText(cipher, line);
                step = "FirstRecode確認";
                dataSection = text.starts_with(kDataSectionPrefix);
            } else if (dataSection) {
                step = "DataRecode確認出力(" + std::to_string(records) + ")";
                const std::string text = decipheredText(cipher, line);
                const std::vector<std::string_view> fields = splitRecordFields(text);
                if (fields.size() != 7)
                    continue; // a name with a comma in it, say: skipped without a word
                ++records;
                row(stagingValues(fields));
            }
        }

        const long long compyc = storage::readSettingInt(storage::keys::compyc);
        if (linesInSection != 0)
            return "ENDｾﾊﾟﾚｰﾀ未発見";
        if (records == 0)
            return "全てEncode NG";
        if (records < compyc)
            return "対象ﾃﾞｰﾀ数が少なすぎます " + std::to_string(records) + "件";
        return {};
    } catch (const std::exception &e) {
        return step.failure(kDecoderPhrase, e.what());
    }
}

} // namespace tesmo::acquire
