#!/usr/bin/env python3
"""Includes between the program's folders run one way only: a folder may include its
own headers and those of the folders below it, never one above; product code never
includes test support. Every Python import resolves. Reads the sources, runs nothing."""
import ast
import re
import sys
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

    def test_python_imports_resolve(self):
        # The demo and the benchmarks run by hand: a harness module renamed under them would
        # fail no other test. Each import statement runs alone.
        sys.path[:0] = [str(ROOT / "testing"), str(ROOT / "scripts" / "bench")]
        programs = [p for p in ROOT.glob("scripts/*") if p.is_file() and b"python" in p.read_bytes()[:30]]
        tests = [*ROOT.glob("*/*_test.py"), *ROOT.glob("setup/*/*_test.py")]
        wrong = []
        for source in [*programs, *ROOT.glob("testing/*.py"), *tests]:
            for node in ast.walk(ast.parse(source.read_bytes())):
                try:
                    if isinstance(node, (ast.Import, ast.ImportFrom)):
                        exec(compile(ast.Module([node], []), source.name, "exec"), {})
                except ImportError as error:
                    wrong.append(f"{source.name}: {error}")
        self.assertEqual(wrong, [], "\n".join(wrong))


if __name__ == "__main__":
    unittest.main()
