#!/usr/bin/env python3
"""Writes the seed inputs of the dbase_tables fuzz target.

Each seed is one input of that target: a flag byte (memo file name and code
page, see fuzz/dbase_tables_fuzz.cpp), the table's length as two
little-endian bytes, the table, then the memo file. The tables are laid out
by hand, one per layout the reader knows, plus two damaged ones.

Usage: fuzz/make_dbase_seeds.py [output directory]
(default: fuzz/corpus/dbase_tables beside this script)
"""
import os
import struct
import sys

DBT, FPT, DBT_UPPER, FPT_UPPER, DBT_MIXED, FPT_MIXED, NO_MEMO = 0, 1, 2, 3, 4, 5, 6


def sjis(text):
    return text.encode("cp932")


def table(version, fields, records, driver=0x13, header_count=None, level7=False,
          deleted=(), backlink=False, eof=True):
    """fields: (name, type, length, decimals, flags); records: bytes without the flag."""
    first, step = (68, 48) if level7 else (32, 32)
    header_length = first + step * len(fields) + 1 + (263 if backlink else 0)
    record_length = 1 + sum(f[2] for f in fields)
    count = len(records) if header_count is None else header_count
    head = bytearray(header_length)
    head[0] = version
    head[1:4] = bytes([124, 4, 1])
    head[4:8] = struct.pack("<I", count)
    head[8:10] = struct.pack("<H", header_length)
    head[10:12] = struct.pack("<H", record_length)
    head[29] = driver
    offset = 1
    for i, (name, ftype, length, decimals, flags) in enumerate(fields):
        d = first + step * i
        head[d:d + len(name)] = name.encode("ascii")
        if level7:
            head[d + 32] = ord(ftype)
            head[d + 33] = length
            head[d + 34] = decimals
        else:
            head[d + 11] = ord(ftype)
            head[d + 12:d + 16] = struct.pack("<I", offset)
            head[d + 16] = length
            head[d + 17] = decimals
            head[d + 18] = flags
        offset += length
    head[first + step * len(fields)] = 0x0D
    body = bytearray()
    for r, rec in enumerate(records):
        body += b"*" if r in deleted else b" "
        body += rec.ljust(record_length - 1, b" ")[:record_length - 1]
    if eof:
        body += b"\x1a"
    return bytes(head + body)


def field(text, length):
    return text.ljust(length, b" ")[:length]


