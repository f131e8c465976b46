"""The installer temporary folder below ProgramData: a link made there in advance (by
another user) is refused by the uninstaller launcher and by the runtime prerequisite,
and nothing is written where it points; the application's own data beside it is left
as it was. Links are Unix symlinks to NON-EMPTY folders
(Wine removes the target of a link to an empty one)."""
import hashlib
import os
import shutil
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from runtime_support import PROBE, RuntimeServerTestCase, standin  # noqa: E402
from winetest import OUT, main  # noqa: E402

PRODUCT = r"C:\ProgramData\Velmora"
TEMP = PRODUCT + r"\installer-temp"
APP = r"C:\Apps\Velmora"
NO_TEMP_FOLDER = 3
NO_TEMP = "The installer could not create its temporary directory."


class InstallerTempFolder(RuntimeServerTestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        app = cls.prefix.unix(APP)
        app.mkdir(parents=True)
        for name in ("Uninstall.exe", "Velmora.Maintenance.exe"):
            shutil.copy(OUT / name, app / name)
        data = standin("ok").read_bytes()
        (cls.served / "ok.exe").write_bytes(data)
        cls.descriptor = f"{cls.server.url('ok.exe')}\t{len(data)}\t{hashlib.sha256(data).hexdigest()}\r\n".encode()

    def setUp(self):
        super().setUp()
        product = self.prefix.unix(PRODUCT)
        if product.is_symlink():
            product.unlink()
        shutil.rmtree(product, ignore_errors=True)
        self.target = self.prefix.unix(r"C:\elsewhere")
        shutil.rmtree(self.target, ignore_errors=True)
        self.target.mkdir()
        (self.target / "keep.txt").write_text("the link's target")

    def link(self, windows_path):
        path = self.prefix.unix(windows_path)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.symlink_to(self.target, target_is_directory=True)

    def assert_target_untouched(self, link):
        self.assertEqual(sorted(p.name for p in self.target.iterdir()), ["keep.txt"])
        self.assertTrue(self.prefix.unix(link).is_symlink())

    def run_flow(self):
        program = self.scratch / "setup-probe.exe"
        shutil.copy(PROBE, program)
        source = self.scratch / "descriptor.txt"
        source.write_bytes(self.descriptor)
        embedded = self.probe("set-descriptor", self.prefix.windows_of(program), self.prefix.windows_of(source))
        self.assertEqual(embedded.code, 0, embedded.output)
        self.clear_runtime()
        return self.probe("ensure", program=program)

    def test_links_are_refused_by_the_launcher(self):
        for link in (PRODUCT, TEMP):
            with self.subTest(link):
                self.setUp()
                self.link(link)
                self.assertEqual(self.prefix.run(APP + r"\Uninstall.exe", "/quiet"), NO_TEMP_FOLDER)
                self.assert_target_untouched(link)

    def test_links_are_refused_by_the_runtime_prerequisite(self):
        for link in (PRODUCT, TEMP):
            with self.subTest(link):
                self.setUp()
                self.link(link)
                self.server.requests.clear()
                result = self.run_flow()
                self.assertFalse(result.ok)
                self.assertEqual(result.message, NO_TEMP)
                self.assertEqual(self.server.requests, [])
                self.assert_target_untouched(link)

    def test_the_parent_and_the_applications_data_in_it_are_left_as_they_are(self):
        product = self.prefix.unix(PRODUCT)
        (product / "logs").mkdir(parents=True)
        (product / "settings.json").write_text("{}")
        (product / "logs" / "today.log").write_text("log")
        for path in (product, product / "logs", product / "settings.json", product / "logs" / "today.log"):
            path.chmod(0o777)

        def state():
            paths = [product] + [p for p in product.rglob("*") if "installer-temp" not in p.parts]
            return {str(p): (p.stat().st_mode, sorted(os.listxattr(p)), p.is_file() and p.read_bytes())
                    for p in paths}

        before = state()
        self.assertEqual(self.prefix.run(APP + r"\Uninstall.exe", "/quiet"), 0)
        self.assertTrue(self.run_flow().ok)
        self.assertEqual(state(), before)

    def test_a_plain_folder_is_created_and_used(self):
        self.assertEqual(self.prefix.run(APP + r"\Uninstall.exe", "/quiet"), 0)
        copies = [n for n in self.prefix.listing(TEMP) if n.startswith("Maintenance-")]
        self.assertEqual(len(copies), 1, copies)
        result = self.run_flow()
        self.assertTrue(result.ok, result.output)


if __name__ == "__main__":
    main()
