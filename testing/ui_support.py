"""Driving the setup window under Xvfb, for its tests, the demo and the benchmarks: start it,
read its pixels by canvas coordinates (DIPs; the window has no frame), click, press keys."""
import os
import subprocess
import time
from pathlib import Path

from winetest import wait_until

WHITE = (255, 255, 255)


def cpu_seconds(pid):  # user and system time
    try:
        fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Shot:
    def __init__(self, data, width, height, scale):
        self.data, self.width, self.height, self.scale = data, width, height, scale

    def pixel(self, x, y):
        i = (int(y * self.scale) * self.width + int(x * self.scale)) * 3
        return tuple(self.data[i:i + 3])

    def region(self, left, top, right, bottom):
        left, right = int(left * self.scale), int(right * self.scale)
        return b"".join(bytes(self.data[(y * self.width + left) * 3:(y * self.width + right) * 3])
                        for y in range(int(top * self.scale), int(bottom * self.scale)))

    def colours(self, left, top, right, bottom):
        raw = self.region(left, top, right, bottom)
        return len({raw[i:i + 3] for i in range(0, len(raw), 3)})

    def undrawn(self, *boxes):  # the text boxes where nothing was drawn: text is far from one colour
        return [box for box in boxes if self.colours(*box) < 8]


def near(actual, expected, tolerance=6):
    return all(abs(a - e) <= tolerance for a, e in zip(actual, expected))


class SetupWindow:
    def __init__(self, prefix, program, *args, scale=1.0, timeout=120):
        self.prefix, self.scale = prefix, scale
        self.process = prefix.start(program, *args)
        self.window = prefix.wait_window("^(Velmora|岫澜)$", timeout)
        self.park_pointer()
        self.wait_for(lambda shot: near(shot.pixel(880, 630), WHITE), timeout, "the first frame")

    def geometry(self):
        text = self.prefix.xdotool("getwindowgeometry", "--shell", self.window)
        values = dict(line.split("=", 1) for line in text.splitlines() if "=" in line)
        if "X" not in values:
            state = "running" if self.process.poll() is None else f"ended with {self.process.returncode}"
            raise AssertionError(f"the window {self.window} is gone; the program is {state}")
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def shot(self):
        x, y, width, height = self.geometry()
        screen = subprocess.run(["import", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}", "+repage", "-depth",
                                 "8", "rgb:-"], env=self.prefix.env, stdout=subprocess.PIPE, check=True).stdout
        return Shot(screen, width, height, self.scale)

    def wait_for(self, predicate, timeout=30, what="the expected page"):
        def settled():  # a shot can catch a frame half presented: the page counts once two agree
            if predicate(self.shot()):
                time.sleep(0.1)
                shot = self.shot()
                return predicate(shot) and shot
        shot = wait_until(settled, timeout, 0.3)
        if not shot:
            raise AssertionError(f"the window did not show {what} within {timeout} s")
        return shot

    def move(self, x, y):
        self.prefix.xdotool("mousemove", "--window", self.window, int(x * self.scale), int(y * self.scale))
        time.sleep(0.15)

    def park_pointer(self):  # over the content panel, where nothing is hovered
        self.move(450, 415)

    def click(self, x, y):
        self.move(x, y)
        self.prefix.xdotool("click", "--window", self.window, 1)
        time.sleep(0.3)
        self.park_pointer()

    def key(self, *keys):
        self.prefix.press(self.window, *keys)

    def title(self, expected=None, timeout=10):  # a loaded machine may repaint the X title late
        if expected:
            wait_until(lambda: self.prefix.window_name(self.window) == expected, timeout, 0.2)
        return self.prefix.window_name(self.window)

    def pick_folder(self, typed=None, title="^Choose where to install Velmora$"):
        self.click(620, 528)
        dialog = self.prefix.wait_window(title, 30)
        if typed is None:
            self.prefix.press(dialog, "Escape")
        else:
            self.prefix.press(dialog)
            self.prefix.xdotool("type", "--delay", "30", typed)
            self.prefix.xdotool("key", "Return")
        time.sleep(1)
        self.park_pointer()

    def cpu_over_ten_seconds(self):
        before = cpu_seconds(self.process.pid)
        time.sleep(10)
        return cpu_seconds(self.process.pid) - before

    def exit_code(self, timeout=30):
        return self.process.wait(timeout=timeout)

    def kill(self):
        self.process.kill()
        self.process.wait()
