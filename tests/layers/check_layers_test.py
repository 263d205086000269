#!/usr/bin/env python3
"""scripts/check-layers.sh on a small project of three layers (low <- mid <-
top) made and configured for real with cmake/Layers.cmake: what it must
report, and that it reports nothing once the project keeps its layers."""

import os
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
CHECK = os.path.join(SOURCE, "scripts", "check-layers.sh")

LAYERS = """\
low:
mid: private:low
top: mid
"""

PAGE = """\
# Layers

<!-- folder graph: written by scripts/check-layers.sh --write from the build -->
<!-- end of the folder graph -->

| folder | owns | uses |
|---|---|---|
| `low/` | the bottom | |
| `mid/` | the middle | `low/` |
| `top/` | the top | `mid/` |
"""


def write(root, files):
    for path, text in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as f:
            f.write(text)


def project(mid_header, mid_link, top_source, top_links):
    return {
        "CMakeLists.txt": "cmake_minimum_required(VERSION 3.25)\nproject(mini CXX)\n"
                          f"include({SOURCE}/cmake/Layers.cmake)\n"
                          "add_subdirectory(low)\nadd_subdirectory(mid)\nadd_subdirectory(top)\n",
        "cmake/layers.txt": LAYERS,
        "low/low.h": "#pragma once\nint Low();\n",
        "low/low.cpp": '#include "low/low.h"\nint Low() { return 1; }\n',
        "low/CMakeLists.txt": "add_library(low STATIC low.cpp)\nzb_layer(low)\n",
        "mid/mid.h": mid_header,
        "mid/mid.cpp": '#include "mid/mid.h"\n#include "low/low.h"\nint Mid() { return Low(); }\n',
        "mid/CMakeLists.txt": f"add_library(mid STATIC mid.cpp)\nzb_layer(mid)\n"
                              f"target_link_libraries(mid {mid_link} low)\n",
        "top/top.cpp": top_source,
        "top/CMakeLists.txt": "add_library(top STATIC top.cpp)\nzb_layer(top)\n"
                              f"target_link_libraries(top {top_links})\n",
    }


class CheckLayers(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.src = os.path.join(self.tmp.name, "src")
        self.build = os.path.join(self.tmp.name, "build")

    def tearDown(self):
        self.tmp.cleanup()

    def configure(self, files, page=PAGE):
        write(self.src, dict(files, **{"docs/architecture.md": page}))
        subprocess.run(["cmake", "-S", self.src, "-B", self.build], check=True,
                       stdout=subprocess.DEVNULL)

    def check(self, *args):
        run = subprocess.run([CHECK, self.build, *args], capture_output=True, text=True)
        return run.returncode, run.stdout.splitlines()

    def test_each_broken_rule_is_reported_where_it_is_broken(self):
        self.configure(project(
            # A public header shows what mid links privately.
            mid_header='#pragma once\n#include "low/low.h"\nint Mid();\n',
            mid_link="PRIVATE",
            # top includes low, which only mid links.
            top_source='#include "mid/mid.h"\n#include "low/low.h"\nint Top() { return Mid(); }\n',
            top_links="PUBLIC mid"))
        rc, lines = self.check()
        self.assertEqual(rc, 1)
        self.assertIn("top/top.cpp:2: includes low/low.h, but top (top/) does not link low/", lines)
        self.assertIn("mid/mid.h:2: a public header of mid includes low/low.h, but mid does not "
                      "link low/ PUBLIC", lines)
        self.assertIn("docs/architecture.md: the folder graph differs from the build "
                      "(scripts/check-layers.sh --write)", lines)
        self.assertEqual(len(lines), 3, lines)

    def test_links_beyond_the_layers_and_a_wrong_uses_column(self):
        self.configure(project(
            mid_header="#pragma once\nint Mid();\n",
            mid_link="PUBLIC",  # the layers keep low private to mid
            top_source='#include "mid/mid.h"\n#include "low/low.h"\nint Top() { return Mid(); }\n',
            top_links="PUBLIC mid low"))  # the layers do not let top link low
        rc, _ = self.check("--write")
        rc, lines = self.check()
        self.assertEqual(rc, 1)
        self.assertIn("mid/CMakeLists.txt: mid/ links low/ PUBLIC; cmake/layers.txt keeps it "
                      "private", lines)
        self.assertIn("top/CMakeLists.txt: top/ links low/, which cmake/layers.txt does not "
                      "allow (used at top/top.cpp:2)", lines)
        self.assertIn("docs/architecture.md: the uses of top/ name mid; it links low, mid", lines)
        self.assertEqual(len(lines), 3, lines)

    def test_a_project_that_keeps_its_layers_passes_once_its_graph_is_written(self):
        self.configure(project(
            mid_header="#pragma once\nint Mid();\n",
            mid_link="PRIVATE",
            top_source='#include "mid/mid.h"\nint Top() { return Mid(); }\n',
            top_links="PUBLIC mid"))
        rc, lines = self.check()
        self.assertEqual((rc, lines), (1, ["docs/architecture.md: the folder graph differs from "
                                           "the build (scripts/check-layers.sh --write)"]))
        self.check("--write")
        self.assertEqual(self.check(), (0, []))
        with open(os.path.join(self.src, "docs", "architecture.md"), encoding="utf-8") as f:
            page = f.read()
        self.assertIn("- `low/` → none of ours\n- `mid/` → privately `low/`\n"
                      "- `top/` → `mid/`\n", page)
        # The compiler holds what the check reads: top's include path shows
        # mid's folder, not low's (mid links it privately).
        roots = os.listdir(os.path.join(self.build, "layers"))
        self.assertEqual(sorted(roots), ["links.tsv", "low", "mid", "top"])
        self.assertEqual(os.readlink(os.path.join(self.build, "layers", "mid", "mid")),
                         os.path.join(self.src, "mid"))


if __name__ == "__main__":
    sys.exit(unittest.main())
