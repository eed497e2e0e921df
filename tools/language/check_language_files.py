#!/usr/bin/env python3
"""Checks VanTrelo's language files the way the program will read them.

The label files are read through QSettings in INI format with the UTF-8 codec. QSettings
turns an unquoted value with a comma into a list (the window then shows an empty text),
cuts a value at an unquoted semicolon and drops leading and trailing blanks, so this
checker decodes every value with the same rules and reports:

  - a file that is not clean UTF-8, or starts with a byte-order mark;
  - a section or key given twice, or named with characters QSettings would escape;
  - a key that one language has and the other lacks;
  - a value that reads as empty or as a list;
  - a value holding a comma, a semicolon, a quote, a backslash or blanks at either end
    that is not written in double quotes;
  - a text that the program fills in and that does not hold its one placeholder;
  - in language.ini (read without a codec, so only ASCII and \\x escapes read right): a
    language without its folder and label file, a folder without its entry, or an entry
    whose shown name (the text after the last "-") is empty;
  - with --sources: every language key that the program's code names in a string
    literal (whole, or as a table prefix macro and its suffix) and that is missing from
    a label file.

    check_language_files.py LANGUAGE_DIR [--sources DIR ...]
"""

import argparse
import os
import re
import sys

LABEL_FILE = "l_UILabel.ini"
LANGUAGES = ("2052", "1033")
NAME = re.compile(r"^[A-Za-z0-9_]+$")

# Texts in which the program replaces a placeholder: every "0" of the login view's
# password expiry notice becomes the number of days, and every "0" of the password
# change dialog's length and complexity rules the gateway's number, so each text must
# hold exactly one, standing alone (a "0" inside "10" would be replaced as well).
PLACEHOLDERS = {"UI_LOGINKEY/UI_LOGINKEY_MATURITY": "0",
                "UI_CHANGEPWD/UI_CHANGEPWD_LABEL_MINLEN": "0",
                "UI_CHANGEPWD/UI_CHANGEPWD_LABEL_MAXLEN": "0",
                "UI_CHANGEPWD/UI_CHANGEPWD_LABEL_COMPLEXITY": "0"}

# A language key in code: "/SECTION/KEY" or "SECTION/KEY". The common texts are named
# with the leading slash; "GLOBAL/..." without it names entries of other INI files
# (the install folder's system settings, a client package's version file).
KEY_LITERAL = re.compile(
    r'"(/GLOBAL|/?UI_[A-Z0-9_]+|/?RETURN_[A-Z_]+)/([A-Za-z0-9_]+)"')
SOURCE_SUFFIXES = (".c", ".cc", ".cpp", ".h", ".hpp", ".ui")
# A macro that writes a name table's entries from their suffixes:
#   #define UI_ERR(s) "/RETURN_ERROR_MSGCODE/MSGCODE_ERROR_RETURN_" s
PREFIX_MACRO = re.compile(r'#\s*define\s+(\w+)\(\s*(?:\w+)\s*\)\s*"([^"]*)"\s*\w+\s*$', re.M)

ESCAPES = {"a": "\a", "b": "\b", "f": "\f", "n": "\n", "r": "\r", "t": "\t", "v": "\v",
           '"': '"', "?": "?", "'": "'", "\\": "\\"}
HEX = "0123456789abcdefABCDEF"


def cut_comment(raw):
    """The part of a value QSettings reads: up to the first semicolon outside quotes."""
    in_quotes = False
    i = 0
    while i < len(raw):
        ch = raw[i]
        if ch == "\\":
            i += 2
            continue
        if ch == '"':
            in_quotes = not in_quotes
        elif ch == ";" and not in_quotes:
            return raw[:i]
        i += 1
    return raw


