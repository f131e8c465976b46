"""The setup window under Xvfb: pages by their pixels, clicks, keys, the language
switch, the folder picker, DPI scaling and exit codes of the real setup program."""
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from winetest import BUILD, OUT, SOURCE, TESTAPPS, UNINSTALL_KEY, PrefixTestCase, main, pack  # noqa: E402
from ui_support import (PICKER_TITLES, PRIMARY_GREEN, WARNING_BANNER, WHITE, SetupWindow,  # noqa: E402
                        near, restart_wineserver)

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


class ReadyPage(PrefixTestCase):
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


if __name__ == "__main__":
    main()
