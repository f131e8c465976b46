"""The setup window under Xvfb: pages by their pixels (canvas coordinates in DIPs; the window has no
frame), clicks, keys, the language switch, the folder picker, DPI scaling, installs and exit codes."""
import hashlib
import time

from install_support import (DESKTOP, PROGRAMS, Package, build_package, installed_problems, lnk_info,
                             placeholder_payload, shortcuts)
from runtime_support import RuntimeServerTestCase, standin
from ui_support import WHITE, SetupWindow, near
from winetest import OUT, TESTAPPS, UNINSTALL_KEY, PrefixTestCase, main, wait_until

# Colours the pages fix, as 8-bit RGB.
PRIMARY_GREEN = (18, 183, 106)
WARNING_BANNER = (255, 246, 214)

SETUP = OUT / "VelmoraSetup.exe"
PROBE = TESTAPPS / "window_probe.exe"
OCCUPIED = r"C:\Occupied\Velmora"  # holds a file: the install refuses it
CHOSEN = r"C:\Apps\Velmora"  # "C:\Apps" chosen in the folder picker
HEADING = (50, 426, 520, 470)
CHANGE_LABEL = (594, 512, 651, 545)
FAILED_MESSAGE = (50, 474, 540, 538)
NODES = ((171, 140), (360, 268), (567, 112), (729, 244))
# Where the focus ring passes on each control of the fresh Ready page, in Tab order, and its colour.
FOCUS_RINGS = (((745, 14), (238, 249, 243)), ((630, 502), (0, 107, 59)), ((770, 496), (0, 107, 59)))


def is_ready_fresh(shot):
    return near(shot.pixel(840, 575), WARNING_BANNER)


def is_failed(shot):  # the "Close" button of the Failed page, where Ready has only the white panel
    return near(shot.pixel(600, 552), (245, 249, 247), 8) and not near(shot.pixel(840, 575), WARNING_BANNER)


def is_working(shot):
    return near(shot.pixel(56, 534), PRIMARY_GREEN) and near(shot.pixel(845, 534), (232, 240, 237))


def is_completed(shot):  # the check mark of the success badge and the "Finish" button
    return near(shot.pixel(458, 197), (5, 122, 69), 16) and near(shot.pixel(550, 510), (245, 249, 247), 8)


def lit_rings(shot):
    return [i for i, (point, colour) in enumerate(FOCUS_RINGS) if near(shot.pixel(*point), colour, 24)]


def node_hue(shot):  # (red - green) summed over the beam's four fixed nodes: coral > 0, green < 0
    return sum(shot.pixel(x, y)[0] - shot.pixel(x, y)[1] for x, y in NODES)