def decode_value(raw):
    """Decodes a value as QSettings does; returns (text, is_list). A list comes back as
    its items joined with a comma."""
    raw = cut_comment(raw)
    items, current = [], ""
    is_list = in_quotes = quoted = False
    chop_limit = 0
    i, n = 0, len(raw)

    def skip_blanks(i):
        while i < n and raw[i] in " \t":
            i += 1
        return i

    def chop(text, limit):
        end = len(text)
        while end > limit and text[end - 1] in " \t":
            end -= 1
        return text[:end]

    i = skip_blanks(i)
    chop_limit = len(current)
    while i < n:
        ch = raw[i]
        if ch == "\\":
            i += 1
            if i >= n:
                break
            ch = raw[i]
            i += 1
            if ch in ESCAPES:
                current += ESCAPES[ch]
            elif ch == "x" and i < n and raw[i] in HEX:
                value = 0
                while i < n and raw[i] in HEX:
                    value = value * 16 + int(raw[i], 16)
                    i += 1
                current += chr(min(value, 0x10FFFF))
            elif "0" <= ch <= "7":
                value = int(ch)
                while i < n and "0" <= raw[i] <= "7":
                    value = value * 8 + int(raw[i])
                    i += 1
                current += chr(value)
            chop_limit = len(current)
        elif ch == '"':
            i += 1
            quoted = True
            in_quotes = not in_quotes
            if not in_quotes:
                i = skip_blanks(i)
        elif ch == "," and not in_quotes:
            if not quoted:
                current = chop(current, chop_limit)
            is_list = True
            items.append(current)
            current, quoted = "", False
            i = skip_blanks(i + 1)
            chop_limit = 0
        else:
            j = i + 1
            while j < n and raw[j] not in '\\",':
                j += 1
            current += raw[i:j]
            i = j
    if not quoted:
        current = chop(current, chop_limit)
    if is_list:
        items.append(current)
        return ",".join(items), True
    return current, False


def parse_ini(path, problems):
    """Sections, keys and raw values of an INI file, in file order."""
    entries = []
    try:
        with open(path, "rb") as handle:
            data = handle.read()
    except OSError as error:
        problems.append("%s: %s" % (path, error.strerror))
        return entries
    if data.startswith(b"\xef\xbb\xbf"):
        problems.append("%s: starts with a byte-order mark" % path)
        data = data[3:]
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        problems.append("%s: not UTF-8 at byte %d" % (path, error.start))
        return entries
    section = "General"
    seen = set()
    for number, line in enumerate(text.splitlines(), 1):
        stripped = line.lstrip(" \t")
        where = "%s:%d" % (path, number)
        if not stripped or stripped.startswith(";"):
            continue
        if stripped.startswith("["):
            stripped = stripped.rstrip(" \t")
            if not stripped.endswith("]") or not NAME.match(stripped[1:-1]):
                problems.append("%s: bad section line %r" % (where, stripped))
                continue
            section = stripped[1:-1]
            if ("[%s]" % section) in seen:
                problems.append("%s: section [%s] given twice" % (where, section))
            seen.add("[%s]" % section)
            continue
        if "=" not in stripped:
            problems.append("%s: line without '=': %r" % (where, stripped))
            continue
        key, raw = stripped.split("=", 1)
        key = key.strip()
        if not NAME.match(key):
            problems.append("%s: bad key name %r" % (where, key))
            continue
        full = "%s/%s" % (section, key)
        if full in seen:
            problems.append("%s: %s given twice" % (where, full))
        seen.add(full)
        entries.append((full, raw, where))
    return entries


def check_quoting(raw, where, key, problems):
    value = raw.strip(" \t")
    quoted = len(value) >= 2 and value.startswith('"') and value.endswith('"')
    if quoted:
        inner = value[1:-1]
        # Every quote inside must be escaped, or the value would end early.
        stripped = re.sub(r"\\.", "", inner)
        if '"' in stripped:
            problems.append('%s: %s: unescaped " inside a quoted value' % (where, key))
        return
    needs = [repr(c) for c in ',;"\\' if c in raw]
    if raw[:1] in (" ", "\t"):
        needs.append("leading blanks")
    if raw[-1:] in (" ", "\t"):
        needs.append("trailing blanks")
    if needs:
        problems.append("%s: %s holds %s and must be written in double quotes"
                        % (where, key, ", ".join(needs)))