def dbt3(memos):
    """dBASE III memo file: 512-byte blocks, each memo ends with 1A 1A."""
    out = bytearray(512)
    blocks = []
    for memo in memos:
        blocks.append(len(out) // 512)
        data = memo + b"\x1a\x1a"
        out += data.ljust((len(data) + 511) // 512 * 512, b"\0")
    out[0:4] = struct.pack("<I", len(out) // 512)
    return bytes(out), blocks


def dbt4(memos, block_size=64):
    out = bytearray(block_size if block_size >= 32 else 32)
    out[20:22] = struct.pack("<H", block_size)
    blocks = []
    for memo in memos:
        blocks.append(len(out) // block_size)
        data = b"\xff\xff\x08\x00" + struct.pack("<I", len(memo) + 8) + memo
        out += data.ljust((len(data) + block_size - 1) // block_size * block_size, b"\0")
    out[0:4] = struct.pack("<I", len(out) // block_size)
    return bytes(out), blocks


def fpt(memos, block_size=64):
    out = bytearray(512)
    out[6:8] = struct.pack(">H", block_size)
    blocks = []
    for memo in memos:
        blocks.append(len(out) // block_size)
        data = struct.pack(">II", 1, len(memo)) + memo
        out += data.ljust((len(data) + block_size - 1) // block_size * block_size, b"\0")
    out[0:4] = struct.pack(">I", len(out) // block_size)
    return bytes(out), blocks


def seed(flags, dbf, memo=b""):
    assert len(dbf) < 65536
    return bytes([flags]) + struct.pack("<H", len(dbf)) + dbf + memo


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "corpus", "dbase_tables")
    os.makedirs(out_dir, exist_ok=True)
    seeds = {}

    # dBASE III with a memo file: the layout of the library's own tables.
    memo, blocks = dbt3([sjis("図書館の本。" * 3), b"short memo"])
    fields = [("BOOKID", "C", 8, 0, 0), ("SYOMEI", "C", 30, 0, 0), ("KAKAKU", "N", 7, 0, 0),
              ("RITU", "N", 5, 2, 0), ("UKEIRE", "D", 8, 0, 0), ("KASI", "L", 1, 0, 0),
              ("BIKOU", "M", 10, 0, 0)]
    recs = [field(b"00000001", 8) + field(sjis("日本の歴史"), 30) + b"   1500" + b" 3.25" +
            b"20240115" + b"T" + b"%10d" % blocks[0],
            field(b"00000002", 8) + field(sjis("ｶﾀｶﾅ") + b"x" * 25 + b"\x82", 30) + b"  -1200" + b"     " +
            b"        " + b"?" + b"%10d" % blocks[1],
            field(b"00000003", 8) + field(b"", 30) + b"abc    " + b"1e309" + b"00000000" +
            b"n" + b"          "]
    seeds["dbase3_memo"] = seed(DBT, table(0x83, fields, recs, deleted={2}), memo)

    # dBASE IV with its block headers, memo file spelled in upper case.
    memo, blocks = dbt4([sjis("第二版"), b"x" * 100])
    fields = [("NAME", "C", 12, 0, 0), ("NOTE", "M", 10, 0, 0), ("VALUE", "F", 10, 3, 0)]
    recs = [field(sjis("著者名"), 12) + b"%10d" % blocks[0] + b"  12.500  ",
            field(b"two", 12) + b"%10d" % blocks[1] + b"-0.001    "]
    seeds["dbase4_memo"] = seed(DBT_UPPER, table(0x8B, fields, recs, driver=0x7B), memo)

    # FoxPro 2 with an .fpt memo file found by a directory scan.
    memo, blocks = fpt([sjis("フォックス"), b""], block_size=32)
    fields = [("TITLE", "C", 10, 0, 0), ("MEMO", "M", 10, 0, 0), ("PIC", "G", 10, 0, 0)]
    recs = [field(b"fox", 10) + b"%10d" % blocks[0] + b"%10d" % blocks[1]]
    seeds["foxpro_fpt"] = seed(FPT_MIXED, table(0xF5, fields, recs, driver=0x03), memo)

    # Visual FoxPro: binary fields, nullable and variable-length fields.
    memo, blocks = fpt([b"vfp memo"])
    fields = [("ID", "I", 4, 0, 0), ("PRICE", "Y", 8, 4, 0), ("RATE", "B", 8, 2, 0),
              ("STAMP", "T", 8, 0, 0), ("NAME", "V", 10, 0, 0x02), ("NOTE", "M", 4, 0, 0),
              ("_NullFlags", "0", 1, 0, 0)]
    recs = [struct.pack("<i", -42) + struct.pack("<q", 123456) + struct.pack("<d", 2.5) +
            struct.pack("<ii", 2460000, 3600000) + b"abc".ljust(9, b"\0") + b"\x03" +
            struct.pack("<I", blocks[0]) + b"\x01",
            struct.pack("<i", 7) + b"\0" * 8 + b"\0" * 8 + b"\0" * 8 + b" " * 10 +
            b"\0\0\0\0" + b"\x02"]
    seeds["visual_foxpro"] = seed(FPT, table(0x30, fields, recs, driver=0x7B, backlink=True), memo)

    # dBASE 7: 48-byte descriptors, big-endian integers with the sign flipped.
    fields = [("AUTO", "+", 4, 0, 0), ("NUM", "I", 4, 0, 0), ("DBL", "O", 8, 0, 0),
              ("WHEN", "@", 8, 0, 0), ("TXT", "C", 6, 0, 0)]
    recs = [struct.pack(">I", 0x80000001) + struct.pack(">I", 0x7FFFFFFF) +
            struct.pack(">Q", 0xC000000000000000) + struct.pack("<ii", 2451545, 0) + b"level7"]
    seeds["dbase7"] = seed(NO_MEMO, table(0x04, fields, recs, level7=True))

    # Damage: a count far beyond the file, a record cut off, memo pointers
    # past the end of the memo file and into its header.
    memo, blocks = dbt3([b"only one"])
    fields = [("A", "C", 5, 0, 0), ("M", "M", 10, 0, 0)]
    recs = [b"first" + b"%10d" % blocks[0], b"secnd" + b"%10d" % 99999, b"third" + b"%10d" % 0]
    damaged = table(0x83, fields, recs, header_count=1000000, eof=False)[:-7]
    seeds["damaged"] = seed(DBT_MIXED, damaged, memo[:600])

    # A table whose field runs past the record length (refused at open).
    seeds["bad_header"] = seed(DBT, table(0x03, [("A", "C", 5, 0, 0)], [b"hello"])[:10] +
                               b"\x02\x00" + table(0x03, [("A", "C", 5, 0, 0)], [b"hello"])[12:])

    for name, data in seeds.items():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
