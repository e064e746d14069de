#!/usr/bin/env python3
"""Writes the day-file fixtures of this folder.

An implementation of the cipher of its own, kept apart from the C++ writer on purpose: the
tests decode these files and compare the C++ writer's output with them byte for byte, so a
mistake shared by the C++ enciphering and deciphering cannot hide.

Run from this folder: python3 make_fixtures.py
"""

KEY = "pebbleriverfox"
SEPARATOR = "+=+=+=+=+=+=+=+=+=+=+=+=+"


class Cipher:
    def __init__(self, key):
        self.key = [b for b in key[:14].encode("cp932")]
        self.reset()

    def reset(self):
        self.n = 0
        self.s = 0

    def encipher(self, text):
        out = []
        for b in text.encode("cp932"):
            self.n += 1
            k = self.key[self.n % len(self.key)]
            out.append("%02X" % ((b + k + self.s) % 256))
            if b in (9, 44):
                self.s += 3
                if self.s > 255:
                    self.s -= 256
        return "".join(out)


def day_file(sections, key=KEY, end_separator=True):
    """sections: lists of lines, the first being the header; each closed by a separator."""
    c = Cipher(key)
    lines = []
    for i, section in enumerate(sections):
        c.reset()
        lines.extend(c.encipher(line) for line in section)
        if end_separator or i + 1 < len(sections):
            lines.append(SEPARATOR)
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


HEADER = "DATE,CODE,NAME,PRC,DVAL,TALK,MARKET"
NOTICE = ["お知らせ", "このファイルはテスト用です"]
RECORDS = [
    '20240105,1301,"極洋",3920,21500,12,"東証プライム"',
    '20240105,"130A","Ｖｅｒｉｔａｓ ""Ｉｎ"" Ｓｉｌｉｃｏ",1234.5,0,,""',
    '20240105,7203,"トヨタ自動車",2680,30516300,415,',
]


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main():
    write("ok/20240105.bnd", day_file([NOTICE, [HEADER] + RECORDS]))
    # The second record's digits in lower case: the decoder must refuse them.
    good = day_file([[HEADER] + RECORDS]).decode("ascii").split("\r\n")
    good[2] = good[2].lower()
    write("errors/lowercase_hex.bnd", "\r\n".join(good).encode("ascii"))
    # One digit short on the third record.
    good = day_file([[HEADER] + RECORDS]).decode("ascii").split("\r\n")
    good[3] = good[3][:-1]
    write("errors/odd_digits.bnd", "\r\n".join(good).encode("ascii"))
    write("errors/no_end_separator.bnd", day_file([[HEADER] + RECORDS], end_separator=False))


if __name__ == "__main__":
    main()
