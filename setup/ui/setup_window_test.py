"""The setup window under Xvfb: pages by their pixels, clicks, keys, the language
switch, the folder picker, DPI scaling and exit codes of the real setup program."""
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from winetest import BUILD, OUT, TESTAPPS, UNINSTALL_KEY, PrefixTestCase, main, pack  # noqa: E402
from ui_support import PRIMARY_GREEN, WARNING_BANNER, WHITE, SetupWindow, cpu_seconds, near  # noqa: E402

SETUP = OUT / "VelmoraSetup.exe"
PROBE = TESTAPPS / "window_probe.exe"
OCCUPIED = r"C:\Occupied\Velmora"  # holds a file: the install refuses it
PICKER_EN, PICKER_ZH = "^Choose where to install Velmora$", "^选择岫澜安装位置$"
HEADING = (50, 426, 520, 470)
READY_FOLDER_TEXT = (67, 512, 575, 545)
CHANGE_LABEL = (594, 512, 651, 545)
FAILED_MESSAGE = (50, 474, 540, 538)
NODES = ((171, 140), (360, 268), (567, 112), (729, 244))
# Where the focus ring passes on each control of the fresh Ready page, in Tab order,
# with the ring's colour there.
FOCUS_RINGS = (((745, 14), (238, 249, 243)), ((630, 502), (0, 107, 59)), ((770, 496), (0, 107, 59)))
# The design's background gradient with the hero glow and the backdrop's wide glow over it.
GLOW_AT_650_170 = (45, 106, 76)


def is_ready_fresh(shot):
    return near(shot.pixel(840, 575), WARNING_BANNER)


def is_failed(shot):
    # The "Close" button of the Failed page, where Ready has only the white panel.
    return near(shot.pixel(600, 552), (245, 249, 247), 8) and not near(shot.pixel(840, 575), WARNING_BANNER)


def lit_rings(shot):
    return [i for i, (point, colour) in enumerate(FOCUS_RINGS) if near(shot.pixel(*point), colour, 24)]


def node_hue(shot):
    """(red - green) summed over the beam's four fixed nodes: coral > 0, green < 0."""
    return sum(shot.pixel(x, y)[0] - shot.pixel(x, y)[1] for x, y in NODES)


def answer_picker(window, typed=None, title=PICKER_EN):
    prefix = window.prefix
    window.click(620, 528)
    dialog = prefix.wait_window(title, 30)
    prefix.xdotool("mousemove", "--window", dialog, 30, 30)
    prefix.xdotool("windowfocus", "--sync", dialog)
    if typed is None:
        prefix.xdotool("key", "--window", dialog, "Escape")
    else:
        prefix.xdotool("type", "--delay", "30", typed)
        prefix.xdotool("key", "Return")
    time.sleep(1)
    window.park_pointer()


def cpu_over_ten_seconds(window):
    before = cpu_seconds(window.process.pid)
    time.sleep(10)
    return cpu_seconds(window.process.pid) - before


