# Reads one pixel of the X screen straight from the X server (a whole screenshot takes a second
# or more on a busy machine, too long to time a click by).
#   python3 pixel_colour.py X Y                 prints its colour as RRGGBB
#   python3 pixel_colour.py X Y RRGGBB LIMIT_MS prints "ready" once it looks, then waits until
#                                               the pixel has that colour and prints the
#                                               wall-clock time in ms when it had; exits 1 when
#                                               it has not within LIMIT_MS
import ctypes
import sys
import time

ALL_PLANES = ctypes.c_ulong(-1).value
Z_PIXMAP = 2

x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XGetImage.restype = ctypes.c_void_p
x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                          ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
x11.XGetPixel.restype = ctypes.c_ulong
x11.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
x11.XDestroyImage.argtypes = [ctypes.c_void_p]

display = x11.XOpenDisplay(None)
if not display:
    sys.exit("no X display")
root = x11.XDefaultRootWindow(display)


def colour():
    image = x11.XGetImage(display, root, int(sys.argv[1]), int(sys.argv[2]), 1, 1, ALL_PLANES,
                          Z_PIXMAP)
    if not image:
        sys.exit("no image of the pixel")
    # A 24-bit TrueColor screen, as the checks' virtual X server has: 0xRRGGBB.
    value = "%06X" % (x11.XGetPixel(image, 0, 0) & 0xFFFFFF)
    x11.XDestroyImage(image)
    return value


if len(sys.argv) < 5:
    print(colour())
    sys.exit(0)
deadline = time.time() + int(sys.argv[4]) / 1000
colour()
print("ready", flush=True)
while colour() != sys.argv[3].upper():
    if time.time() > deadline:
        sys.exit(1)
    time.sleep(0.02)
print(int(time.time() * 1000))