def check_labels(language_dir, problems):
    tables = {}
    for lang in LANGUAGES:
        path = os.path.join(language_dir, lang, LABEL_FILE)
        table = {}
        for key, raw, where in parse_ini(path, problems):
            check_quoting(raw, where, key, problems)
            text, is_list = decode_value(raw)
            if is_list:
                problems.append("%s: %s reads as a list (%r): quote it" % (where, key, text))
            elif not text.strip():
                problems.append("%s: %s reads as an empty text" % (where, key))
            marker = PLACEHOLDERS.get(key)
            if marker is not None:
                alone = re.findall(r"(?<![0-9])%s(?![0-9])" % re.escape(marker), text)
                if text.count(marker) != 1 or len(alone) != 1:
                    problems.append("%s: %s must hold %r exactly once, standing alone"
                                    % (where, key, marker))
            table[key] = text
        tables[lang] = table
    first, second = LANGUAGES
    for a, b in ((first, second), (second, first)):
        for key in sorted(set(tables[a]) - set(tables[b])):
            problems.append("%s/%s lacks %s (present in %s)" % (b, LABEL_FILE, key, a))
    return tables


def check_language_list(language_dir, problems):
    path = os.path.join(language_dir, "language.ini")
    entries = parse_ini(path, problems)
    listed = set()
    for key, raw, where in entries:
        name = key.split("/", 1)[1] if key.startswith("General/") else None
        if name is None:
            problems.append("%s: %s: languages are top-level keys, not in a section"
                            % (where, key))
            continue
        if any(ord(c) > 127 for c in raw):
            problems.append("%s: %s: the list is read without a text codec; write characters "
                            "beyond ASCII as \\x escapes" % (where, name))
        text, is_list = decode_value(raw)
        label = text.rsplit("-", 1)[-1]
        if is_list or not label.strip():
            problems.append("%s: %s: no name to show after the last '-'" % (where, name))
        if not os.path.isfile(os.path.join(language_dir, name, LABEL_FILE)):
            problems.append("%s: %s has no %s/%s" % (where, name, name, LABEL_FILE))
        listed.add(name)
    for entry in sorted(os.listdir(language_dir)):
        if os.path.isdir(os.path.join(language_dir, entry)) and entry not in listed:
            problems.append("%s: folder %s is not listed" % (path, entry))


def keys_in_line(line, prefixes):
    """The language keys a line of code names: whole literals, and the suffixes given
    to a macro that puts a table's prefix in front of them."""
    literals = ['"%s"' % text for text in re.findall(r'"([^"\\]*)"', line)]
    for macro, prefix in prefixes.items():
        for suffix in re.findall(r"\b%s\(\s*\"([A-Za-z0-9_]*)\"\s*\)" % macro, line):
            literals.append('"%s%s"' % (prefix, suffix))
    keys = []
    for literal in literals:
        for section, key in KEY_LITERAL.findall(literal):
            if not key.endswith("_"):  # a table's prefix alone, completed elsewhere
                keys.append("%s/%s" % (section.lstrip("/"), key))
    return keys


def check_sources(source_dirs, tables, problems):
    used = 0
    for top in source_dirs:
        for folder, _, names in os.walk(top):
            for name in sorted(names):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(folder, name)
                with open(path, encoding="utf-8", errors="replace") as handle:
                    lines = handle.readlines()
                prefixes = dict(PREFIX_MACRO.findall("".join(lines)))
                for number, line in enumerate(lines, 1):
                    if PREFIX_MACRO.search(line):
                        continue
                    for full in keys_in_line(line, prefixes):
                        used += 1
                        for lang in LANGUAGES:
                            if full not in tables.get(lang, {}):
                                problems.append("%s:%d: %s is not in %s/%s"
                                                % (path, number, full, lang, LABEL_FILE))
    return used


def main(argv=None):
    parser = argparse.ArgumentParser(description="Checks VanTrelo's language files.")
    parser.add_argument("language_dir")
    parser.add_argument("--sources", nargs="*", default=[],
                        help="folders whose code names language keys")
    options = parser.parse_args(argv)
    problems = []
    tables = check_labels(options.language_dir, problems)
    check_language_list(options.language_dir, problems)
    used = check_sources([d for d in options.sources if os.path.isdir(d)], tables, problems)
    for problem in problems:
        print("FAIL: " + problem)
    counts = ", ".join("%s: %d keys" % (lang, len(tables.get(lang, {}))) for lang in LANGUAGES)
    print("%s; %d key uses in code; %d problems" % (counts, used, len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
