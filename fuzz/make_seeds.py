#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/).

The seeds are valid requests, texts, set-file images (the checked-in
default images of tests/data), readings files (dist/readings) and fault
rules, plus a few near misses; libFuzzer mutates
from there. Run it again after a change of the protocol or the default
tables and commit the result.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

GET_NAMES = (["IFC_get_select_item", "IFC_get_stat"]
             + [f"IFC_get_Tot_Twt_{c}" for c in range(1, 7)]
             + [f"IFC_get_To_Tw_{c}" for c in range(1, 7)]
             + [f"IFC_get_histo_ave_{c}" for c in range(1, 7)]
             + ["IFC_get_hst_select", "IFC_get_hist_cntdatL", "IFC_get_hist_cntdatR"]
             + [f"IFC_get_on_off_{c}" for c in range(1, 7)])

PUT_NAMES = (["MLETOFF_set_btnstat", "IFC_set_select_item", "IFC_set_stat"]
             + [f"IFC_set_to_tw_{c}" for c in range(1, 7)]
             + [f"IFC_set_on_off_{c}" for c in range(1, 7)]
             + ["IFC_hst_select_item", "IFC_hst_clear", "IFC_hst_set", "append_log"])

# A valid data part for each PUT command, by name prefix.
PUT_TEXTS = {
    "MLETOFF_set_btnstat": [b"btn:1"],
    "IFC_set_select_item": [b"pin:1", b"sub20:1", b"all:", b"pin:"],
    "IFC_set_stat": [b"color:3 mode:1 totw_sw:1", b"color:3 mode:1"],
    "IFC_set_to_tw_": [b"to:95 tw:250", b"to:-1 tw:2147483647"],
    "IFC_set_on_off_": [b"main_on:95 main_off:100", b"pin_on:80 :7 sub18_off:1"],
    "IFC_hst_select_item": [b"LEFT 3 tb2", b"right 6 tw_tbw", b"LEFT 7 tb2"],
    "IFC_hst_clear": [b"2 tw_tbw", b"9 tw"],
    "IFC_hst_set": [b"1 tw 10 2 tbw 10 500", b"1 xx 10 2 tbw 10 500"],
    "append_log": [b"abc\n"],
}


def texts_for(name):
    for prefix, texts in PUT_TEXTS.items():
        if name.startswith(prefix):
            return texts
    return [b""]


def put_request(payload):
    """Header and payload; the NEXTs come from the server, so the client may
    send everything at once."""
    header = b"PUT" + f"{len(payload):<20d}".encode()
    return header + payload


def get_request(name, nexts=1):
    return b"GET" + name.encode().ljust(20, b" ") + b"NEXT" * nexts


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def connection_seeds():
    t = "connection"
    for n in GET_NAMES:
        write(t, f"get_{n}", get_request(n))
    for n in PUT_NAMES:
        for i, text in enumerate(texts_for(n)):
            write(t, f"put_{n}_{i}", put_request(n.encode() + b"\0" + text))
    write(t, "get_unknown", get_request("IFC_get_nothing"))
    write(t, "get_nul_filled", b"GET" + b"IFC_get_stat".ljust(20, b"\0") + b"NEXT")
    write(t, "get_lower_verb", b"get" + b"IFC_get_stat".ljust(20, b" "))
    write(t, "get_lower_next", get_request("IFC_get_stat", 0) + b"next")
    write(t, "get_next_nul", get_request("IFC_get_on_off_1", 0) + b"NEXT\0NEXT")
    write(t, "short_header", b"GET" + b"IFC_get_stat".ljust(19, b" "))
    write(t, "put_len_256000",
          put_request(b"append_log\0" + b"x" * (256000 - 11)))
    write(t, "put_len_256001", b"PUT" + b"256001".ljust(20, b" "))
    write(t, "put_len_minus1", b"PUT" + b"-1".ljust(20, b" "))
    write(t, "put_len_blanks", b"PUT" + b" " * 20)
    write(t, "put_len_twenty_digits", b"PUT" + b"9" * 20)
    write(t, "put_len_leading_blanks", b"PUT" + b"   12".ljust(20, b" ") + b"append_log\0x")
    write(t, "put_truncated_payload", b"PUT" + b"100".ljust(20, b" ") + b"append_log\0")
    write(t, "put_no_nul", put_request(b"IFC_set_stat"))
    write(t, "put_nul_first", put_request(b"\0IFC_set_stat"))
    write(t, "put_two_blocks",
          put_request(b"IFC_set_on_off_1\0" + b"main_on:1 " * 150))


def put_handler_seeds():
    t = "put_handlers"
    get_row = {n: i + 1 for i, n in enumerate(GET_NAMES)}
    for row, n in enumerate(PUT_NAMES, start=1):
        # A GET that shows what the PUT changed, where there is one.
        show = 0
        if n.startswith("IFC_set_to_tw_"):
            show = get_row["IFC_get_Tot_Twt_" + n[-1]]
        elif n.startswith("IFC_set_on_off_"):
            show = get_row["IFC_get_on_off_" + n[-1]]
        elif n == "IFC_set_select_item":
            show = get_row["IFC_get_select_item"]
        elif n == "IFC_set_stat":
            show = get_row["IFC_get_stat"]
        elif n == "IFC_hst_select_item":
            show = get_row["IFC_get_hst_select"]
        for i, text in enumerate(texts_for(n)):
            write(t, f"row_{n}_{i}", bytes([row, show]) + text)
            write(t, f"dispatch_{n}_{i}", bytes([0, show]) + n.encode() + b"\0" + text)
    write(t, "dispatch_no_nul", bytes([0, 0]) + b"IFC_set_stat")
    write(t, "dispatch_nul_last", bytes([0, 0]) + b"IFC_set_stat\0")
    write(t, "full_length_on_off",
          bytes([10, 24]) + (b"main_on:1 " * 25600))


