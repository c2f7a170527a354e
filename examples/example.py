#!/usr/bin/env python3
"""A point-of-sale program's first calls into the SAT driver library, from Python.

Usage: example.py LIBRARY DEVICE ACTIVATION_CODE [SALE_XML]
  LIBRARY  the library of the same width as this Python, for example
           /usr/lib/x86_64-linux-gnu/libtorvane_sat_x64.so
  DEVICE   the device node, for example the /dev/pts/N that satemu prints

Points the library at DEVICE, asks whether the device is in operation, reads
its status and, given a sale document, sends the sale and prints the receipt's
access key. Exit status 0 when every answer is a success code.
"""
import ctypes
import os
import sys
import time


def bind(path):
    lib = ctypes.CDLL(path)
    signatures = {
        "SetDriver": [ctypes.c_char_p, ctypes.c_char_p],
        "ConsultarSAT": [ctypes.c_int],
        "ConsultarStatusOperacional": [ctypes.c_int, ctypes.c_char_p],
        # dadosVenda is a writable buffer: the library may correct it in place.
        "EnviarDadosVenda": [ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p],
    }
    for name, args in signatures.items():
        function = getattr(lib, name)
        function.argtypes = args
        # c_char_p copies the answer into a Python bytes object at once, before
        # the next call overwrites the library's buffer.
        function.restype = ctypes.c_char_p
    return lib


def fields(answer):
    return answer.decode("utf-8", errors="replace").split("|")


def main(argv):
    if len(argv) not in (4, 5):
        print(__doc__, file=sys.stderr)
        return 2
    lib = bind(argv[1])
    device, code = argv[2].encode(), argv[3].encode()
    session = (int(time.time()) ^ os.getpid()) % 900000 + 100000
    ok = True

    print("SetDriver SERIAL:", lib.SetDriver(b"SERIAL", device).decode())

    answer = fields(lib.ConsultarSAT(session))
    session += 1
    print("ConsultarSAT:", "|".join(answer))
    ok = ok and answer[1] == "08000"

    answer = fields(lib.ConsultarStatusOperacional(session, code))
    session += 1
    print("ConsultarStatusOperacional:", answer[1], "serial", answer[5] if len(answer) > 5 else "")
    ok = ok and answer[1] == "10000"

    if len(argv) == 5:
        with open(argv[4], "rb") as f:
            sale = ctypes.create_string_buffer(f.read())
        answer = fields(lib.EnviarDadosVenda(session, code, sale))
        key = answer[8] if len(answer) > 8 else ""
        print("EnviarDadosVenda:", answer[1], "key", key)
        ok = ok and answer[1] == "06000"
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