class EnglishWindow(PrefixTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        folder = cls.prefix.unix(OCCUPIED)
        folder.mkdir(parents=True)
        (folder / "someone else's.txt").write_text("kept")

    def open(self, *args):
        window = SetupWindow(self.prefix, SETUP, *args)
        self.addCleanup(window.kill)
        return window

    def test_fresh_install_page_with_a_long_folder_on_one_line(self):
        folder = "C:\\" + "\\".join(f"Shared Applications Folder {i}" for i in range(5))
        folder = folder[:150 - len("\\Velmora")] + "\\Velmora"
        window = self.open("/install-dir", folder)
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
        box = (244, 248, 246)
        inked = [y for y in range(505, 551) if any(not near(shot.pixel(x, y), box, 40) for x in range(67, 575, 2))]
        self.assertLessEqual(inked[-1] - inked[0], 20, inked)  # one line of 14-DIP text
        self.assertTrue(shot.has_glyphs(520, 512, 575, 545))  # the line runs to the end of the box
        self.assertLess(node_hue(shot), 0)
        window.wait_for(lambda s: near(s.pixel(650, 170), GLOW_AT_650_170, 10), 15, "the glow's colour")
        window.key("Escape")
        self.assertEqual(window.exit_code(), 1)

    def test_hover_minimize_and_cover_and_a_close_from_another_program_ends_with_1(self):
        window = self.open()
        window.move(760, 540)
        window.wait_for(lambda shot: near(shot.pixel(700, 510), (29, 194, 117)), 10, "the hovered button")
        window.leave()
        window.wait_for(lambda shot: near(shot.pixel(700, 510), PRIMARY_GREEN), 10, "the button without hover")
        self.assertEqual(self.prefix.run(PROBE, "state"), 1)
        window.click(822, 32)
        self.assertEqual(self.prefix.run(PROBE, "state"), 2)
        self.assertLess(cpu_over_ten_seconds(window), 1.0, "drawing while minimised")
        self.assertEqual(self.prefix.run(PROBE, "restore"), 0)
        self.assertEqual(self.prefix.run(PROBE, "state"), 1)
        cover = self.prefix.start(PROBE, "cover")
        self.addCleanup(cover.wait)
        self.addCleanup(cover.kill)
        self.prefix.wait_window("^cover$", 60)
        time.sleep(1)
        self.assertLess(cpu_over_ten_seconds(window), 1.0, "drawing while covered")
        self.assertEqual(self.prefix.run(PROBE, "close"), 0)
        self.assertEqual(window.exit_code(), 1)

    def test_tab_and_shift_tab_move_the_focus_ring_and_enter_presses_the_focused_control(self):
        window = self.open()
        self.assertEqual(lit_rings(window.shot()), [])
        for key, ring in (("Tab", 0), ("Tab", 1), ("Tab", 2), ("Tab", 0), ("shift+Tab", 2), ("shift+Tab", 1)):
            window.key(key)
            window.wait_for(lambda shot: lit_rings(shot) == [ring], 10, f"the focus ring {ring}")
        window.key("Return")  # "Change" has the focus: the folder picker, not the install
        dialog = self.prefix.wait_window(PICKER_EN, 30)
        self.prefix.xdotool("key", "--window", dialog, "Escape")
        window.key("Escape")
        self.assertEqual(window.exit_code(), 1)

    def test_enter_starts_a_refused_install_whose_failure_keeps_its_language_and_escape_ends_with_2(self):
        window = self.open("/install-dir", OCCUPIED)
        window.key("Return")
        english = window.wait_for(is_failed, 60, "the Failed page")
        self.assertTrue(english.has_glyphs(*FAILED_MESSAGE))
        self.assertTrue(english.has_glyphs(50, 426, 570, 468))
        self.assertTrue(near(english.pixel(700, 510), PRIMARY_GREEN), english.pixel(700, 510))
        self.assertGreater(node_hue(english), 0)
        self.assertTrue(self.prefix.exists(OCCUPIED + r"\someone else's.txt"))
        window.click(720, 32)
        self.assertEqual(window.title("岫澜"), "岫澜")
        chinese = window.wait_for(lambda s: s.region(50, 426, 570, 468) != english.region(50, 426, 570, 468), 10,
                                  "the Chinese heading")
        self.assertTrue(chinese.has_glyphs(*FAILED_MESSAGE))
        self.assertNotEqual(chinese.region(586, 499, 678, 557), english.region(586, 499, 678, 557))
        # The text itself never changed: back in English it is drawn as before.
        window.click(766, 32)
        window.wait_for(lambda s: s.region(*FAILED_MESSAGE) == english.region(*FAILED_MESSAGE), 10,
                        "the same failure text")
        # The message asks for another folder: "Try again" goes back to where one is chosen.
        window.click(770, 528)
        window.wait_for(is_ready_fresh, 30, "the Ready page")
        answer_picker(window)
        window.key("Return")
        window.wait_for(is_failed, 60, "the Failed page again")
        window.key("Escape")
        self.assertEqual(window.exit_code(), 2)

    def test_switch_changes_title_and_texts_and_the_selected_language_changes_nothing(self):
        window = self.open()
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

    def test_update_and_repair_have_no_folder_control(self):
        # The folder is the registered one: another would be refused once the install ran.
        for version in ("1.0.0", "1.0.1"):  # update, repair
            with self.subTest(version):
                self.prefix.reg_add(UNINSTALL_KEY, "InstallLocation", data=r"C:\Program Files\Velmora")
                self.prefix.reg_add(UNINSTALL_KEY, "DisplayVersion", data=version)
                self.addCleanup(self.prefix.reg_delete, UNINSTALL_KEY)
                window = self.open()
                shot = window.shot()
                self.assertTrue(shot.has_glyphs(*HEADING))
                self.assertEqual(len(shot.colours_in(*CHANGE_LABEL)), 1)
                # No banner, and the requirements line moved down into its place.
                self.assertTrue(near(shot.pixel(840, 575), WHITE))
                self.assertTrue(shot.has_glyphs(50, 582, 300, 610))
                self.assertEqual(len(shot.colours_in(50, 612, 400, 629)), 1)
                window.click(620, 528)
                with self.assertRaises(AssertionError):
                    self.prefix.wait_window(PICKER_EN, 3)
                window.key("Escape")
                self.assertEqual(window.exit_code(), 1)

    def test_a_chosen_folder_gets_the_product_folder_and_cancel_keeps_the_old_one(self):
        self.prefix.unix(r"C:\Apps").mkdir(exist_ok=True)
        expected = {}
        for folder in (r"C:\Apps\Velmora", r"C:\Velmora"):
            window = self.open("/install-dir", folder)
            expected[folder] = window.shot().region(*READY_FOLDER_TEXT)
            window.key("Escape")
            self.assertEqual(window.exit_code(), 1)
        window = self.open()
        before = window.shot().region(*READY_FOLDER_TEXT)
        answer_picker(window)
        self.assertEqual(window.shot().region(*READY_FOLDER_TEXT), before)
        for typed, folder in (("C:\\Apps", r"C:\Apps\Velmora"), ("C:\\", r"C:\Velmora")):
            answer_picker(window, typed)
            window.wait_for(lambda s: s.region(*READY_FOLDER_TEXT) == expected[folder], 10, folder)
        window.key("Escape")
        self.assertEqual(window.exit_code(), 1)

    def test_a_package_without_the_logo_never_shows_the_window_and_ends_with_4(self):
        package = self.scratch / "NoLogo.exe"
        code, errors = pack(package, "--payload", BUILD / "sample" / "payload", "--no-descriptor", "--no-logo")
        self.assertEqual(code, 0, errors)
        self.assertEqual(self.prefix.run(package, timeout=60), 4)
        self.assertEqual(self.prefix.run(PROBE, "state"), 0)


class ChineseLocale(PrefixTestCase):
    locale = "zh_CN.UTF-8"

    def test_the_window_and_its_folder_picker_open_in_chinese(self):
        window = SetupWindow(self.prefix, SETUP)
        self.addCleanup(window.kill)
        self.assertEqual(window.title("岫澜"), "岫澜")
        shot = window.shot()
        for region in (HEADING, CHANGE_LABEL, (720, 515, 820, 540), (80, 565, 500, 586), (58, 20, 200, 45)):
            with self.subTest(text=region):
                self.assertTrue(shot.has_glyphs(*region))
        self.assertTrue(is_ready_fresh(shot))
        answer_picker(window, title=PICKER_ZH)
        window.key("Escape")
        self.assertEqual(window.exit_code(), 1)


class HighDpi(PrefixTestCase):
    """At 144 DPI the canvas is scaled 1.5 where the screen is large enough; on a
    1366 x 768 screen it is scaled to the work area's height and centred."""
    geometry = (125, 120, 1350, 960)

    def test_at_144_dpi_the_window_fits_the_screen_and_hit_rectangles_follow(self):
        self.prefix.reg_add(r"HKCU\Control Panel\Desktop", "LogPixels", "REG_DWORD", 144)
        self.prefix.restart_server()
        scale = self.geometry[3] / 640
        window = SetupWindow(self.prefix, SETUP, "/install-dir", r"C:\Occupied\Velmora", scale=scale)
        self.addCleanup(window.kill)
        self.assertEqual(window.geometry(), self.geometry)
        self.assertTrue(near(window.shot().pixel(700, 510), PRIMARY_GREEN))
        window.click(int(690 * scale), int(498 * scale), pixels=True)
        time.sleep(1)
        self.assertTrue(is_ready_fresh(window.shot()))
        window.click(int(690 * scale), int(500 * scale), pixels=True)
        window.wait_for(lambda s: not is_ready_fresh(s), 30, "the install starting")
        self.assertTrue(window.running())


class HighDpiSmallScreen(HighDpi):
    screen = "1366x768x24"
    geometry = (143, 0, 1080, 768)


if __name__ == "__main__":
    main()
