#!/usr/bin/env bash
# Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/ from the tests'
# fixtures, a few small pages shaped like the sites' own, and the answers of the J-Quants
# stand-in. Run again after the fixtures change; needs a built tesmoctl for the made-up day file
# and a built tesmo-sample-site for the stand-in (TESMOCTL and SAMPLE_SITE, default build/bin),
# and curl.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
data="$root/tests/data/acquire"
tesmoctl="${TESMOCTL:-$root/build/bin/tesmoctl}"
sample_site="${SAMPLE_SITE:-$root/build/bin/tesmo-sample-site}"
out="$here/corpus"
rm -rf "$out"
mkdir -p "$out"/{fuzz_day_file,fuzz_day_record,fuzz_site_pages,fuzz_module_table,fuzz_sql_translator,fuzz_lha_extract,fuzz_release_manifest,fuzz_jquants_page,fuzz_jquants_answers}

# Day files: the good one, the broken ones, and a made-up day of a few stocks.
cp "$data/ok/20240105.bnd" "$out/fuzz_day_file/ok_20240105.bnd"
for f in "$data"/errors/*.bnd; do cp "$f" "$out/fuzz_day_file/error_$(basename "$f")"; done
"$tesmoctl" gen-day 20240109 "$out/fuzz_day_file/gen_5_stocks.bnd" --stocks 5
# Plain day files ('#' first), which the harness enciphers itself.
printf '#DATE,CODE,NAME,PRC,DVAL,TALK,MARKET\n20240105,1301,"極洋",3920,21500,12,"東証プライム"\n20240105,"130A","名前 ""引用""",1234.5,0,,""\n20240105,7203,"トヨタ自動車",2680,30516300,415,\n+=+=+=+=+=+=+=+=+=+=+=+=+\n' \
    >"$out/fuzz_day_file/plain_records.txt"
printf '#お知らせ\n本日は休みです\n+=+=+=+=+=+=+=+=+=+=+=+=+\nDATE,CODE,NAME,PRC,DVAL,TALK,MARKET\n20240105,1301,"a",-1.5,.5,7.,"m"\n20240105,1302,"b,c",1,1,1,"m"\n+=+=+=+=+=+=+=+=+=+=+=+=+ tail\n' \
    >"$out/fuzz_day_file/plain_two_sections.txt"

# Record lines as the decoder sees them after deciphering.
printf '20240105,1301,"極洋",3950,12000,2,"東証P"' >"$out/fuzz_day_record/full"
printf '20240105,"130A","名前に""引用""",-1.5,,,""' >"$out/fuzz_day_record/quoted"
printf ' 20240105 , 1301 ,"x", 1.25 , 0 , 3 , "M" ' >"$out/fuzz_day_record/blanks"

# Archives: every fixture archive.
cp "$data"/lha/*.lzh "$out/fuzz_lha_extract/"

# Index and announcement pages, in code page 932 as the data site sends them.
printf '<html><body>\r\n<a href="/freedata/19990101.bnd">19990101.bnd</a><br>\r\n<!- tesmo daily data start --><br>\r\n<a href="/freedata/20240105.bnd.lzh">20240105.bnd.lzh</a><BR>\r\n<a href="/freedata/20240104.bnd">20240104.bnd</a><br>\r\n<!- tesmo daily data end --><br>\r\n</body></html>\r\n' \
    >"$out/fuzz_site_pages/index"
printf '<html><body>\r\n<!- tesmo announce start --><b>お知らせ</b><br>明日も晴れ。\r\n<br>※詳しくはTesmoﾎｰﾑﾍﾟｰｼﾞを参照してください<!- tesmo announce end -->\r\n</body></html>\r\n' |
    iconv -f UTF-8 -t CP932 >"$out/fuzz_site_pages/announce"

# Module tables of the update site.
printf '<html><body>\r\n<table border=1>\r\n<!- tesmo module update start -->\r\n<tr><td>No</td><td>file</td><td>size</td><td>stamp</td></tr>\r\n<tr><td>1</td><td>Tesmo</td><td align=right>1048576</td><td>108050100</td></tr>\r\n<tr><td>2</td><td>tesmo.mdb</td><td align=right>20000000</td><td>124020100</td>\r\n</tr>\r\n<!- tesmo module update end -->\r\n</table>\r\n</body></html>\r\n' \
    >"$out/fuzz_module_table/table"
printf 'x<!- tesmo module update start --><table><tr><td>1<td>a.dll<td>10<td>124010100<tr><td>2<td>b.dll<td>11</tr><!- tesmo module update end --><tr><td>3<td>c<td>1<td>1' \
    >"$out/fuzz_module_table/compact"

# Pages of the J-Quants API: bars with a key, a calendar, a refusal, texts with control bytes.
printf '{"data":[{"Date":"2024-06-03","Code":"13010","O":4100.0,"C":4120.0,"UL":"0","Vo":21500.0,"AdjFactor":1.0},{"Date":"2024-06-03","Code":"130A0","C":null,"Vo":null}],"pagination_key":"abc.def."}' \
    >"$out/fuzz_jquants_page/bars"
printf '{"data":[{"Date":"2024-12-30","HolDiv":"1"},{"Date":"2024-12-31","HolDiv":"0"}]}' \
    >"$out/fuzz_jquants_page/calendar"
printf '{"message":"\\u001b[31mThis API requires at least 1 parameter\\r\\n","meta":[{"data":[]}]}' \
    >"$out/fuzz_jquants_page/refusal"
printf 'name\tNUL\0 \xe2\x80\xae\x1b[2J\r\n\xc2\x9b\xff' >"$out/fuzz_jquants_page/controls"

# Answers of the J-Quants stand-in, small: four stocks and its special issues, pages of six rows.
# Each seed of the answers' target is a day's bars and master, or a month's calendar, page by
# page behind the lines that name them; the faults spoil the bars of the day before the end.
jq_end=20240607
jq_day=20240606
jq_from=20240601
jq_to=20240630
stand_in=""
jq_work="$(mktemp -d)"
stop_stand_in() {
    if [ -n "$stand_in" ]; then
        kill "$stand_in" 2>/dev/null || true
        wait "$stand_in" 2>/dev/null || true
        stand_in=""
    fi
}
trap 'stop_stand_in; rm -rf "$jq_work"' EXIT
# serve_jquants [--fault NAME ...]: the stand-in on a free port, in $jq_base.
serve_jquants() {
    stop_stand_in
    rm -f "$jq_work/port"
    "$sample_site" --port 0 --port-file "$jq_work/port" --quiet --jquants --stocks 4 \
        --page-size 6 --rate 0 --end "$jq_end" "$@" &
    stand_in=$!
    for _ in $(seq 100); do
        [ -s "$jq_work/port" ] && break
        sleep 0.1
    done
    jq_base="http://127.0.0.1:$(cat "$jq_work/port")/v2"
}
# pages TAG PATH QUERY: every page of the query (six at most: some faults never end), each
# behind "#TAG".
pages() {
    local key="" n=0 body
    while [ $n -lt 6 ]; do
        body="$(curl -s -H 'x-api-key: tesmo-sample-key' \
            "$jq_base$2?$3${key:+&pagination_key=$key}")"
        printf '#%s\n%s\n' "$1" "$body"
        key="$(printf '%s' "$body" | sed -n 's/.*"pagination_key":"\([^"]*\)".*/\1/p')"
        [ -n "$key" ] || break
        n=$((n + 1))
    done
}
answers="$out/fuzz_jquants_answers"
day_answers() { # the bars of jq_day and the master of that day
    pages "bars $(date -d "$jq_day" +%F)" /equities/bars/daily "date=$jq_day"
    pages master /equities/master "date=$jq_day"
}
calendar_answers() {
    pages "calendar $(date -d "$jq_from" +%F) $(date -d "$jq_to" +%F)" /markets/calendar \
        "from=$jq_from&to=$jq_to"
}
serve_jquants
day_answers >"$answers/day"
calendar_answers >"$answers/calendar"
curl -s -H 'x-api-key: tesmo-sample-key' "$jq_base/equities/bars/daily?date=$jq_day" \
    >"$out/fuzz_jquants_page/stand_in_bars"