class EnglishWindow(RuntimeServerTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        folder = cls.prefix.unix(OCCUPIED)
        folder.mkdir(parents=True)
        (folder / "someone else's.txt").write_text("kept")
        cls.prefix.unix(r"C:\Apps").mkdir()
        data = standin("ok").read_bytes()
        (cls.served / "runtime.exe").write_bytes(data)
        descriptor = cls.work / "descriptor.txt"
        descriptor.write_text(f"{cls.server.url('runtime.exe')}\t{len(data)}\t{hashlib.sha256(data).hexdigest()}\n")
        cls.slow_package = build_package(cls.work / "SlowSetup.exe", placeholder_payload(), descriptor=descriptor)

    def open(self, *args, program=SETUP):
        window = SetupWindow(self.prefix, program, *args)
        self.addCleanup(window.process.kill)
        return window

    def test_an_install_into_a_chosen_folder_ends_with_0_and_its_update_keeps_it_and_registers_chinese(self):
        self.prefix.register_runtime()
        self.addCleanup(self.prefix.reg_delete, UNINSTALL_KEY)  # the other tests expect no registration
        window = self.open()
        window.pick_folder("C:\\Apps")
        window.click(770, 528)
        window.wait_for(is_completed, 120, "the Completed page")
        window.key("Tab", "Tab", "Return")  # "Finish"
        self.assertEqual(window.exit_code(), 0)
        # What it registers is install_test's business; the update's entry and links are read below.
        self.assertEqual(installed_problems(self.prefix, CHOSEN, Package(SETUP)), [])
        # The update's folder is the registered one: another would be refused once the install ran.
        self.prefix.reg_add(UNINSTALL_KEY, "DisplayVersion", data="1.0.0")
        window = self.open()
        shot = window.shot()
        # No "Change" and no banner: the requirements line moved up into its place.
        self.assertEqual((shot.colours(*CHANGE_LABEL), shot.pixel(840, 575), shot.colours(50, 612, 400, 629)),
                         (1, WHITE, 1))
        self.assertEqual(shot.undrawn(HEADING, (50, 582, 300, 610)), [])
        window.key("Tab", "Tab")  # no stop on "Change": the install button
        window.wait_for(lambda shot: lit_rings(shot) == [2], 10, "the ring on the install button")
        window.click(620, 528)
        with self.assertRaises(AssertionError):
            self.prefix.wait_window("^Choose where to install Velmora$", 3)
        window.click(720, 32)
        self.assertEqual(window.title("岫澜"), "岫澜")
        window.key("Return")
        window.wait_for(is_completed, 120, "the Completed page")
        window.key("Escape")
        self.assertEqual(window.exit_code(), 0)
        self.assertEqual(self.prefix.reg_value(UNINSTALL_KEY, "DisplayName"), ("REG_SZ", "岫澜"))
        self.assertEqual(shortcuts(self.prefix), {PROGRAMS: ["岫澜.lnk"], DESKTOP: ["岫澜.lnk"]})
        targets = {lnk_info(self.prefix.unix(f + r"\岫澜.lnk")).get("Local path") for f in (PROGRAMS, DESKTOP)}
        self.assertEqual(targets, {CHOSEN + r"\Velmora.exe"})

    def test_closing_switching_language_and_keys_are_refused_while_working(self):
        self.addCleanup(self.prefix.reg_delete, UNINSTALL_KEY)
        self.clear_runtime()
        hold = self.prefix.unix(r"C:\users\Public\standin-runtime.hold")  # kept, the stand-in runtime waits
        hold.write_bytes(b"")
        self.addCleanup(hold.unlink, missing_ok=True)
        window = self.open("/install-dir", r"C:\Slow\Velmora", program=self.slow_package)
        window.click(770, 528)
        shot = window.wait_for(is_working, 30, "the Working page")
        self.assertEqual(shot.undrawn((50, 482, 400, 512), (790, 482, 850, 512)), [])  # status, percentage
        window.move(866, 32)
        time.sleep(0.5)
        self.assertLess(window.shot().pixel(850, 18)[0], 100, "the close button lit while closing is refused")
        window.key("Escape", "alt+F4", "Return", "space")
        window.click(720, 32)
        time.sleep(0.5)
        self.assertIsNone(window.process.poll())
        self.assertEqual(window.title(), "Velmora")
        self.assertTrue(is_working(window.shot()), "the install ended before the checks")
        hold.unlink()
        window.wait_for(is_completed, 300, "the Completed page")
        window.key("Return")  # nothing has the focus: the filled button, "Open Velmora"
        self.assertEqual(window.exit_code(), 0)
        self.addCleanup(self.prefix.run, "taskkill", "/F", "/IM", "Velmora.exe")
        self.prefix.wait_window("^Velmora 1.0.1$", 30)

    def test_the_fresh_page_with_a_long_folder_its_keys_hover_minimize_and_cover(self):
        folder = "C:\\" + "\\".join(f"Shared Applications Folder {i}" for i in range(5))
        window = self.open("/install-dir", folder[:150 - len("\\Velmora")] + "\\Velmora")
        shot = window.shot()  # its size: HighDpi, at 1.5 times
        self.assertTrue(is_ready_fresh(shot))
        # The heading, the folder to the end of its box, "Change", the button, banner, requirements, title.
        self.assertEqual(shot.undrawn(HEADING, (67, 512, 575, 545), (520, 512, 575, 545), CHANGE_LABEL,
                                      (720, 515, 820, 540), (80, 565, 500, 586), (50, 603, 300, 629),
                                      (58, 20, 200, 45)), [])
        box = (244, 248, 246)
        inked = [y for y in range(505, 551) if any(not near(shot.pixel(x, y), box, 40) for x in range(67, 575, 2))]
        self.assertLessEqual(inked[-1] - inked[0], 20, inked)  # one line of 14-DIP text
        self.assertLess(node_hue(shot), 0)
        # The background gradient with the hero glow and the backdrop's wide glow over it.
        window.wait_for(lambda s: near(s.pixel(650, 170), (45, 106, 76), 10), 15, "the glow's colour")
        self.assertEqual(lit_rings(shot), [])
        # From no focus backwards to the last control, then round both ways, ending on "Change".
        for key, ring in (("shift+Tab", 2), ("Tab", 0), ("Tab", 1), ("shift+Tab", 0), ("shift+Tab", 2),
                          ("shift+Tab", 1)):
            window.key(key)
            window.wait_for(lambda shot: lit_rings(shot) == [ring], 10, f"the focus ring {ring}")
        window.key("Return")  # "Change" has the focus: the folder picker, not the install
        self.prefix.press(self.prefix.wait_window("^Choose where to install Velmora$", 30), "Escape")
        window.key("shift+Tab", "space")  # the language switch
        self.assertEqual(window.title("岫澜"), "岫澜")
        window.key("space")
        self.assertEqual(window.title("Velmora"), "Velmora")
        window.move(760, 540)
        window.wait_for(lambda shot: near(shot.pixel(700, 510), (29, 194, 117)), 10, "the hovered button")
        self.prefix.xdotool("mousemove", "0", "0")  # off the window
        window.wait_for(lambda shot: near(shot.pixel(700, 510), PRIMARY_GREEN), 10, "the button without hover")
        cover = self.prefix.start(PROBE, "cover")
        self.addCleanup(cover.kill)
        self.prefix.wait_window("^cover$", 60)
        time.sleep(1)
        self.assertLess(window.cpu_over_ten_seconds(), 1.0, "drawing while covered")
        cover.kill()
        cover.wait()
        window.click(822, 32)
        self.assertEqual(self.prefix.run(PROBE, "state"), 2)
        self.assertLess(window.cpu_over_ten_seconds(), 1.0, "drawing while minimised")

    def test_enter_starts_a_refused_install_whose_failure_keeps_its_language_and_close_ends_with_2(self):
        window = self.open("/install-dir", OCCUPIED)
        window.key("Return")
        english = window.wait_for(is_failed, 60, "the Failed page")
        self.assertEqual(english.undrawn(FAILED_MESSAGE, (50, 426, 570, 468)), [])
        self.assertTrue(near(english.pixel(700, 510), PRIMARY_GREEN), english.pixel(700, 510))
        self.assertGreater(node_hue(english), 0)
        self.assertTrue(self.prefix.exists(OCCUPIED + r"\someone else's.txt"))
        window.click(766, 32)  # "EN" while English is selected changes nothing
        self.assertEqual(window.title(), "Velmora")
        window.click(720, 32)
        self.assertEqual(window.title("岫澜"), "岫澜")
        chinese = window.wait_for(lambda s: s.region(50, 426, 570, 468) != english.region(50, 426, 570, 468), 10,
                                  "the Chinese heading")
        self.assertEqual(chinese.undrawn(FAILED_MESSAGE), [])
        self.assertNotEqual(chinese.region(586, 499, 678, 557), english.region(586, 499, 678, 557))
        # The text itself never changed: back in English it is drawn as before.
        window.click(766, 32)
        window.wait_for(lambda s: s.region(*FAILED_MESSAGE) == english.region(*FAILED_MESSAGE), 10,
                        "the same failure text")
        # "Try again" goes back to choosing a folder; a cancelled picker keeps it: the same refusal again.
        window.click(770, 528)
        window.wait_for(is_ready_fresh, 30, "the Ready page")
        window.pick_folder()
        window.key("Return")
        window.wait_for(lambda s: is_failed(s) and s.region(*FAILED_MESSAGE) == english.region(*FAILED_MESSAGE),
                        60, "the same failure again")
        window.key("Tab", "Tab", "space")  # the page's own "Close"
        self.assertEqual(window.exit_code(), 2)


class HighDpi(PrefixTestCase):
    # At 144 DPI the canvas is scaled 1.5, or on a small screen to the work area's height.
    geometry = (125, 120, 1350, 960)
    title, picker = "Velmora", "^Choose where to install Velmora$"

    def test_at_144_dpi_the_window_fits_the_screen_in_the_locale_s_language_and_hit_rectangles_follow(self):
        self.prefix.reg_add(r"HKCU\Control Panel\Desktop", "LogPixels", "REG_DWORD", 144)
        self.prefix.stop_server()  # the server reads LogPixels when it starts
        self.prefix.start_server()
        log = r"C:\users\Public\setup.log"
        window = SetupWindow(self.prefix, SETUP, "/install-dir", OCCUPIED, "/log", log, scale=self.geometry[3] / 640)
        self.addCleanup(window.process.kill)
        self.assertEqual(window.geometry(), self.geometry)
        self.assertEqual(window.title(self.title), self.title)
        window.pick_folder(title=self.picker)
        shot = window.wait_for(is_ready_fresh, 10, "the Ready page after the picker")
        self.assertEqual(shot.undrawn(HEADING, CHANGE_LABEL, (720, 515, 820, 540), (80, 565, 500, 586),
                                      (58, 20, 200, 45)), [])
        window.click(690, 498)
        time.sleep(1)
        self.assertTrue(is_ready_fresh(window.shot()))
        window.click(690, 500)
        # Nothing serves the sample's runtime: the install fails, and "Try again" runs it again at once.
        window.wait_for(is_failed, 60, "the failed download")
        def attempts():
            return self.prefix.unix(log).read_text(encoding="utf-8").count("desktop runtime 8 missing")
        first = attempts()
        window.click(770, 528)
        self.assertTrue(wait_until(lambda: attempts() > first, 60), "no second install")


class HighDpiSmallScreenInChinese(HighDpi):
    screen = "1366x768x24"
    locale = "zh_CN.UTF-8"
    geometry = (143, 0, 1080, 768)
    title, picker = "岫澜", "^选择岫澜安装位置$"


if __name__ == "__main__":
    main()
