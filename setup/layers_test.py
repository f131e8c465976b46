#!/usr/bin/env python3
"""Includes between the program's folders run one way only: a folder may include its
own headers and those of the folders below it, never one above; product code never
includes test support. Reads the sources, runs nothing."""
import re
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# Top to bottom; the launcher links nothing of the setup program but its core headers.
LAYERS = ["setup/app", "setup/uninstall", "setup/ui", "setup/engine", "setup/runtime", "setup/core"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def rank(path):
    return next((i for i, layer in enumerate(LAYERS) if str(path).startswith(layer + "/")), None)


class Layers(unittest.TestCase):
    def test_includes_point_down(self):
        wrong = []
        for source in sorted(ROOT.glob("setup/**/*")) + sorted(ROOT.glob("uninstaller/*")):
            if source.suffix not in (".cpp", ".h", ".rc"):
                continue
            relative = source.relative_to(ROOT)
            own = rank(relative)
            limit = len(LAYERS) - 1 if own is None else own  # outside the layers: setup/core only
            for included in INCLUDE.findall(source.read_text(encoding="utf-8")):
                if included.startswith("testing/") and "_test" not in source.name:
                    wrong.append(f"{relative}: product code includes test support {included}")
                target = rank(included)
                if target is not None and target < limit:
                    wrong.append(f"{relative} includes {included}")
        self.assertEqual(wrong, [], "\n".join(wrong))


if __name__ == "__main__":
    unittest.main()