curl -s -H 'x-api-key: tesmo-sample-key' "$jq_base/equities/master?date=$jq_day" \
    >"$out/fuzz_jquants_page/stand_in_master"
curl -s -H 'x-api-key: wrong-key' "$jq_base/equities/master" >"$out/fuzz_jquants_page/stand_in_403"
for fault in future-row other-day-row loose-row number-code text-close text-volume repeated-row \
    hole key-loop control-names; do
    serve_jquants --fault "$fault"
    day_answers >"$answers/fault_$fault"
done
serve_jquants --fault long-message --fault-bytes 400
pages "bars $(date -d "$jq_day" +%F)" /equities/bars/daily "date=$jq_day" \
    >"$answers/fault_long-message"
for fault in empty-calendar full-width-holdiv number-holdiv blank-holdiv; do
    serve_jquants --fault "$fault"
    calendar_answers >"$answers/fault_$fault"
done
stop_stand_in

# Signed lists of a release: one as release-sign writes it (with its signature after it, as the
# harness reads it), and one of a single file without a final line break.
release="$(mktemp -d)"
printf 'new program' >"$release/Tesmo"
printf 'complete database' >"$release/tesmotesmo.mdb"
"$tesmoctl" release-sign "$root/data/release-test.secret" "$release" --serial 7 >/dev/null
cat "$release/modules.sha256" "$release/modules.sha256.sig" | head -c -1 \
    >"$out/fuzz_release_manifest/signed"
printf 'serial 3\n%s 0 readme.txt' "$(printf '' | sha256sum | cut -d' ' -f1)" \
    >"$out/fuzz_release_manifest/one_file"
rm -rf "$release"

# Statements of the program's dialect, one per file.
n=0
while IFS= read -r stmt; do
    n=$((n + 1))
    printf '%s' "$stmt" >"$out/fuzz_sql_translator/stmt_$n"
done <<'SQL'
UPDATE master INNER JOIN wonton_dat01 ON master.CODE = wonton_dat01.CODE SET master.NAME = wonton_dat01.NAME ,   master.[UPDATE]=now() where master.NAME <> wonton_dat01.NAME;
 insert into master(CODE,NAME) select wonton_dat01.CODE,wonton_dat01.NAME FROM wonton_dat01 ;
Delete * from T_NEARLY where IDATE = 20240105 ;
Insert into wonton_dat01([DATE],CODE,NAME,PRC,DVAL,TALK,MARKET) Values(?,?,?,?,?,?,?) ;
select * from T_PORT where NAME like "*株*" and CODE = '1301' -- comment
SELECT T_PORT.CODE, [master].[NAME] FROM T_PORT /* block */ WHERE x = True ORDER BY 1;
UPDATE T_PORT SET T_PORT.PRC = 1.5e3, T_PORT.NAME = "a""b" WHERE CODE = "1301";
SQL
echo "corpus written to $out"
