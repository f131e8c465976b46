"""The setup window under Xvfb: pages by their pixels, clicks, keys, the language
switch, the folder picker, DPI scaling and exit codes of the real setup program."""
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from winetest import BUILD, OUT, TESTAPPS, UNINSTALL_KEY, main, pack  # noqa: E402
from ui_support import (PICKER_TITLES, PRIMARY_GREEN, WARNING_BANNER, WHITE, DisplayTestCase,  # noqa: E402
                        SetupWindow, near, restart_wineserver)

SETUP = OUT / "VelmoraSetup.exe"
PROBE = TESTAPPS / "window_probe.exe"
OCCUPIED = r"C:\Occupied\Velmora"  # holds a file: the install refuses it
HEADING = (50, 426, 520, 470)
READY_FOLDER_TEXT = (67, 512, 575, 545)
CHANGE_LABEL = (594, 512, 651, 545)
FAILED_MESSAGE = (50, 474, 540, 538)
NODES = ((171, 140), (360, 268), (567, 112), (729, 244))


def is_ready_fresh(shot):
    return near(shot.pixel(840, 575), WARNING_BANNER)


def is_failed(shot):
    # The "Close" button of the Failed page, where Ready has only the white panel.
    return near(shot.pixel(600, 552), (245, 249, 247), 8) and not near(shot.pixel(840, 575), WARNING_BANNER)


def node_hue(shot):
    """(red - green) summed over the beam's four fixed nodes: coral > 0, green < 0."""
    return sum(shot.pixel(x, y)[0] - shot.pixel(x, y)[1] for x, y in NODES)


class ReadyPage(DisplayTestCase):
    def open(self, *args):
        window = SetupWindow(self.prefix, SETUP, *args)
        self.addCleanup(window.kill)
        return window

    def test_fresh_install_page_and_every_way_of_closing_it_ends_with_1(self):
        window = self.open()
        shot = window.shot()
        self.assertEqual(window.geometry()[2:], (900, 640))
        self.assertEqual(window.title(), "Velmora")
        self.assertTrue(near(shot.pixel(880, 630), WHITE))
        self.assertTrue(near(shot.pixel(700, 510), PRIMARY_GREEN), shot.pixel(700, 510))
        self.assertTrue(is_ready_fresh(shot))
        for region in (HEADING, READY_FOLDER_TEXT, CHANGE_LABEL, (720, 515, 820, 540), (80, 565, 500, 586),
                       (50, 603, 300, 629), (58, 20, 200, 45)):
            with self.subTest(text=region):
                self.assertTrue(shot.has_glyphs(*region))
        self.assertLess(node_hue(shot), 0)
        window.key("Escape")
        self.assertEqual(window.exit_code(), 1)
        window = self.open()
        window.click(866, 32)
        self.assertEqual(window.exit_code(), 1)
        window = self.open()
        window.key("alt+F4")
        self.assertEqual(window.exit_code(), 1)
        window = self.open()
        self.assertEqual(self.prefix.run(PROBE, "close"), 0)
        self.assertEqual(window.exit_code(), 1)

    def test_hovered_primary_button_is_lighter_and_minimize_keeps_the_program(self):
        window = self.open()
        window.move(760, 540)
        window.wait_for(lambda shot: near(shot.pixel(700, 510), (29, 194, 117)), 10, "the hovered button")
        self.assertEqual(self.prefix.run(PROBE, "state"), 1)
        window.click(822, 32)
        self.assertEqual(self.prefix.run(PROBE, "state"), 2)
        self.assertEqual(self.prefix.run(PROBE, "restore"), 0)
        self.assertEqual(self.prefix.run(PROBE, "state"), 1)
        window.key("Escape")
        self.assertEqual(window.exit_code(), 1)


