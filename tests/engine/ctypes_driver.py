"""Drives the shared library through Python's ctypes, as the suite's scripts do.

Usage: ctypes_driver.py LIBRARY
"""
import ctypes
import shutil
import sqlite3
import struct
import subprocess
import sys
import tempfile


def main(library):
    with tempfile.TemporaryDirectory() as folder:
        drive(library, folder)
    print("ctypes driver: all checks passed")


def drive(library, folder):
    lib = ctypes.CDLL(library)
    lib.BTRCALL.restype = ctypes.c_int16
    lib.BTRCALL.argtypes = [ctypes.c_uint16, ctypes.c_void_p, ctypes.c_void_p,
                            ctypes.POINTER(ctypes.c_uint32), ctypes.c_void_p,
                            ctypes.c_uint8, ctypes.c_int8]
    position = ctypes.create_string_buffer(128)
    data = ctypes.create_string_buffer(1536)
    key = ctypes.create_string_buffer(256)

    def call(op, length, key_number, key_bytes=None):
        if key_bytes is not None:
            ctypes.memset(key, 0, 256)
            key.raw = key_bytes + b"\0" * (256 - len(key_bytes))
        n = ctypes.c_uint32(length)
        status = lib.BTRCALL(op, position, data, ctypes.byref(n), key, 255, key_number)
        return status, n.value

    path = (folder + "/Script.dat").encode()
    # 12-byte records: a 4-byte integer key, a 4-byte string key with duplicates.
    description = struct.pack("<HHHIHI", 12, 1024, 2, 0, 0, 0)
    description += struct.pack("<HHHIB5x", 1, 4, 0x0100, 0, 1)
    description += struct.pack("<HHHIB5x", 5, 4, 0x0001, 0, 0)
    data.raw = description + b" " * (1536 - len(description))
    assert call(14, 1536, -1, path)[0] == 0
    assert call(14, 1536, -1, path)[0] == 59
    assert call(0, 0, 0, path)[0] == 0
    for number, name in [(3, b"anna"), (-1, b"pere"), (2, b"anna")]:
        data.raw = struct.pack("<i", number) + name + b"xxxx" + b"\0" * (1536 - 12)
        assert call(2, 12, 0)[0] == 0
    status, length = call(12, 1536, 0)
    seen = []
    while status == 0:
        seen.append(struct.unpack("<i", data.raw[:4])[0])
        status, length = call(6, 1536, 0)
    assert status == 9, status
    assert seen == [-1, 2, 3], seen
    status, length = call(5, 1536, 1, b"anna")
    assert status == 0 and struct.unpack("<i", data.raw[:4])[0] == 3
    status, length = call(15, 1536, 0)
    assert status == 0 and length == 48
    assert struct.unpack("<I", data.raw[6:10])[0] == 3

    # The documented API's other entries: BTRCALL32 as BTRCALL; BTRCALLID
    # and BTRCALLID32 with a 16-byte client identifier last.
    entry_args = [ctypes.c_uint16, ctypes.c_void_p, ctypes.c_void_p,
                  ctypes.POINTER(ctypes.c_uint32), ctypes.c_void_p, ctypes.c_uint8, ctypes.c_int8]
    lib.BTRCALL32.restype = ctypes.c_int16
    lib.BTRCALL32.argtypes = entry_args
    for name in ("BTRCALLID", "BTRCALLID32"):
        getattr(lib, name).restype = ctypes.c_int16
        getattr(lib, name).argtypes = entry_args + [ctypes.c_void_p]
    client = ctypes.create_string_buffer(b"nubo-script\0" + b"AP" + struct.pack("<H", 1), 16)
    n = ctypes.c_uint32(1536)
    assert lib.BTRCALL32(13, position, data, ctypes.byref(n), key, 255, 0) == 0
    assert struct.unpack("<i", data.raw[:4])[0] == 3 and n.value == 12
    for entry in (lib.BTRCALLID, lib.BTRCALLID32):
        n = ctypes.c_uint32(1536)
        assert entry(12, position, data, ctypes.byref(n), key, 255, 0, client) == 0
        assert struct.unpack("<i", data.raw[:4])[0] == -1
        n = ctypes.c_uint32(1536)
        assert entry(6, position, data, ctypes.byref(n), key, 255, 0, client) == 0
        assert struct.unpack("<i", data.raw[:4])[0] == 2
    assert call(1, 0, 0)[0] == 0
    assert call(1, 0, 0)[0] == 3

    # The standard sqlite3 module reads the same file.
    db = sqlite3.connect(path.decode())
    assert db.execute("SELECT count(*) FROM records").fetchone()[0] == 3
    assert db.execute("SELECT records FROM record_count").fetchone()[0] == 3
    db.close()

    # Only the entries leave the library.
    nm = shutil.which("nm")
    if nm:
        out = subprocess.run([nm, "-D", "--defined-only", library], capture_output=True,
                             text=True, check=True).stdout
        names = sorted(line.split()[-1] for line in out.splitlines() if line.strip())
        assert names == ["BTRCALL", "BTRCALL32", "BTRCALLID", "BTRCALLID32"], names


if __name__ == "__main__":
    main(sys.argv[1])
