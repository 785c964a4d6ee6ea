#!/usr/bin/env python3
"""Writes the settings files the benchmark runs on into the folder given as argument.

realistic.ini        a Qtv.ini as the host keeps it: about 600 CR LF lines, 30 KB, with
                     board names and thread titles in Japanese (code page 932).
realistic-ascii.ini  the same file with every Japanese text replaced by ASCII letters of the
                     same byte length, for tools that cannot read code page 932.
long-<n>MiB.ini      the [DESKTOP] section, then one line that makes the file n MiB long.
lines-1000x64KiB.ini 1000 lines: [DESKTOP], its LISTWIDTH= line, an empty line, and 997 lines
                     of 64 KiB each, CR LF included.

Every file holds LISTWIDTH=120 under [DESKTOP]. The content is fixed: the same seed gives the
same bytes on every run.
"""
import os
import random
import sys

MIB = 1024 * 1024
LONG_LINE_SIZES_MIB = (1, 4, 16, 64)
LINE_COUNT = 1000
LONG_LINE_BYTES = 64 * 1024
SEED = 932

BOARD_NAMES = ["ソフトウェア", "プログラム", "ニュース速報", "ゲーム", "アニメ", "音楽", "映画",
               "料理", "旅行", "鉄道", "天文", "数学", "物理", "化学", "歴史", "将棋", "囲碁",
               "写真", "自転車", "釣り", "園芸", "ペット", "家電", "携帯電話"]
TITLE_WORDS = ["総合", "質問", "スレッド", "雑談", "初心者", "専用", "情報", "まとめ", "避難所",
               "本スレ", "次スレ", "感想", "議論", "part", "その"]

DESKTOP_SECTION = [
    "[DESKTOP]", "LEFT=0", "TOP=0", "WIDTH=1280", "HEIGHT=960", "LISTWIDTH=120",
    "TREEWIDTH=180", "TREEVISIBLE=1", "LISTVISIBLE=1", "TOOLBAR=1", "STATUSBAR=1",
    "SPLITTER=0", "MAXIMIZED=0", "FONTNAME=ＭＳ Ｐゴシック", "FONTSIZE=9", "TABSTYLE=0",
    "TABPOSITION=0", "COLUMNS=0,1,2,3,4,5", "COLUMNWIDTHS=32,280,48,48,64,120",
    "SORTCOLUMN=4", "SORTDESCENDING=1",
]


def title(rng):
    words = rng.sample(TITLE_WORDS, 4)
    return "【{}】{}{}".format(rng.choice(BOARD_NAMES), "".join(words), rng.randint(1, 999))


def realistic_lines():
    """The lines of the realistic file, as text; each Japanese piece is marked so that the
    ASCII variant can replace it."""
    rng = random.Random(SEED)
    lines = ["[MAIN]", "VERSION=1.20", "TITLE=スレッド一覧", "LASTBOARD=ソフトウェア",
             "CHECKNEW=1", "INTERVAL=300", "PROXY=", "USERAGENT=Monazilla/1.00 (Ostrel/1.20)", ""]
    lines += DESKTOP_SECTION + [""]
    board = 0
    while len(lines) < 590:
        board += 1
        name = rng.choice(BOARD_NAMES)
        lines += ["[BOARD{:03d}]".format(board), "NAME=" + name,
                  "URL=http://example.{}.jp/{}/".format(rng.choice("abcdef"), board),
                  "LASTMODIFIED={}".format(1700000000 + rng.randint(0, 9999999)),
                  "VIEWED={}".format(rng.randint(0, 5000))]
        for thread in range(rng.randint(4, 9)):
            lines.append("THREAD{}={}.dat<>{}<>{}<>{}<>{}<>{:04X}".format(
                thread, rng.randint(1000000000, 1799999999), title(rng), rng.randint(1, 1000),
                rng.randint(1, 1000), 1700000000 + rng.randint(0, 9999999),
                rng.randint(0, 0xFFFF)))
        lines.append("")
    return lines


def ascii_variant(text):
    """The text with every non-ASCII character replaced by as many letters as it has bytes in
    code page 932."""
    out = []
    for ch in text:
        if ord(ch) < 0x80:
            out.append(ch)
        else:
            out.append("jp"[: len(ch.encode("cp932"))])
    return "".join(out)


def write(folder, name, data):
    with open(os.path.join(folder, name), "wb") as file:
        file.write(data)


def main():
    folder = sys.argv[1]
    lines = realistic_lines()
    text = "\r\n".join(lines) + "\r\n"
    write(folder, "realistic.ini", text.encode("cp932"))
    write(folder, "realistic-ascii.ini", ascii_variant(text).encode("ascii"))

    head = b"[DESKTOP]\r\nLISTWIDTH=120\r\n\r\n[CACHE]\r\nDATA="
    for size in LONG_LINE_SIZES_MIB:
        fill = size * MIB - len(head) - 2
        write(folder, "long-{}MiB.ini".format(size), head + b"A" * fill + b"\r\n")

    first = [b"[DESKTOP]", b"LISTWIDTH=120", b""]
    body = []
    for index in range(LINE_COUNT - len(first)):
        key = "K{:03d}=".format(index).encode()
        body.append(key + b"B" * (LONG_LINE_BYTES - len(key) - 2))
    write(folder, "lines-1000x64KiB.ini", b"\r\n".join(first + body) + b"\r\n")


if __name__ == "__main__":
    main()