def default_image(name):
    """The checked-in default image of a set file (tests/data)."""
    with open(os.path.join(HERE, "..", "tests", "data", name), "rb") as f:
        return f.read()


def set_file_seeds():
    t = "set_file"
    ifc, valve = default_image("ifc_set.set"), default_image("valve_fp.set")
    assert len(ifc) == 800 and len(valve) == 8960
    for sel, name, img in ((0x02, "ifc", ifc), (0x03, "valve", valve)):
        full = len(img)
        write(t, f"{name}_default", bytes([sel]) + img)
        for size in (0, 1, full - 1, full + 1, 10000):
            body = (img * 2)[:size]
            write(t, f"{name}_size_{size}", bytes([sel]) + body)
        no_term = img[: full - 80] + img[:80]
        write(t, f"{name}_no_terminator", bytes([sel]) + no_term)
        # Every name field filled to its 28 bytes, no NUL anywhere in it.
        filled = bytearray(img)
        for off in range(0, full, 80):
            filled[off + 4: off + 32] = b"N" * 28
        write(t, f"{name}_unterminated_names", bytes([sel]) + bytes(filled))
    # The histogram selection pointing outside the item table.
    bad = bytearray(ifc)
    struct.pack_into("<ii", bad, 240 + 32 + 4, 1000, -5)
    write(t, "ifc_stat2_out_of_range", bytes([0x02]) + bytes(bad))


def line2matrix2_seeds():
    t = "line2matrix2"
    seeds = {
        "two_items": b"main_on:95 main_off:160",
        "runs_of_spaces": b"   a:1    b:2   ",
        "second_colon": b"a:1:2",
        "empty_value": b"x:",
        "empty_key": b":5 b:2",
        "spaces_only": b"     ",
        "line_feed": b"a:1\nb:2",
        "no_colon": b"abc def:1",
        "long_key": b"k" * 40 + b":1",
        "long_value": b"k:" + b"v" * 60,
        "many_items": b" ".join(b"i%d:%d" % (i, i) for i in range(520)),
    }
    for name, data in seeds.items():
        write(t, name, data)


def readings_seeds():
    """The ready-made readings files, and files each one step from them."""
    t = "readings"
    ready = os.path.join(HERE, "..", "dist", "readings")
    for name in sorted(os.listdir(ready)):
        with open(os.path.join(ready, name), "rb") as f:
            write(t, name, f.read())
    seeds = {
        "every_500ms": b"every 500ms\nframe\nmeasured 1 to:1\nframe\nmeasured 1 to:2\n",
        "ranges": b"average 3-6 tbw:7 # c\nright bins 10-12 1 2 3\nleft decimal:-0.5\n",
        "crlf": b"measured all to:5 tw:6\r\nframe\r\n",
        "outside_32_bits": b"measured 1 to:2147483648\n",
        "bins_past_45": b"left bins 44 1 2 3\n",
        "decimal_14_digits": b"left decimal:12345678901234\n",
        "every_twice": b"every 2s\nevery 3s\n",
        "nul_in_comment": b"# a\0b\nframe\n",
        "no_colon": b"average 1 tb1 5\n",
    }
    for name, data in seeds.items():
        write(t, name, data)


def journal_seeds():
    """Byte 0: 0 a header that is none, 1 a GET, 2 a PUT; bytes 1 and 2:
    notes, files, where the GET's name ends; then the bytes."""
    t = "journal"
    every_byte = bytes(range(256))
    seeds = {
        "bad_header": b"\0\0\0GETIFC",
        "get": b"\1\1\x14IFC_get_stat        color:1 mode:0 totw_sw:0 ",
        "get_long_reply": b"\1\0\x0cIFC_get_stat" + b"x" * 5000,
        "put": b"\2\x10\1IFC_set_to_tw_1\0to:95 tw:250",
        "put_no_nul": b"\2\0\0abcd",
        "put_every_byte": b"\2\xff\xffappend_log\0" + every_byte,
        "put_long_text": b"\2\0\0append_log\0" + every_byte * 20,
    }
    for name, data in seeds.items():
        write(t, name, data)


def faults_seeds():
    """A rule of every action and step, escapes, and near misses."""
    t = "faults"
    seeds = {
        "every_action": b"# every action\n"
        b"IFC_get_stat refuse times 1\n* refuse after 2\n"
        b"IFC_get_* delay 6000 before len\n* delay 20 before block\n"
        b"* delay 30 before next times 3 after 1\nIFC_set_to_tw_? delay 1 before fin\n"
        b"* close before len\n* reset before block\n* close before next\n"
        b"* reset before fin\nIFC_set_on_off_* lose\n* garble after 4\n"
        b"* down 30 times 1\n",
        "reply_escapes": b'IFC_get_Tot_Twt_1 reply "to:1\\x20tw:\\101\\n\\t\\"\\\\ # not a comment" # one\r\n',
        "wildcards": b"IFC_???_*_? garble\n*_1 close before block\n",
        "put_name_before_next": b"IFC_set_* close before next\n",
        "unknown_action": b"* explode\n",
        "huge_number": b"* delay 99999999999999999999 before len\n",
        "open_quote": b'* reply "abc\n',
    }
    for name, data in seeds.items():
        write(t, name, data)


def main():
    connection_seeds()
    put_handler_seeds()
    set_file_seeds()
    line2matrix2_seeds()
    readings_seeds()
    journal_seeds()
    faults_seeds()
    return 0


if __name__ == "__main__":
    sys.exit(main())