class FailurePage(DisplayTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        folder = cls.prefix.unix(OCCUPIED)
        folder.mkdir(parents=True)
        (folder / "someone else's.txt").write_text("kept")

    def open_failed(self, start):
        window = SetupWindow(self.prefix, SETUP, "/install-dir", OCCUPIED)
        self.addCleanup(window.kill)
        start(window)
        return window, window.wait_for(is_failed, 60, "the Failed page")

    def test_a_refused_folder_shows_the_failure_in_coral_and_close_ends_with_2(self):
        window, shot = self.open_failed(lambda w: w.click(770, 528))
        self.assertTrue(shot.has_glyphs(*FAILED_MESSAGE))
        self.assertTrue(shot.has_glyphs(50, 426, 570, 468))
        self.assertTrue(near(shot.pixel(700, 510), PRIMARY_GREEN), shot.pixel(700, 510))
        self.assertGreater(node_hue(shot), 0)
        self.assertTrue(self.prefix.exists(OCCUPIED + r"\someone else's.txt"))
        # The message asks for another folder: "Try again" goes back to where one is chosen.
        window.click(770, 528)
        window.wait_for(is_ready_fresh, 30, "the Ready page")
        window.click(620, 528)
        dialog = self.prefix.wait_window(PICKER_TITLES, 30)
        self.prefix.xdotool("mousemove", "--window", dialog, 30, 30)
        self.prefix.xdotool("windowfocus", "--sync", dialog)
        self.prefix.xdotool("key", "--window", dialog, "Escape")
        time.sleep(1)
        window.park_pointer()
        window.key("Return")
        window.wait_for(is_failed, 60, "the Failed page again")
        window.click(632, 528)
        self.assertEqual(window.exit_code(), 2)

    def test_enter_starts_the_install_and_escape_or_the_close_button_end_with_2(self):
        for close in (lambda w: w.key("Escape"), lambda w: w.click(866, 32),
                      lambda w: self.prefix.run(PROBE, "close")):
            window, _ = self.open_failed(lambda w: w.key("Return"))
            close(window)
            self.assertEqual(window.exit_code(), 2)

    def test_a_failure_text_keeps_its_language_after_a_switch(self):
        window, english = self.open_failed(lambda w: w.click(770, 528))
        window.click(720, 32)
        self.assertEqual(window.title("岫澜"), "岫澜")
        chinese = window.wait_for(lambda s: s.region(50, 426, 570, 468) != english.region(50, 426, 570, 468), 10,
                                  "the Chinese heading")
        self.assertEqual(chinese.region(*FAILED_MESSAGE), english.region(*FAILED_MESSAGE))
        self.assertNotEqual(chinese.region(586, 499, 678, 557), english.region(586, 499, 678, 557))
        window.key("Escape")
        self.assertEqual(window.exit_code(), 2)


class LanguageSwitch(DisplayTestCase):
    def test_switch_changes_title_and_texts_and_the_selected_language_changes_nothing(self):
        window = SetupWindow(self.prefix, SETUP)
        self.addCleanup(window.kill)
        english = window.shot()
        window.click(766, 32)  # "EN" while English is selected
        self.assertEqual(window.title(), "Velmora")
        window.click(720, 32)
        self.assertEqual(window.title("岫澜"), "岫澜")
        chinese = window.wait_for(lambda s: s.region(*HEADING) != english.region(*HEADING), 10, "Chinese texts")
        self.assertTrue(chinese.has_glyphs(*HEADING))
        self.assertNotEqual(chinese.region(720, 515, 820, 540), english.region(720, 515, 820, 540))
        window.click(722, 30)
        self.assertEqual(window.title(), "岫澜")
        window.click(790, 47)
        self.assertEqual(window.title("Velmora"), "Velmora")
        window.wait_for(lambda s: s.region(*HEADING) == english.region(*HEADING), 10, "the English heading")
        window.key("Escape")
        self.assertEqual(window.exit_code(), 1)


class ChineseLocale(DisplayTestCase):
    locale = "zh_CN.UTF-8"

    def test_the_window_opens_in_chinese_with_drawn_glyphs(self):
        window = SetupWindow(self.prefix, SETUP)
        self.addCleanup(window.kill)
        self.assertEqual(window.title("岫澜"), "岫澜")
        shot = window.shot()
        for region in (HEADING, CHANGE_LABEL, (720, 515, 820, 540), (80, 565, 500, 586), (58, 20, 200, 45)):
            with self.subTest(text=region):
                self.assertTrue(shot.has_glyphs(*region))
        self.assertTrue(is_ready_fresh(shot))
        window.key("Escape")
        self.assertEqual(window.exit_code(), 1)


class UpdateAndRepairForms(DisplayTestCase):
    def open_with_installed(self, version, *args):
        self.prefix.reg_add(UNINSTALL_KEY, "InstallLocation", data=r"C:\Program Files\Velmora")
        self.prefix.reg_add(UNINSTALL_KEY, "DisplayVersion", data=version)
        self.addCleanup(self.prefix.reg_delete, UNINSTALL_KEY)
        window = SetupWindow(self.prefix, SETUP, *args)
        self.addCleanup(window.kill)
        return window, window.shot()

    def assert_no_banner_and_requirements_moved(self, shot):
        self.assertTrue(near(shot.pixel(840, 575), WHITE))
        self.assertTrue(shot.has_glyphs(50, 582, 300, 610))
        self.assertEqual(len(shot.colours_in(50, 612, 400, 629)), 1)

    def test_update_and_repair_have_no_folder_control(self):
        # The folder is the registered one: another would be refused once the install ran.
        for version, args in (("1.0.0", ()), ("1.0.1", ()), ("1.0.0", ("/repair",))):
            with self.subTest(version=version, args=args):
                window, shot = self.open_with_installed(version, *args)
                self.assertTrue(shot.has_glyphs(*HEADING))
                self.assertEqual(len(shot.colours_in(*CHANGE_LABEL)), 1)
                self.assert_no_banner_and_requirements_moved(shot)
                window.click(620, 528)
                with self.assertRaises(AssertionError):
                    self.prefix.wait_window(PICKER_TITLES, 3)
                window.key("Escape")
                self.assertEqual(window.exit_code(), 1)


class FolderPicker(DisplayTestCase):
    def folder_text(self, folder):
        window = SetupWindow(self.prefix, SETUP, "/install-dir", folder)
        text = window.shot().region(*READY_FOLDER_TEXT)
        window.key("Escape")
        self.assertEqual(window.exit_code(), 1)
        return text

    def pick(self, window, typed):
        window.click(620, 528)
        dialog = self.prefix.wait_window(PICKER_TITLES, 30)
        self.prefix.xdotool("mousemove", "--window", dialog, 30, 30)
        self.prefix.xdotool("windowfocus", "--sync", dialog)
        if typed is None:
            self.prefix.xdotool("key", "--window", dialog, "Escape")
        else:
            self.prefix.xdotool("type", "--delay", "30", typed)
            self.prefix.xdotool("key", "Return")
        time.sleep(1)
        window.park_pointer()

    def test_a_chosen_folder_gets_the_product_folder_and_cancel_keeps_the_old_one(self):
        self.prefix.unix(r"C:\Apps").mkdir(exist_ok=True)
        expected_apps = self.folder_text(r"C:\Apps\Velmora")
        expected_root = self.folder_text(r"C:\Velmora")
        window = SetupWindow(self.prefix, SETUP)
        self.addCleanup(window.kill)
        before = window.shot().region(*READY_FOLDER_TEXT)
        self.pick(window, None)
        self.assertEqual(window.shot().region(*READY_FOLDER_TEXT), before)
        self.pick(window, "C:\\Apps")
        window.wait_for(lambda s: s.region(*READY_FOLDER_TEXT) == expected_apps, 10, "C:\\Apps\\Velmora")
        self.pick(window, "C:\\")
        window.wait_for(lambda s: s.region(*READY_FOLDER_TEXT) == expected_root, 10, "C:\\Velmora")
        window.key("Escape")
        self.assertEqual(window.exit_code(), 1)


class HighDpi(DisplayTestCase):
    def test_at_144_dpi_the_window_is_scaled_and_hit_rectangles_follow(self):
        self.prefix.reg_add(r"HKCU\Control Panel\Desktop", "LogPixels", "REG_DWORD", 144)
        restart_wineserver(self.prefix)
        window = SetupWindow(self.prefix, SETUP, "/install-dir", r"C:\Occupied\Velmora", scale=1.5)
        self.addCleanup(window.kill)
        self.assertEqual(window.geometry()[2:], (1350, 960))
        self.assertTrue(near(window.shot().pixel(700, 510), PRIMARY_GREEN))
        window.click(1035, 748, pixels=True)
        time.sleep(1)
        self.assertTrue(is_ready_fresh(window.shot()))
        window.click(1035, 750, pixels=True)
        window.wait_for(lambda s: not is_ready_fresh(s), 30, "the install starting")
        self.assertTrue(window.running())


class WithoutLogo(DisplayTestCase):
    def test_a_package_without_the_logo_never_shows_the_window_and_ends_with_4(self):
        package = self.scratch / "NoLogo.exe"
        code, errors = pack(package, "--payload", BUILD / "sample" / "payload", "--no-descriptor", "--no-logo")
        self.assertEqual(code, 0, errors)
        self.assertEqual(self.prefix.run(package, timeout=60), 4)
        self.assertEqual(self.prefix.run(PROBE, "state"), 0)


if __name__ == "__main__":
    main()
