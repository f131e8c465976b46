"""Driving the setup window under Xvfb: start it, find it, read its pixels by canvas
coordinates (DIPs), click and press keys, and wait for its exit code.

Pixels come from `import -window root` as raw RGB; the window has no frame, so its
client area starts at the window's X position.
"""
import os
import subprocess
import time
from pathlib import Path


SETUP_TITLES = "^(Velmora|岫澜)$"

# Colours the pages fix, as 8-bit RGB.
WHITE = (255, 255, 255)
PRIMARY_GREEN = (18, 183, 106)
WARNING_BANNER = (255, 246, 214)
PROGRESS_TRACK = (232, 240, 237)


class Shot:
    """One screenshot of the window, addressed in DIPs of its 900 x 640 canvas."""

    def __init__(self, data, width, height, scale):
        self.data, self.width, self.height, self.scale = data, width, height, scale

    def pixel(self, x, y):
        px, py = int(x * self.scale), int(y * self.scale)
        i = (py * self.width + px) * 3
        return tuple(self.data[i:i + 3])

    def region(self, left, top, right, bottom):
        left, right = int(left * self.scale), int(right * self.scale)
        return b"".join(bytes(self.data[(y * self.width + left) * 3:(y * self.width + right) * 3])
                        for y in range(int(top * self.scale), int(bottom * self.scale)))

    def colours_in(self, left, top, right, bottom):
        raw = self.region(left, top, right, bottom)
        return {raw[i:i + 3] for i in range(0, len(raw), 3)}

    def has_glyphs(self, left, top, right, bottom):
        """Text drew something: the region is far from one colour."""
        return len(self.colours_in(left, top, right, bottom)) >= 8


def cpu_seconds(pid):
    """User and system CPU-seconds a process has used so far (0 once it is gone)."""
    try:
        fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def near(actual, expected, tolerance=6):
    return all(abs(a - e) <= tolerance for a, e in zip(actual, expected))


class SetupWindow:
    """A running setup program with its window."""

    def __init__(self, prefix, program, *args, scale=1.0, timeout=120):
        self.prefix, self.scale = prefix, scale
        self.process = prefix.start(program, *args)
        self.window = prefix.wait_window(SETUP_TITLES, timeout)
        self.park_pointer()
        self.wait_for(lambda shot: near(shot.pixel(880, 630), WHITE), timeout, "the first frame")

    def geometry(self):
        text = self.prefix.xdotool("getwindowgeometry", "--shell", self.window)
        values = dict(line.split("=", 1) for line in text.splitlines() if "=" in line)
        if "X" not in values:
            state = "running" if self.running() else f"ended with {self.process.returncode}"
            raise AssertionError(f"the window {self.window} is gone; the program is {state}")
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def shot(self):
        x, y, width, height = self.geometry()
        screen = subprocess.run(["import", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}", "+repage",
                                 "-depth", "8", "rgb:-"], env=self.prefix.env, stdout=subprocess.PIPE, check=True).stdout
        return Shot(screen, width, height, self.scale)

    def wait_for(self, predicate, timeout=30, what="the expected page"):
        deadline = time.time() + timeout
        while True:
            # A shot can catch a frame half presented: the page counts once two agree.
            if predicate(self.shot()):
                time.sleep(0.1)
                shot = self.shot()
                if predicate(shot):
                    return shot
            if time.time() > deadline:
                raise AssertionError(f"the window did not show {what} within {timeout} s")
            time.sleep(0.3)

    def move(self, x, y):
        self.prefix.xdotool("mousemove", "--window", self.window, int(x * self.scale), int(y * self.scale))
        time.sleep(0.15)

    def park_pointer(self):
        """Over the content panel, where nothing is hovered."""
        self.move(450, 415)

    def click(self, x, y, pixels=False):
        """A click at canvas (x, y); with pixels=True at that client pixel."""
        if pixels:
            self.prefix.xdotool("mousemove", "--window", self.window, x, y)
            time.sleep(0.15)
        else:
            self.move(x, y)
        self.prefix.xdotool("click", "--window", self.window, 1)
        time.sleep(0.3)
        self.park_pointer()

    def key(self, *keys):
        self.park_pointer()
        self.prefix.xdotool("windowfocus", "--sync", self.window)
        for key in keys:
            self.prefix.xdotool("key", "--window", self.window, key)
            time.sleep(0.15)

    def title(self, expected=None, timeout=10):
        """The window's title; given the title a click should lead to, waits for it
        (a loaded machine may repaint the X title a moment after the click)."""
        deadline = time.time() + timeout
        while True:
            title = self.prefix.window_name(self.window)
            if expected is None or title == expected or time.time() > deadline:
                return title
            time.sleep(0.2)

    def leave(self):
        """The pointer to the screen's corner, off the window."""
        self.prefix.xdotool("mousemove", "0", "0")
        time.sleep(0.15)

    def running(self):
        return self.process.poll() is None

    def exit_code(self, timeout=30):
        return self.process.wait(timeout=timeout)

    def kill(self):
        if self.running():
            self.process.kill()
            self.process.wait()
