#!/bin/sh
# Rebuilds the archives of this folder with jlha (Debian package jlha-utils). The member
# 20240105.bnd is a small text file in code page 932 with CR LF lines; note.txt is a second
# member. Run it here: sh make_fixtures.sh
set -eu
cd "$(dirname "$0")"
python3 - <<'PY'
lines = []
for i in range(200):
    lines.append(('20240105,%d,"銘柄%d",%d,%d,%d,"東証"'
                  % (1301 + i, i, 1000 + i * 7, 50000 + i * 13, i % 17)).encode('cp932'))
open('20240105.bnd', 'wb').write(b'\r\n'.join(lines) + b'\r\n')
open('note.txt', 'wb').write(b'second member\r\n')
PY
work=$(mktemp -d)
mkdir "$work/sub"
cp 20240105.bnd note.txt "$work/"
cp 20240105.bnd "$work/sub/"
here=$(pwd)
(
    cd "$work"
    jlha a0 l0_lh5.lzh 20240105.bnd
    jlha a1 l1_lh5.lzh 20240105.bnd
    jlha a2 l2_lh5.lzh 20240105.bnd
    jlha az2 l2_lh0.lzh 20240105.bnd
    jlha a2 folder_l2.lzh sub/20240105.bnd
    jlha a1 two_members.lzh 20240105.bnd note.txt
    cp ./*.lzh "$here/"
) >/dev/null
rm -rf "$work"
