#!/usr/bin/env python3
"""Includes between the program's folders run one way only: a folder may include its
own headers and those of the folders below it, never one above; product code never
includes test support. Reads the sources, runs nothing."""
import re
import sys
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# Top to bottom; the launcher links nothing of the setup program but its core headers.
LAYERS = ["setup/app", "setup/uninstall", "setup/ui", "setup/engine", "setup/runtime", "setup/core"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_of(path):
    text = str(path)
    return next((layer for layer in LAYERS if text.startswith(layer + "/")), None)


class Layers(unittest.TestCase):
    def test_includes_point_down(self):
        wrong = []
        for source in sorted(ROOT.glob("setup/**/*")) + sorted(ROOT.glob("uninstaller/*")):
            if source.suffix not in (".cpp", ".h", ".rc"):
                continue
            relative = source.relative_to(ROOT)
            is_test = "_test" in source.name
            own = folder_of(relative)
            rank = LAYERS.index(own) if own else LAYERS.index("setup/core") - 0.5
            for included in INCLUDE.findall(source.read_text(encoding="utf-8")):
                if included.startswith("testing/") and not is_test:
                    wrong.append(f"{relative}: product code includes test support {included}")
                target = folder_of(included)
                if target and LAYERS.index(target) < rank:
                    wrong.append(f"{relative} ({own or relative.parts[0]}) includes {included} ({target})")
        self.assertEqual(wrong, [], "\n".join(wrong))


if __name__ == "__main__":
    sys.exit(unittest.main())
