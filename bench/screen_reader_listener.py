# Listens on the accessibility bus as a screen reader does: every object, window and focus event,
# each event's source asked its name and value. Prints the count of events on SIGTERM or SIGINT.
import signal
import sys

import pyatspi

events = 0


def heard(event):
    global events
    events += 1
    try:
        source = event.source
        source.name
        source.queryValue().currentValue
    except Exception:  # a source without a value, or gone already
        pass


def stop(*_):
    print("events", events, file=sys.stderr)
    pyatspi.Registry.stop()


for kind in ("object:", "window:", "focus:"):
    pyatspi.Registry.registerEventListener(heard, kind)
signal.signal(signal.SIGTERM, stop)
signal.signal(signal.SIGINT, stop)
pyatspi.Registry.start()
