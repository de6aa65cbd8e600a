#!/usr/bin/python3
"""Reads the running iitcalc over the accessibility bus as a screen reader does.

Usage: atspi_client.py PID. Finds the application, reads the display, the result label and the
employer box (their texts by character, word, sentence and line), presses keys through the bus,
clicks one with xdotool, reads again, and checks that the program still runs. Exit 0 when all
holds, 1 with a line saying what failed.
"""
import os
import subprocess
import sys
import time

import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

# The plain text calls are the ones screen readers make; their newer names say the same.
warnings.filterwarnings("ignore", category=DeprecationWarning)

PLACEHOLDER = "在这里输入个人所得收入\r\nEnter the income of personal income here"


def fail(message):
    print("FAIL: " + message, flush=True)
    sys.exit(1)


def alive(pid):
    try:
        os.kill(pid, 0)
    except OSError:
        return False
    # A zombie is not running either.
    with open("/proc/%d/stat" % pid) as stat:
        return stat.read().split(")")[-1].split()[0] != "Z"


def find_application(name, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_name() == name:
                return app
        time.sleep(0.2)
    fail("%s never appeared on the accessibility bus" % name)


def units(node, found=None):
    found = {} if found is None else found
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is None:
            continue
        key = (child.get_role_name(), child.get_name())
        found.setdefault(key, child)
        units(child, found)
    return found


def unit(found, role, name):
    if (role, name) not in found:
        fail("no %s named %r; the window has %r" % (role, name, sorted(found)))
    return found[(role, name)]


def text_of(node):
    return Atspi.Text.get_text(node, 0, Atspi.Text.get_character_count(node))


def read_by_items(node):
    """Reads the text as a screen reader moving through it: every offset, every boundary."""
    count = Atspi.Text.get_character_count(node)
    pieces = 0
    for offset in range(-1, count + 2):
        for boundary in range(7):  # character, word start and end, sentence, line
            for read in (Atspi.Text.get_text_at_offset, Atspi.Text.get_text_before_offset,
                         Atspi.Text.get_text_after_offset):
                if read(node, offset, boundary).content:
                    pieces += 1
        Atspi.Text.get_character_extents(node, offset, Atspi.CoordType.SCREEN)
        Atspi.Text.get_text_attributes(node, offset)
    return pieces


def pump(seconds):
    """Lets the events the program sent arrive."""
    context = GLib.MainContext.default()
    end = time.time() + seconds
    while time.time() < end:
        while context.iteration(False):
            pass
        time.sleep(0.02)


def press(found, name, pid):
    button = unit(found, "push button", name)
    Atspi.Action.do_action(button, 0)
    time.sleep(0.35)  # a press is an animated click
    if not alive(pid):
        fail("the program ended after pressing %s" % name)


def main():
    pid = int(sys.argv[1])
    Atspi.set_timeout(5000, 10000)  # a hung program fails the test instead of stalling it
    app = find_application("iitcalc")
    found = units(app)
    display = unit(found, "text", "个人所得收入")
    employer = unit(found, "text", "使用单位名称")
    labels = [node for (role, _), node in found.items() if role == "label"]
    label = next((n for n in labels if "计算结果" in n.get_description()), None)
    if label is None:
        fail("no result label")

    if text_of(display) != PLACEHOLDER:
        fail("the display reads %r" % text_of(display))
    if text_of(employer) != "在这里输入使用单位名称":
        fail("the employer box reads %r" % text_of(employer))
    if label.get_name() != "":
        fail("the result label reads %r before any calculation" % label.get_name())
    for node, what in ((display, "display"), (employer, "employer box")):
        try:
            read_by_items(node)
        except Exception as error:  # a reply that never came: the program hangs
            fail("reading the %s by items: %s" % (what, error))
        if not alive(pid):
            fail("the program ended while the %s was read" % what)
    word = Atspi.Text.get_text_at_offset(display, 0, Atspi.TextBoundaryType.WORD_START)
    if (word.content, word.start_offset, word.end_offset) != ("在", 0, 1):
        fail("the first word of the display is %r" % ((word.content, word.start_offset),))

    for key in ("8", "0", "0", "0", "计算"):
        press(found, key, pid)
    if text_of(display) != "8000":
        fail("after 8000 the display reads %r" % text_of(display))
    if label.get_name() != "实发数: 7910\r\n应纳税:   90":
        fail("after the calculation the result label reads %r" % label.get_name())
    read_by_items(display)

    # A click on the real screen: "C" at (26, 234) + 24 in the window at (50, 50).
    subprocess.run(["xdotool", "mousemove", "100", "308", "click", "1"], check=True)
    time.sleep(0.5)
    if text_of(display) != "" or label.get_name() != "":
        fail("after C the display reads %r, the label %r" % (text_of(display), label.get_name()))

    # The tenth digit makes the display refuse the value: what readers are told of it is the
    # refusal's four characters, never a caret or an insertion beyond them.
    told = []

    def on_text_event(event):
        if event.source is not None and event.source.get_name() == "个人所得收入":
            told.append((event.type, event.detail1, event.detail2))

    listener = Atspi.EventListener.new(on_text_event)
    for kind in ("object:text-caret-moved", "object:text-changed:insert"):
        listener.register(kind)
    for key in ("2", "0", "0", "0", "0", "0", "0", "0", "0"):
        press(found, key, pid)
    pump(0.5)
    del told[:]
    press(found, "0", pid)
    pump(1.0)
    if text_of(display) != "数值过大":
        fail("ten digits read %r" % text_of(display))
    if not told:
        fail("no text events of the display after the tenth digit")
    for kind, detail1, detail2 in told:
        position = detail1 if kind.endswith("caret-moved") else detail1 + detail2
        if position > len("数值过大"):
            fail("readers were told %s %d %d of a four-character display" %
                 (kind, detail1, detail2))
    for kind in ("object:text-caret-moved", "object:text-changed:insert"):
        listener.deregister(kind)
    press(found, "清除", pid)

    switch = unit(found, "check box", "税金负担：自行负担")
    Atspi.Action.do_action(switch, 0)
    time.sleep(0.35)
    switch.clear_cache()
    if switch.get_name() != "税金负担：雇主全额负担":
        fail("the mode switch is named %r after a press" % switch.get_name())
    if not switch.get_state_set().contains(Atspi.StateType.CHECKED):
        fail("the mode switch is not checked after a press")

    time.sleep(0.3)
    if not alive(pid):
        fail("the program is no longer running")
    print("ok: display, label and employer box read through the bus; program running",
          flush=True)


main()
