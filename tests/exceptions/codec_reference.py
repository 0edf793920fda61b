#!/usr/bin/env python3
# Reference values for the exception library's codecs, computed with python's standard library
# and an independent rendering of the build tool's block cipher.
#
#   codec_reference.py digests <records file>   one line per record:
#       crc32 crc16 md5 base64(or "-" when empty)
#   codec_reference.py cipher <password> <records file>   one line per record: hex of the
#       chained encipherment that the library's TeaDecryptBuffer must undo
# A records file holds records of a 32-bit little-endian length followed by that many bytes.
import base64
import binascii
import hashlib
import struct
import sys
import zlib

M = 0xFFFFFFFF


def records(path):
    data = open(path, "rb").read()
    pos = 0
    while pos < len(data):
        (n,) = struct.unpack_from("<I", data, pos)
        pos += 4
        yield data[pos:pos + n]
        pos += n


def key_from_password(password):
    return struct.unpack(">4I", hashlib.md5(password).digest())


def encipher(key, block):
    y, z = struct.unpack(">2I", block)
    s = 0
    for _ in range(32):
        s = (s + 0x9E3779B9) & M
        y = (y + (((z << 4) & M) + (z ^ key[0]) + ((z >> 5) ^ s) + key[1])) & M
        z = (z + (((y << 4) & M) + (key[2] ^ y) + ((y >> 5) ^ s) + key[3])) & M
    return struct.pack(">2I", y, z)


def chained_encipher(key, data):
    chain = b"\xff" * 8
    out = bytearray()
    full = len(data) // 8 * 8
    for i in range(0, full, 8):
        block = bytes(a ^ b for a, b in zip(data[i:i + 8], chain))
        chain = encipher(key, block)
        out += chain
    if len(data) > full:
        pad = encipher(key, chain)
        out += bytes(a ^ b for a, b in zip(data[full:], pad))
    return bytes(out)


def main():
    if sys.argv[1] == "digests":
        for buf in records(sys.argv[2]):
            b64 = base64.b64encode(buf).decode("ascii") or "-"
            print("%08x %04x %s %s" % (zlib.crc32(buf) & M, binascii.crc_hqx(buf, 0),
                                       hashlib.md5(buf).hexdigest(), b64))
    elif sys.argv[1] == "cipher":
        key = key_from_password(sys.argv[2].encode("latin-1"))
        for buf in records(sys.argv[3]):
            print(chained_encipher(key, buf).hex() or "-")


main()
