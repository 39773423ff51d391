#!/usr/bin/env python3
"""Reads aim-point pictures back and measures where their weapon labels lie.

usage: picture_boxes.py CHAR_WIDTH PICTURE=TYPES...
  CHAR_WIDTH  how wide a character of a label is taken to be, in font sizes
  PICTURE     an SVG file the checker drew
  TYPES       the weapon types drawn in it, comma-separated ("-1,22,25")

A label's box is estimated from its text: its character count times CHAR_WIDTH times the
label font size across, from its anchor; from 0.8 font sizes above its baseline to 0.1 below
(the labels hold digits, '-' and lower-case letters without descenders). For each picture it
asserts that every drawn weapon type has one label in each view, beside its mark or with a line
from the weapon's own mark to it; and that no label box
  - leaves the frame of its own view, or reaches into the other view or the legend,
  - leaves the canvas,
  - overlaps another label or covers a mark or the player;
and that no note below the legend and no line of the heading runs off the canvas, and the
heading's lines lie one under the other above the views.
Prints one line per fault and exits 1 when there is any.
"""
import re
import sys
import xml.dom.minidom

faults = []


def fault(picture, text):
    faults.append(f"{picture}: {text}")


def number(element, name):
    return float(element.getAttribute(name))


def overlaps(a, b):
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


def inside(a, outer):
    return a[0] >= outer[0] and a[1] >= outer[1] and a[2] <= outer[2] and a[3] <= outer[3]


def element_top(element):
    if element.tagName == "circle":
        return number(element, "cy") - number(element, "r")
    if element.tagName == "rect":
        return number(element, "y")
    return number(element, "y") - 12  # a line of the legend's text


def check(picture, types, char_width):
    document = xml.dom.minidom.parse(picture)
    svg = document.documentElement
    canvas = (0.0, 0.0, number(svg, "width"), number(svg, "height"))
    style = "".join(s.firstChild.data for s in svg.getElementsByTagName("style"))
    size = float(re.search(r"\.weapon-name\{[^}]*font-size:([0-9.]+)px", style).group(1))
    groups = {g.getAttribute("id"): g for g in svg.getElementsByTagName("g")}
    legend = groups["legend"]
    legend_top = min(element_top(e) for e in legend.childNodes if e.nodeType == e.ELEMENT_NODE)
    legend_box = (canvas[0], legend_top, canvas[2], canvas[3])
    # The notes below the legend, as long as sixteen weapon types make them, stay on the canvas.
    note_size = float(re.search(r"\.note\{[^}]*font-size:([0-9.]+)px", style).group(1))
    for text in legend.getElementsByTagName("text"):
        if text.getAttribute("class") == "note":
            right = number(text, "x") + len(text.firstChild.data) * char_width * note_size
            if right > canvas[2]:
                fault(picture, f"the note {text.firstChild.data!r} runs off the canvas to {right}")
    frames = {}
    for view in ("view-xy", "view-xz"):
        rect = groups[view].getElementsByTagName("rect")[0]
        x, y = number(rect, "x"), number(rect, "y")
        frames[view] = (x, y, x + number(rect, "width"), y + number(rect, "height"))
    # The heading's lines, then the line under it, all above the first view and on the canvas.
    # A letter from U+0800 on (kana, CJK) is taken as a whole font size wide.
    first_view = min(frame[1] for frame in frames.values())
    above = 0.0
    for text in svg.getElementsByTagName("text"):
        if text.getAttribute("class") not in ("title", "subtitle"):
            continue
        words = text.firstChild.data
        size = float(text.getAttribute("font-size") or 12)
        x, y = number(text, "x"), number(text, "y")
        right = x + sum(size if ord(c) >= 0x800 else char_width * size for c in words)
        if text.getAttribute("class") == "title" and right > canvas[2]:
            fault(picture, f"the heading's line {words!r} runs off the canvas to {right}")
        if y - 0.8 * size < above or y + 0.2 * size > first_view:
            fault(picture, f"the heading's line {words!r} at {y} overlaps the line above or the view")
        above = y + 0.2 * size
    for view, frame in frames.items():
        group = groups[view]
        others = [f for v, f in frames.items() if v != view] + [legend_box]
        marks = {}
        obstacles = []
        for circle in group.getElementsByTagName("circle"):
            cx, cy, r = number(circle, "cx"), number(circle, "cy"), number(circle, "r")
            obstacles.append((cx - r, cy - r, cx + r, cy + r))
            if "mark" in circle.getAttribute("class").split():
                marks[circle.getAttribute("data-weapon-type")] = (cx, cy)
        for rect in group.getElementsByTagName("rect")[1:]:
            x, y = number(rect, "x"), number(rect, "y")
            obstacles.append((x, y, x + number(rect, "width"), y + number(rect, "height")))
            marks[rect.getAttribute("data-weapon-type")] = (x + number(rect, "width") / 2,
                                                            y + number(rect, "height") / 2)
        leaders = {}
        for line in group.getElementsByTagName("polyline"):
            points = [tuple(map(float, p.split(","))) for p in line.getAttribute("points").split()]
            leaders[(round(points[-1][0] + 4, 1), round(points[-1][1] + 4, 1))] = points[0]
        boxes = []
        for text in group.getElementsByTagName("text"):
            if text.getAttribute("class") != "weapon-name":
                continue
            words = text.firstChild.data
            type_ = text.getAttribute("data-weapon-type")
            x, y = number(text, "x"), number(text, "y")
            width = len(words) * char_width * size
            left = x - width if text.getAttribute("text-anchor") == "end" else x
            box = (left, y - 0.8 * size, left + width, y + 0.1 * size)
            where = f"{view} label {words!r} at ({x}, {y})"
            if words.split()[0] != type_:
                fault(picture, f"{where} names weapon type {type_}")
            if not inside(box, frame):
                fault(picture, f"{where} leaves its view {frame}: {box}")
            if not inside(box, canvas):
                fault(picture, f"{where} leaves the canvas {canvas}")
            for other in others:
                if overlaps(box, other):
                    fault(picture, f"{where} reaches into {other}")
            for obstacle in obstacles:
                if overlaps(box, obstacle):
                    fault(picture, f"{where} covers a mark at {obstacle}")
            for other_words, other_box in boxes:
                if overlaps(box, other_box):
                    fault(picture, f"{where} overlaps the label {other_words!r}")
            leader = leaders.get((round(x, 1), round(y, 1)))
            mark = marks.get(type_, (float("nan"), float("nan")))
            if leader is None:
                # Beside its mark: within a few pixels of it.
                gap_x = max(box[0] - mark[0], mark[0] - box[2], 0)
                gap_y = max(box[1] - mark[1], mark[1] - box[3], 0)
                if not (gap_x <= 12 and gap_y <= 12):
                    fault(picture, f"{where} lies apart from its mark {mark}, with no line to it")
            elif abs(leader[0] - mark[0]) > 0.05 or abs(leader[1] - mark[1]) > 0.05:
                fault(picture, f"{where}: its line starts at {leader}, not at its mark {mark}")
            boxes.append((type_, box))
        labelled = sorted(type_ for type_, _ in boxes)
        if labelled != sorted(types):
            fault(picture, f"{view} labels weapon types {labelled}, drawn are {sorted(types)}")
        if sorted(marks) != sorted(types):
            fault(picture, f"{view} marks weapon types {sorted(marks)}, drawn are {sorted(types)}")


def main():
    char_width = float(sys.argv[1])
    for argument in sys.argv[2:]:
        picture, types = argument.rsplit("=", 1)
        check(picture, [t for t in types.split(",") if t], char_width)
    for line in faults:
        print(line)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
