#!/usr/bin/env python3
"""Puts SOURCE_DATE_EPOCH in place of the clock time widl writes into a type library (as text,
"Created by WIDL version N at <ctime>", and as the 32-bit value that follows it; widl reads the
clock itself and knows no SOURCE_DATE_EPOCH), so that
the library and the DLL that carries it are the same bytes in every build. The text keeps its length.
Usage: SOURCE_DATE_EPOCH=SECONDS stamp_typelib.py WIDL.tlb STAMPED.tlb"""
import os
import re
import struct
import sys
import time

epoch = int(os.environ["SOURCE_DATE_EPOCH"])
stamp = time.asctime(time.gmtime(epoch)).encode()
with open(sys.argv[1], "rb") as file:
    data = file.read()
data, count = re.subn(rb"(Created by WIDL version [0-9.]+ at )[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4}"
                      rb"(\n(?:WW)*\x13\x00).{4}",  # the text, padding, VT_UI4 and the time
                      lambda match: match.group(1) + stamp + match.group(2) + struct.pack("<I", epoch), data, flags=re.S)
if count != 1:
    sys.exit("stamp_typelib.py: %s holds %d WIDL time stamps, not one" % (sys.argv[1], count))
with open(sys.argv[2], "wb") as file:
    file.write(data)
