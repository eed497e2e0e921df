#!/usr/bin/env python3
"""Checks the help documents laid out at build time.

For each guide: a PDF with at least one page and the product's title, the font the
guide is set in embedded, and a glyph for every letter, digit and Chinese character of
its text (read back from the fonts' character maps). A Chinese guide set in a font
without Chinese glyphs would print empty boxes; this catches it.

    check_help_pdfs.py PDF_DIR SOURCE_DIR
"""

import os
import re
import sys
import zlib

GUIDES = {
    # guide: (font embedded in the PDF, characters of the text that must have glyphs)
    "en": ("DejaVuSans", r"[A-Za-z0-9]"),
    "zh": ("WenQuanYiMicroHei", r"[A-Za-z0-9\u4e00-\u9fff]"),
}


def streams(data):
    """The raw bytes of the file and every stream that inflates."""
    yield data
    for match in re.finditer(rb"stream\r?\n", data):
        start = match.end()
        end = data.find(b"endstream", start)
        if end < 0:
            continue
        try:
            yield zlib.decompress(data[start:end])
        except zlib.error:
            pass


def hex_text(token):
    raw = bytes.fromhex(token.decode("ascii"))
    if len(raw) % 2:
        raw = b"\x00" + raw
    return raw.decode("utf-16-be", errors="replace")


def mapped_characters(data):
    """Every character that a ToUnicode map of the PDF assigns to a glyph."""
    chars = set()
    for blob in streams(data):
        for block in re.findall(rb"beginbfchar(.*?)endbfchar", blob, re.S):
            for _, dest in re.findall(rb"<([0-9A-Fa-f]+)>\s*<([0-9A-Fa-f]+)>", block):
                chars.update(hex_text(dest))
        for block in re.findall(rb"beginbfrange(.*?)endbfrange", blob, re.S):
            for line in block.strip().splitlines():
                tokens = re.findall(rb"<([0-9A-Fa-f]+)>", line)
                if len(tokens) < 3:
                    continue
                if b"[" in line:
                    for token in tokens[2:]:
                        chars.update(hex_text(token))
                else:
                    first, last = int(tokens[0], 16), int(tokens[1], 16)
                    base = hex_text(tokens[2])
                    if len(base) == 1:
                        chars.update(chr(ord(base) + i) for i in range(last - first + 1))
    return chars


def text_of(markdown):
    """The words of a Markdown source: pictures and links keep no text of their own
    here (a picture's description is not printed)."""
    text = re.sub(r"!\[[^\]]*\]\([^)]*\)", "", markdown)
    return re.sub(r"\]\([^)]*\)", "]", text)


def check(pdf_dir, source_dir):
    failures = []
    for guide, (font, pattern) in sorted(GUIDES.items()):
        name = "vantrelo_%s.pdf" % guide
        path = os.path.join(pdf_dir, name)
        try:
            with open(path, "rb") as handle:
                data = handle.read()
        except OSError as error:
            failures.append("%s: %s" % (name, error.strerror))
            continue
        if not data.startswith(b"%PDF-") or b"%%EOF" not in data[-64:]:
            failures.append("%s: not a complete PDF" % name)
            continue
        pages = len(re.findall(rb"/Type\s*/Page\b(?!s)", data))
        if pages < 1:
            failures.append("%s: no page" % name)
        if b"/Title" not in data:
            failures.append("%s: no title" % name)
        fonts = set(re.findall(rb"/BaseFont\s*/(?:[A-Z]{6}\+)?([^\s/<>\[\]]+)", data))
        if font.encode("ascii") not in fonts:
            failures.append("%s: font %s not embedded (fonts: %s)"
                            % (name, font, b", ".join(sorted(fonts)).decode("ascii", "replace")))
        with open(os.path.join(source_dir, "vantrelo_%s.md" % guide), encoding="utf-8") as handle:
            wanted = set(re.findall(pattern, text_of(handle.read())))
        missing = sorted(wanted - mapped_characters(data))
        if missing:
            failures.append("%s: no glyph for %d characters of its text: %s"
                            % (name, len(missing), "".join(missing[:40])))
        print("%s: %d pages, %d distinct characters of the text checked"
              % (name, pages, len(wanted)))
    return failures


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    failures = check(sys.argv[1], sys.argv[2])
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
