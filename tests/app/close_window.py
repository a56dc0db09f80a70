# Asks the X windows whose ids are given to close, as a window manager's close button does: a
# WM_PROTOCOLS client message with WM_DELETE_WINDOW (xdotool's windowclose destroys the window
# instead, which no program sees as a close).
# It prints the wall-clock time in milliseconds at which the messages went out, so that a check
# times the close from there rather than from the start of this script, which a busy machine
# slows.
#   python3 close_window.py WINDOW_ID...
import ctypes
import sys
import time

CLIENT_MESSAGE = 33


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]


class Event(ctypes.Union):
    _fields_ = [("client", ClientMessage), ("pad", ctypes.c_long * 24)]


x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                           ctypes.POINTER(Event)]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

display = x11.XOpenDisplay(None)
if not display:
    sys.exit("close_window: no X display")
protocols = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
delete = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
for window in sys.argv[1:]:
    event = Event()
    event.client.type = CLIENT_MESSAGE
    event.client.window = int(window)
    event.client.message_type = protocols
    event.client.format = 32
    event.client.data[0] = delete
    event.client.data[1] = 0  # CurrentTime
    x11.XSendEvent(display, int(window), 0, 0, ctypes.byref(event))
x11.XFlush(display)
print(time.time_ns() // 1000000, flush=True)
x11.XCloseDisplay(display)
