#!/usr/bin/env python3
"""Writes the progress dialog's template, byte for byte, as an extended dialog template.

The resource compiler upper-cases class names and drops an icon control's size, so the
template is laid out here instead. Identifiers and texts come from resource_ids.h,
the one place the code and the resources share.

usage: make_dialog.py resource_ids.h out.bin
"""
import re
import struct
import sys

WS_POPUP, WS_CAPTION, WS_CHILD, WS_VISIBLE = 0x80000000, 0x00C00000, 0x40000000, 0x10000000
WS_BORDER, WS_GROUP, WS_TABSTOP = 0x00800000, 0x00020000, 0x00010000
DS_MODALFRAME, DS_SETFONT = 0x80, 0x40
SS_LEFT, SS_ICON, BS_DEFPUSHBUTTON, PBS_SMOOTH = 0x0, 0x3, 0x1, 0x1
WS_EX_CLIENTEDGE = 0x200
BUTTON, STATIC = 0x0080, 0x0082
IDCANCEL = 2


def defines(header):
    values = {}
    text = open(header, encoding="ascii").read().replace("\\\n", " ")
    for name, value in re.findall(r"#define\s+(\w+)\s+(.+)", text):
        value = value.strip()
        if value.startswith('"'):
            values[name] = "".join(re.findall(r'"([^"]*)"', value))
        elif value.isdigit():
            values[name] = int(value)
    return values


def wstr(text):
    return text.encode("utf-16-le") + b"\0\0"


def name_or_ordinal(value):
    return struct.pack("<HH", 0xFFFF, value) if isinstance(value, int) else wstr(value)


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def template(d):
    controls = [
        # id, class, text, style, extended style, x, y, width, height
        (d["IDC_PROMPT"], STATIC, d["PROGRESS_DIALOG_PROMPT"], WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 0,
         39, 12, d["PROMPT_WIDTH"], d["PROMPT_HEIGHT"]),
        (0xFFFF, STATIC, d["IDI_PROGRESS_ICON"], WS_CHILD | WS_VISIBLE | SS_ICON, 0, 9, 13, 20, 20),
        (IDCANCEL, BUTTON, d["PROGRESS_DIALOG_CANCEL"], WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0,
         88, 55, d["CANCEL_WIDTH"], 14),
        (d["IDC_PROGRESS"], "msctls_progress32", "Progress1",
         WS_CHILD | WS_VISIBLE | WS_BORDER | PBS_SMOOTH, WS_EX_CLIENTEDGE, 39, 38, 150, 9),
    ]
    style = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT
    out = struct.pack("<HHIIIHhhhh", 1, 0xFFFF, 0, 0, style, len(controls), 0, 0, d["PROGRESS_DIALOG_WIDTH"],
                      d["PROGRESS_DIALOG_HEIGHT"])
    out += b"\0\0" + b"\0\0" + wstr(d["PROGRESS_DIALOG_CAPTION"])
    out += struct.pack("<HHBB", 8, 0, 0, 1) + wstr("MS Sans Serif")
    for control_id, cls, text, cstyle, ex, x, y, w, h in controls:
        out = pad4(out)
        out += struct.pack("<IIIhhhhI", 0, ex, cstyle, x, y, w, h, control_id)
        out += name_or_ordinal(cls) + name_or_ordinal(text) + struct.pack("<H", 0)
    return out


if __name__ == "__main__":
    with open(sys.argv[2], "wb") as f:
        f.write(template(defines(sys.argv[1])))
