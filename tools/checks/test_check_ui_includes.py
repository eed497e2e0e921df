#!/usr/bin/env python3
"""The include check finds an include of a higher or sibling folder and a circle, and
passes a tree whose folders stand one above the other."""

import contextlib
import io
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_ui_includes as checker  # noqa: E402

CLEAN = {
    "process/include/ui_link.h": "",
    "include/servicelink.h": '#include "ui_link.h"\n',
    "core/util.h": '#include "servicelink.h"\n',
    "core/util.cpp": '#include "util.h"\n#include "ui_util.h"\n#include <QString>\n',
    "core/uicontext.cpp": '#include "util.h"\n',
    "login/view.h": '#include "util.h"\n',
    "main/window.cpp": '#include "view.h"\n#include "util.h"\n',
    "app/main.cpp": '#include "window.h"\n',
}


def run(tree):
    with tempfile.TemporaryDirectory() as root:
        for rel, text in tree.items():
            path = os.path.join(root, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as handle:
                handle.write(text)
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            status = checker.main(["check", root])
        return status, out.getvalue().splitlines()


class IncludeCheck(unittest.TestCase):
    def test_a_tree_standing_one_way_passes(self):
        self.assertEqual(run(CLEAN), (0, []))

    def test_an_include_of_a_higher_folder_fails(self):
        tree = dict(CLEAN)
        tree["main/window.h"] = ""
        tree["core/uicontext.cpp"] = '#include "window.h"\n'
        status, lines = run(tree)
        self.assertEqual(status, 1)
        self.assertEqual(lines, ["core/uicontext.cpp: includes main/window.h "
                                 "(core may not include main)"])

    def test_an_include_of_a_sibling_folder_fails(self):
        tree = dict(CLEAN)
        tree["profile/editor.cpp"] = '#include "view.h"\n'
        status, lines = run(tree)
        self.assertEqual(status, 1)
        self.assertIn("profile may not include login", lines[0])

    def test_the_service_link_may_not_include_the_qt_side(self):
        tree = dict(CLEAN)
        tree["process/ui_x.cpp"] = '#include "util.h"\n'
        status, lines = run(tree)
        self.assertEqual(status, 1)
        self.assertIn("process may not include core", lines[0])

    def test_a_circle_within_one_folder_fails_with_its_members(self):
        tree = dict(CLEAN)
        tree["core/lang.h"] = ""
        tree["core/lang.cpp"] = '#include "lang.h"\n#include "util.h"\n'
        tree["core/util.cpp"] = '#include "util.h"\n#include "lang.h"\n'
        status, lines = run(tree)
        self.assertEqual(status, 1)
        self.assertEqual(lines, ["include circle among: core/lang, core/util"])


if __name__ == "__main__":
    unittest.main()
