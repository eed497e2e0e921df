#!/usr/bin/env python3
"""The language checker finds each fault it is there for, and passes a clean pair."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_language_files as checker  # noqa: E402

LIST = "2052=Chinese-\\x7b80\\x4f53\\x4e2d\\x6587\n1033=English-English\n"
ZH = "[GLOBAL]\nOK=确定\nOVERTIMEERROR=服务没有响应，请稍后重试。\n"
EN = "[GLOBAL]\nOK=OK\nOVERTIMEERROR=\"The service did not answer, try again.\"\n"


class LanguageCheck(unittest.TestCase):
    def run_checker(self, zh=ZH, en=EN, listing=LIST, sources=None, extra_dirs=()):
        with tempfile.TemporaryDirectory() as root:
            lang = os.path.join(root, "language")
            for name, text in (("2052", zh), ("1033", en)):
                if text is None:
                    continue
                os.makedirs(os.path.join(lang, name))
                data = text if isinstance(text, bytes) else text.encode("utf-8")
                with open(os.path.join(lang, name, "l_UILabel.ini"), "wb") as handle:
                    handle.write(data)
            for name in extra_dirs:
                os.makedirs(os.path.join(lang, name))
            with open(os.path.join(lang, "language.ini"), "wb") as handle:
                handle.write(listing if isinstance(listing, bytes) else listing.encode("utf-8"))
            args = [lang]
            if sources is not None:
                src = os.path.join(root, "src")
                os.makedirs(src)
                with open(os.path.join(src, "window.cpp"), "w") as handle:
                    handle.write(sources)
                args += ["--sources", src]
            problems = []
            tables = checker.check_labels(lang, problems)
            checker.check_language_list(lang, problems)
            if sources is not None:
                checker.check_sources([os.path.join(root, "src")], tables, problems)
            return problems

    def assertFinds(self, problems, *words):
        joined = "\n".join(problems)
        for word in words:
            self.assertIn(word, joined)

    def test_clean_pair_passes(self):
        self.assertEqual(self.run_checker(), [])

    def test_value_faults(self):
        good = '\nOVERTIMEERROR="a, b"\n'
        cases = [
            ("unquoted comma reads as a list", "OK=OK\nOVERTIMEERROR=No answer, retry.\n",
             ["reads as a list", "double quotes"]),
            ("unquoted semicolon cuts the text", "OK=OK\nOVERTIMEERROR=No answer; retry.\n",
             ["';'", "double quotes"]),
            ("leading blanks are dropped", "OK=  OK" + good, ["leading blanks"]),
            ("empty value", "OK=" + good, ["empty text"]),
            ("quoted empty value", 'OK=""' + good, ["empty text"]),
            ("unescaped quote inside quotes", 'OK="say "hi""' + good, ["unescaped"]),
            ("key given twice", "OK=OK\nOK=Yes" + good, ["given twice"]),
        ]
        for name, english, words in cases:
            with self.subTest(name):
                self.assertFinds(self.run_checker(en="[GLOBAL]\n" + english), *words)

    def test_files_must_match_and_be_clean_utf8(self):
        self.assertFinds(self.run_checker(en="[GLOBAL]\nOK=OK\n"),
                         "1033/l_UILabel.ini lacks GLOBAL/OVERTIMEERROR")
        self.assertFinds(self.run_checker(zh=ZH + "[UI_MAIN]\nUI_MAIN_EXIT=退出\n"),
                         "lacks UI_MAIN/UI_MAIN_EXIT")
        self.assertFinds(self.run_checker(zh=b"\xef\xbb\xbf" + ZH.encode("utf-8")),
                         "byte-order mark")
        self.assertFinds(self.run_checker(zh=ZH.encode("gbk")), "not UTF-8")

    def test_placeholder_text(self):
        keys = (("UI_LOGINKEY", "UI_LOGINKEY_MATURITY"),
                ("UI_CHANGEPWD", "UI_CHANGEPWD_LABEL_MINLEN"),
                ("UI_CHANGEPWD", "UI_CHANGEPWD_LABEL_MAXLEN"),
                ("UI_CHANGEPWD", "UI_CHANGEPWD_LABEL_COMPLEXITY"))
        for section_name, key in keys:
            for text, fine in (("Takes 0 days.", True), ("Takes 10 days.", False),
                               ("Takes 0 or 0 days.", False), ("Takes days.", False)):
                with self.subTest(key=key, text=text):
                    section = "[%s]\n%s=%s\n" % (section_name, key, text)
                    problems = self.run_checker(zh=ZH + section, en=EN + section)
                    self.assertEqual(problems == [], fine, problems)

    def test_language_list(self):
        raw_utf8 = "2052=Chinese-简体中文\n1033=English-English\n"
        self.assertFinds(self.run_checker(listing=raw_utf8), "beyond ASCII")
        self.assertFinds(self.run_checker(listing="2052=Chinese-\\x7b80\n1033=English-\n"),
                         "1033: no name to show")
        self.assertFinds(self.run_checker(listing=LIST + "1036=French-Fran\\xe7ais\n"),
                         "1036 has no 1036/l_UILabel.ini")
        self.assertFinds(self.run_checker(extra_dirs=["1041"]), "folder 1041 is not listed")
        self.assertFinds(self.run_checker(listing="[Languages]\n2052=Chinese-x\n1033=English-x\n"),
                         "top-level keys")

    def test_keys_named_in_code(self):
        code = ('show(GetValue("/GLOBAL/OK"));\n'
                'show(GetValue("UI_MAIN/UI_MAIN_EXIT"));\n'
                'const char* kTable = "/RETURN_CFM_MSGCODE/CFM_MSGCODE_";\n'
                '#define UI_LOGOUT(s) "/RETURN_LOGOUT_MSGCODE/LOGOUT_MSGCODE_" s\n'
                'const char* const t[] = {UI_LOGOUT("SUCESS"),\n'
                '                         UI_LOGOUT( "FAIL" )};\n'
                'read("GLOBAL/ClientVersion");\n')
        problems = self.run_checker(sources=code)
        self.assertFinds(problems, "UI_MAIN/UI_MAIN_EXIT is not in 2052", "is not in 1033",
                         "window.cpp:5: RETURN_LOGOUT_MSGCODE/LOGOUT_MSGCODE_SUCESS is not",
                         "window.cpp:6: RETURN_LOGOUT_MSGCODE/LOGOUT_MSGCODE_FAIL is not")
        joined = "\n".join(problems)
        self.assertNotIn("GLOBAL/OK", joined)
        self.assertNotIn("CFM_MSGCODE_ is", joined)
        self.assertNotIn("ClientVersion", joined)
        self.assertNotIn("window.cpp:4", joined)


class QtDecoding(unittest.TestCase):
    """The decoder follows QSettings (checked against Qt 5.15 on these values)."""

    def test_table(self):
        cases = [
            ("plain text", ("plain text", False)),
            ("Hello, world", ("Hello,world", True)),
            ('"Hello, world"', ("Hello, world", False)),
            ("a;b", ("a", False)),
            ('"a;b"', ("a;b", False)),
            ("  lead", ("lead", False)),
            ('"  lead"', ("  lead", False)),
            ("trail   ", ("trail", False)),
            ('"x \\"q\\" y"', ('x "q" y', False)),
            ("a\\nb", ("a\nb", False)),
            ("\\x4e2d\\x6587", ("中文", False)),
            ('"a" , "b"', ("a,b", True)),
            ("中文，标点", ("中文，标点", False)),
        ]
        for raw, expected in cases:
            with self.subTest(raw=raw):
                self.assertEqual(checker.decode_value(raw), expected)


if __name__ == "__main__":
    unittest.main()
