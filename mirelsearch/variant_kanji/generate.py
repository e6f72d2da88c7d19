#!/usr/bin/env python3
"""Builds the variant-kanji table of the search normalisation.

Sources, in this folder unless said:
  joyo_old_forms.txt  the old forms of the Jōyō kanji (常用漢字表, 2010)
  reviewed.txt        a short reviewed list of common variants (cp932
                      extension characters such as 髙 and 﨑, surname forms)
  Unihan_OtherMappings.txt of the Unicode Character Database (Debian package
                      unicode-data: /usr/share/unicode/, bzip2ed): the fields
                      kJoyoKanji (the Jōyō table's allowed forms, 剝/剥 ...)
                      and kJinmeiyoKanji (the name-kanji list, 戸籍法施行規則
                      別表第二: 常用漢字の異体字 and the pairs of name kanji
                      that are one character, 亘/亙 ...)

Every pair joins two forms of one character. Pairs are merged into classes;
each class folds onto one form: one that code page 932 can write, and among
those a Jōyō kanji, else the form of JIS X 0208 level 1, then level 2, then
the lowest code point (which form is chosen matters only inside the index).
A class that would join two Jōyō kanji is an error. The Jōyō table's one
many-to-one reform merge, 弁 for 辨, 瓣 and 辯 (three characters before
1946), is left out: the table is one-to-one. Forms that NFKC already maps
(compatibility ideographs with a decomposition) are left out.

Writes ../variant_kanji_table.inc (sorted pairs for a binary search) and
table.tsv (the same for review, with the sources of each pair).

  python3 generate.py [path/to/Unihan_OtherMappings.txt(.bz2)]
"""
import bz2
import os
import sys
import unicodedata

HERE = os.path.dirname(os.path.abspath(__file__))


def read_pairs(name, columns):
    out = []
    with open(os.path.join(HERE, name), encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            parts = line.split("\t")
            out.append(tuple(parts[:columns]))
    return out


def read_unihan(path):
    opener = bz2.open if path.endswith(".bz2") else open
    joyo, joyo_allowed, jinmei = set(), [], []
    with opener(path, "rt", encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            cp, field, value = line.rstrip("\n").split("\t")
            c = chr(int(cp[2:], 16))
            if field == "kJoyoKanji":
                if value.startswith("U+"):
                    joyo_allowed.append((chr(int(value[2:], 16)), c))
                else:
                    joyo.add(c)
            elif field == "kJinmeiyoKanji":
                for item in value.split(" "):
                    if ":" in item:
                        jinmei.append((chr(int(item.split(":")[1][2:], 16)), c))
    return joyo, joyo_allowed, jinmei


def jis_level(c):
    try:
        b = c.encode("cp932")
    except UnicodeEncodeError:
        return 4
    if len(b) != 2:
        return 4
    lead = b[0]
    if lead < 0x98 or (lead == 0x98 and b[1] < 0x9F):
        return 1
    if lead <= 0xEA:
        return 2
    return 3  # the extension rows of code page 932


def main():
    unihan = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/unicode/Unihan_OtherMappings.txt.bz2"
    joyo, joyo_allowed, jinmei = read_unihan(unihan)
    sources = {}

    def add(a, b, source):
        if a == b:
            return
        key = tuple(sorted((a, b)))
        sources.setdefault(key, set()).add(source)

    old_forms = read_pairs("joyo_old_forms.txt", 2)
    per_new = {}
    for new, old in old_forms:
        per_new.setdefault(new, []).append(old)
    for new, olds in per_new.items():
        if len(olds) > 1:
            print(f"left out (reform merge): {new} <- {' '.join(olds)}", file=sys.stderr)
            continue
        add(new, olds[0], "joyo")
    for a, b in joyo_allowed:
        add(a, b, "joyo-allowed")
    for a, b in jinmei:
        add(a, b, "jinmeiyo")
    for a, b, _why in read_pairs("reviewed.txt", 3):
        add(a, b, "reviewed")

    # Compatibility ideographs with a decomposition are NFKC's business.
    def nfkc(c):
        return unicodedata.normalize("NFKC", c)

    parent = {}

    def find(c):
        parent.setdefault(c, c)
        while parent[c] != c:
            parent[c] = parent[parent[c]]
            c = parent[c]
        return c

    for (a, b), _ in sources.items():
        a, b = nfkc(a), nfkc(b)
        if a != b:
            parent[find(a)] = find(b)
    classes = {}
    for c in list(parent):
        classes.setdefault(find(c), set()).add(c)

    table = {}
    for members in classes.values():
        standards = [c for c in members if c in joyo]
        if len(standards) > 1:
            sys.exit(f"error: one class joins the Jōyō kanji {' '.join(sorted(standards))}")
        target = min(members, key=lambda c: (jis_level(c) == 4, c not in joyo, jis_level(c), ord(c)))
        for c in members:
            if c != target:
                table[c] = target

    with open(os.path.join(HERE, "table.tsv"), "w", encoding="utf-8") as f:
        f.write("# variant\tfolds to\tcode points\tsources of its pairs (generated by generate.py)\n")
        for c in sorted(table, key=ord):
            t = table[c]
            srcs = sorted({s for (a, b), ss in sources.items() if c in (nfkc(a), nfkc(b)) for s in ss})
            f.write(f"{c}\t{t}\tU+{ord(c):04X} U+{ord(t):04X}\t{','.join(srcs)}\n")
    with open(os.path.join(HERE, "..", "variant_kanji_table.inc"), "w", encoding="utf-8") as f:
        f.write("// Generated by mirelsearch/variant_kanji/generate.py from the Jōyō kanji\n"
                "// table's old and allowed forms, the name-kanji list's variants and a\n"
                "// reviewed list (see that folder). Do not edit: change the sources and\n"
                "// run the generator. Pairs {variant, folded form}, sorted by variant.\n")
        for c in sorted(table, key=ord):
            f.write(f"{{0x{ord(c):05X}, 0x{ord(table[c]):05X}}},  // {c} {table[c]}\n")
    print(f"{len(table)} variants", file=sys.stderr)


if __name__ == "__main__":
    main()
