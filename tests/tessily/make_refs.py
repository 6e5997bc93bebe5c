#!/usr/bin/env python3
"""Writes refs.tsv, the reference results of Tessily's string functions, with Python's standard
library as the reference. Each line: function, input (hex), expected result (hex), and for
FormatCString the expected position after the call.

    python3 make_refs.py           rewrite refs.tsv beside this script
    python3 make_refs.py --check   fail when refs.tsv differs from what this script makes
"""
import base64
import codecs
import html
import os
import random
import sys
import urllib.parse
import warnings

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "refs.tsv")


def inputs(rng):
    fixed = [
        b"", b" ", b"\t \r\n\x0b\x0c", b"  a b  ", b"\x00 a \x00", b"xxaxx", b"xxxx", b"\r\n\r\nab\r\n\r\n",
        b"a b&c", b"<\">", b"it's & <b>\"x\"</b>", b"%2f%2F%", b"%zz%4", b"100%", b"a+b%26c", b"%41%4a%4A+%2B",
        b"-_.~*", b"\xa0\x85 \xa0", b"\xe4\xb8\xad\xe6\x96\x87", b"\xff\xfe\x80", bytes(range(256)),
        b"Hello, World 123", b"\xc4\xe9\xf6", b"A", b"AB", b"ABC", b"ABCD",
    ]
    alphabets = [
        bytes(range(256)),
        b" \t\r\n\x0b\x0cxa",
        b"<>&\"'abc ",
        b"%+0123456789abcdefABCDEFgG ",
    ]
    rand = []
    for alphabet in alphabets:
        for _ in range(60):
            n = rng.randrange(0, 24)
            rand.append(bytes(alphabet[rng.randrange(len(alphabet))] for _ in range(n)))
    return fixed + rand


def url_encode(b):
    out = bytearray()
    for c in b:
        if (48 <= c <= 57) or (65 <= c <= 90) or (97 <= c <= 122):
            out.append(c)
        elif c == 32:
            out += b"+"
        else:
            out += b"%%%02X" % c
    return bytes(out)


def html_encode(b):
    s = html.escape(b.decode("latin-1"), quote=False).replace('"', "&quot;")
    return s.encode("latin-1")


def str_encode(b):
    return base64.b64encode(b).rstrip(b"=")


def str_decode(code):
    return base64.b64decode(code + b"=" * (-len(code) % 4))


# Escapes that Python's escape_decode reads as the library does.
def escape_token(rng):
    kind = rng.randrange(7)
    if kind == 0:
        return bytes([rng.choice(b"abcdeghijklmopsuwyzABZ019 ,;!{}\x80\xff")])
    if kind == 1:
        return b"\\" + bytes([rng.choice(b"abnrtv")])
    if kind == 2:
        return b"\\" + bytes([rng.choice(b"\\'\"")])
    if kind == 3:  # one to three octal digits, then something that is not one
        digits = bytes(rng.choice(b"01234567") for _ in range(rng.randrange(1, 4)))
        return b"\\" + digits + (b"9" if len(digits) < 3 and rng.randrange(2) else b"")
    if kind == 4:  # two hex digits, then possibly a further hex digit that stays unread
        return b"\\x" + bytes(rng.choice(b"0123456789abcdefABCDEF") for _ in range(2)) + \
            (bytes([rng.choice(b"0aF")]) if rng.randrange(2) else b"")
    if kind == 5:
        return b"\\0"
    return b"\\\\"


def make():
    rng = random.Random(20261210)
    rows = []

    def row(name, arg, result, extra=""):
        rows.append("\t".join([name, arg.hex(), result.hex(), str(extra)]))

    for b in inputs(rng):
        row("LTrim", b, b.lstrip())
        row("RTrim", b, b.rstrip())
        row("Trim", b, b.strip())
        row("LTrim_x", b, b.lstrip(b"x"))
        row("RTrim_x", b, b.rstrip(b"x"))
        row("Trim_x", b, b.strip(b"x"))
        row("Trim_crlf", b, b.strip(b"\r\n"))
        row("RTrim_crlf", b, b.rstrip(b"\r\n"))
        row("UCase", b, b.upper())
        row("LCase", b, b.lower())
        row("HTMLEncode", b, html_encode(b))
        row("URLEncode", b, url_encode(b))
        row("URLDecode", b, urllib.parse.unquote_to_bytes(b.replace(b"+", b" ")))
        row("StrEncode", b, str_encode(b))
        row("StrDecode", str_encode(b), b)

    symbols = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
    for _ in range(80):
        n = rng.randrange(0, 30)
        if n % 4 == 1:
            n += 1  # one symbol alone is no byte, and the reference refuses it
        code = bytes(rng.choice(symbols) for _ in range(n))
        row("StrDecode", code, str_decode(code))

    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for _ in range(150):
            body = b"".join(escape_token(rng) for _ in range(rng.randrange(0, 8)))
            tail = rng.choice([b"", b"rest", b"\"x\"", b"\\n"])
            text = b"\"" + body + b"\"" + tail
            row("FormatCString", text, codecs.escape_decode(body)[0], len(body) + 2)
    return "\n".join(rows) + "\n"


def main():
    text = make()
    if "--check" in sys.argv[1:]:
        with open(OUT, encoding="ascii") as f:
            if f.read() != text:
                sys.exit("refs.tsv is not what make_refs.py makes; run it again and commit the result")
        return
    with open(OUT, "w", encoding="ascii", newline="\n") as f:
        f.write(text)


if __name__ == "__main__":
    main()
