"""Installs driven through the setup window, in English and in the language switched to,
and the Working page of an install held while its runtime installs."""
import hashlib
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from install_support import (DESKTOP, PROGRAMS, Package, build_package, installed_problems, lnk_info,  # noqa: E402
                             placeholder_payload)
from runtime_support import RuntimeServerTestCase, standin  # noqa: E402
from ui_support import PRIMARY_GREEN, PROGRESS_TRACK, SetupWindow, near  # noqa: E402
from winetest import OUT, TESTAPPS, UNINSTALL_KEY, PrefixTestCase, main  # noqa: E402

SETUP = OUT / "VelmoraSetup.exe"
PROBE = TESTAPPS / "window_probe.exe"
DEFAULT = r"C:\Program Files\Velmora"
HOLD = r"C:\users\Public\standin-runtime.hold"  # kept, the stand-in runtime installer waits


def is_completed(shot):
    """The check mark of the success badge and the "Finish" button."""
    return near(shot.pixel(458, 197), (5, 122, 69), 16) and near(shot.pixel(550, 510), (245, 249, 247), 8)


def is_working(shot):
    return near(shot.pixel(56, 534), PRIMARY_GREEN) and near(shot.pixel(845, 534), PROGRESS_TRACK)


class SuccessfulInstall(PrefixTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.register_runtime()

    def open(self):
        window = SetupWindow(self.prefix, SETUP)
        self.addCleanup(window.kill)
        return window

    def test_1_install_now_then_finish_installs_the_package_and_ends_with_0(self):
        window = self.open()
        window.click(770, 528)
        shot = window.wait_for(is_completed, 120, "the Completed page")
        badge = shot.pixel(475, 190)
        self.assertTrue(badge[1] >= 240 and badge[0] >= 215, badge)
        self.assertTrue(near(shot.pixel(700, 510), PRIMARY_GREEN))
        window.click(590, 528)
        self.assertEqual(window.exit_code(), 0)
        self.assertEqual(installed_problems(self.prefix, DEFAULT, Package(SETUP)), [])
        self.assertEqual(self.prefix.reg_value(UNINSTALL_KEY, "DisplayName"), ("REG_SZ", "Velmora"))
        self.assertTrue(self.prefix.exists(PROGRAMS + r"\Velmora.lnk"))

    def test_2_a_repair_after_switching_to_chinese_registers_chinese_and_opens_velmora(self):
        window = self.open()
        window.click(720, 32)
        self.assertEqual(window.title("岫澜"), "岫澜")
        window.key("Return")
        window.wait_for(is_completed, 120, "the Completed page")
        window.click(750, 528)
        self.assertEqual(window.exit_code(), 0)
        self.addCleanup(self.prefix.run, "taskkill", "/F", "/IM", "Velmora.exe")
        self.prefix.wait_window("^Velmora 1.0.1$", 30)
        self.assertEqual(self.prefix.reg_value(UNINSTALL_KEY, "DisplayName"), ("REG_SZ", "岫澜"))
        for folder in (PROGRAMS, DESKTOP):
            self.assertEqual(lnk_info(self.prefix.unix(folder + r"\岫澜.lnk")).get("Local path"),
                             DEFAULT + r"\Velmora.exe")
            self.assertFalse(self.prefix.exists(folder + r"\Velmora.lnk"))


class SlowInstall(RuntimeServerTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        data = standin("ok").read_bytes()
        (cls.served / "runtime.exe").write_bytes(data)
        descriptor = cls.work / "descriptor.txt"
        descriptor.write_text(f"{cls.server.url('runtime.exe')}\t{len(data)}\t{hashlib.sha256(data).hexdigest()}\n")
        cls.package = build_package(cls.work / "SlowSetup.exe", placeholder_payload(), descriptor=descriptor)

    def test_closing_and_switching_language_are_refused_while_working_but_minimize_works(self):
        folder = r"C:\Slow\Velmora"
        self.clear_runtime()
        hold = self.prefix.unix(HOLD)
        hold.write_bytes(b"")
        self.addCleanup(hold.unlink, missing_ok=True)
        window = SetupWindow(self.prefix, self.package, "/install-dir", folder)
        self.addCleanup(window.kill)
        window.click(770, 528)
        shot = window.wait_for(is_working, 30, "the Working page")
        self.assertTrue(shot.has_glyphs(50, 482, 400, 512))  # status line
        self.assertTrue(shot.has_glyphs(790, 482, 850, 512))  # percentage
        window.key("Escape")
        window.move(866, 32)
        time.sleep(0.5)
        self.assertLess(window.shot().pixel(850, 18)[0], 100, "the close button lit while closing is refused")
        window.click(866, 32)
        window.key("alt+F4")
        self.assertEqual(self.prefix.run(PROBE, "close"), 0)
        window.click(720, 32)
        time.sleep(0.5)
        self.assertTrue(window.running())
        self.assertEqual(window.title(), "Velmora")
        self.assertTrue(is_working(window.shot()), "the install ended before the checks")
        window.click(822, 32)
        self.assertEqual(self.prefix.run(PROBE, "state"), 2)
        self.assertEqual(self.prefix.run(PROBE, "restore"), 0)
        self.assertEqual(self.prefix.run(PROBE, "state"), 1)
        hold.unlink()
        window.wait_for(is_completed, 300, "the Completed page")
        window.key("Return")  # nothing has the focus: the filled button, "Open Velmora"
        self.assertEqual(window.exit_code(), 0)
        self.addCleanup(self.prefix.run, "taskkill", "/F", "/IM", "Velmora.exe")
        self.prefix.wait_window("^Velmora 1.0.1$", 30)
        self.assertTrue(self.prefix.exists(folder + r"\Velmora.exe"))


if __name__ == "__main__":
    main()
