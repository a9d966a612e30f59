#!/usr/bin/env python3
"""Saves a window of the X display as PNG: the first one whose name is TITLE
(Wine names a top-level window's X window by its caption).

Usage: xshot.py TITLE OUT.png

For windows that winrun --shots cannot catch: it saves a window when it first
appears, and a wizard turns its pages inside one window. Standard library and
the system's libX11 only.
"""
import ctypes
import ctypes.util
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bmp2png import write_png  # noqa: E402


class XImage(ctypes.Structure):  # the leading fields of Xlib's XImage
    _fields_ = [(name, ctypes.c_int) for name in ("width", "height", "xoffset", "format")] + \
               [("data", ctypes.c_void_p)] + \
               [(name, ctypes.c_int) for name in ("byte_order", "bitmap_unit", "bitmap_bit_order", "bitmap_pad",
                                                  "depth", "bytes_per_line", "bits_per_pixel")]


class XWindowAttributes(ctypes.Structure):  # the leading fields
    _fields_ = [(name, ctypes.c_int) for name in ("x", "y", "width", "height", "border_width", "depth")] + \
               [("rest", ctypes.c_byte * 256)]


def main(argv):
    if len(argv) != 3:
        print("usage: xshot.py TITLE OUT.png", file=sys.stderr)
        return 2
    x = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XDefaultRootWindow.restype = ctypes.c_ulong
    x.XGetImage.restype = ctypes.POINTER(XImage)
    x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + [ctypes.c_uint] * 2 + \
                           [ctypes.c_ulong, ctypes.c_int]
    display = x.XOpenDisplay(None)
    if not display:
        print("xshot: cannot open the display", file=sys.stderr)
        return 1

    def find(window):
        name = ctypes.c_char_p()
        if x.XFetchName(ctypes.c_void_p(display), ctypes.c_ulong(window), ctypes.byref(name)) and name.value:
            if name.value.decode("latin-1").strip() == argv[1].strip():  # NSIS ends its caption with a blank
                return window
        root, parent, children, count = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        x.XQueryTree(ctypes.c_void_p(display), ctypes.c_ulong(window), ctypes.byref(root), ctypes.byref(parent),
                     ctypes.byref(children), ctypes.byref(count))
        for i in range(count.value):
            found = find(children[i])
            if found:
                return found
        return None

    window = find(x.XDefaultRootWindow(ctypes.c_void_p(display)))
    if not window:
        print(f"xshot: no window named {argv[1]}", file=sys.stderr)
        return 1
    attributes = XWindowAttributes()
    x.XGetWindowAttributes(ctypes.c_void_p(display), ctypes.c_ulong(window), ctypes.byref(attributes))
    image = x.XGetImage(display, window, 0, 0, attributes.width, attributes.height, 0xFFFFFFFF, 2).contents  # ZPixmap
    if image.bits_per_pixel != 32:
        print(f"xshot: {image.bits_per_pixel} bits per pixel; only 32 is read", file=sys.stderr)
        return 1
    data = ctypes.string_at(image.data, image.bytes_per_line * image.height)
    rows = []
    for y in range(image.height):
        row = data[y * image.bytes_per_line:y * image.bytes_per_line + image.width * 4]
        rgb = bytearray(image.width * 3)  # BGRX to RGB
        rgb[0::3], rgb[1::3], rgb[2::3] = row[2::4], row[1::4], row[0::4]
        rows.append(bytes(rgb))
    write_png(argv[2], image.width, image.height, rows)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
