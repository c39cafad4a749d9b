"""Writes the AT-SPI events a screen reader gets from notifications and text, one a line:
type|role|name|detail1|detail2|length of the text carried|the text's first 80 characters.
Usage: atspi_listen.py OUTPUT_FILE SECONDS"""
import signal
import sys

import pyatspi

out = open(sys.argv[1], "w", buffering=1)


def heard(event):
    try:
        role = event.source.getRoleName()
        if role not in ("notification", "text"):
            return
        data = event.any_data if isinstance(event.any_data, str) else ""
        out.write("|".join([event.type, role, event.source.name or "", str(event.detail1),
                            str(event.detail2), str(len(data)),
                            data[:80].replace("\n", " ").replace("|", " ")]) + "\n")
    except Exception as failure:  # the source may be gone already
        out.write("unreadable %s: %s\n" % (event.type, failure))


pyatspi.Registry.registerEventListener(
    heard, "object:state-changed:showing", "object:text-changed", "object:property-change:accessible-name")
signal.signal(signal.SIGALRM, lambda *args: pyatspi.Registry.stop())
signal.signal(signal.SIGTERM, lambda *args: pyatspi.Registry.stop())
signal.alarm(int(sys.argv[2]))
out.write("listening\n")
pyatspi.Registry.start()
