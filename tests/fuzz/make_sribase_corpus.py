#!/usr/bin/env python3
"""Writes the seed files of fuzz_sribase into corpus/fuzz_sribase.

Each seed is one or more property records as SriBase::Save writes them:
u32 body length, then per field u32 key length, key, u8 type tag,
u32 payload length, payload; all integers little-endian. The keys are those
of the fuzz target's record. Run once after a change of the encoding.
"""
import os
import struct

BOOL, CHAR, INT8, UINT8, INT16, UINT16, INT32, UINT32, INT64, UINT64 = range(1, 11)
FLOAT, DOUBLE, POINTF, GDIPOINTF, RECTF, GUID, WSTRING, STRING, TIME, RECORD, RAW = range(11, 22)
VEC = 0x40


def u32(v):
    return struct.pack('<I', v)


def field(key, tag, payload):
    k = key.encode('utf-8')
    return u32(len(k)) + k + bytes([tag]) + u32(len(payload)) + payload


def record(*fields):
    body = b''.join(fields)
    return u32(len(body)) + body


def wstr(text):
    units = text.encode('utf-16-le')
    return u32(len(units) // 2) + units


def nested(rec):
    return u32(len(rec)) + rec


def vec(items):
    return u32(len(items)) + b''.join(items)


def point(x, y):
    return struct.pack('<ff', x, y)


def leaf(n, name, kids=()):
    return record(field('n', INT32, struct.pack('<i', n)),
                  field('name', WSTRING, wstr(name)),
                  field('at', POINTF, point(1.5, -2.0)),
                  field('kids', RECORD + VEC, vec([nested(k) for k in kids])))


def seeds():
    everything = record(
        field('b', BOOL, b'\x01'),
        field('c', CHAR, b'z'),
        field('i8', INT8, b'\x80'),
        field('u16', UINT16, struct.pack('<H', 65535)),
        field('i32', INT32, struct.pack('<i', -7)),
        field('u64', UINT64, struct.pack('<Q', 2**63)),
        field('f', FLOAT, struct.pack('<f', 0.25)),
        field('d', DOUBLE, struct.pack('<d', -1e300)),
        field('pt', POINTF, point(3, 4)),
        field('gp', GDIPOINTF, point(5, 6)),
        field('rc', RECTF, struct.pack('<ffff', 0, 10, 20, 10)),
        field('guid', GUID, bytes(range(16))),
        field('time', TIME, struct.pack('<q', 1700000000)),
        field('ws', WSTRING, wstr('caf\u00e9 \U0001F600')),
        field('s', STRING, u32(3) + b'abc'),
        field('leaf', RECORD, nested(leaf(1, 'one', [leaf(2, 'two')]))),
        field('raw', RAW, bytes(range(12))),
        field('vb', BOOL + VEC, vec([b'\x01', b'\x00'])),
        field('vi', INT32 + VEC, vec([struct.pack('<i', v) for v in (1, 2, 3)])),
        field('vvpt', POINTF + 2 * VEC, vec([vec([point(0, 0), point(1, 1)]), vec([])])),
        field('vvu8', UINT8 + 2 * VEC, vec([vec([b'\x01', b'\x02']), vec([b'\xff'])])),
        field('vws', WSTRING + VEC, vec([wstr(''), wstr('\U0010FFFF')])),
        field('leaves', RECORD + VEC, vec([nested(leaf(3, 'a')), nested(leaf(4, 'b'))])),
        field('i32', INT32, struct.pack('<i', 99)),
    )
    odd = record(
        field('unknown', STRING, u32(2) + b'hi'),
        field('i32', DOUBLE, struct.pack('<d', 1.0)),   # mistyped
        field('vi', INT32 + VEC, u32(0xFFFFFFFF)),       # hostile count
        field('ws', WSTRING, u32(1) + b'\x00\xd8'),       # lone surrogate
        field('raw', RAW, b'\x01\x02'),                   # shorter block
    )
    return {
        'empty': record(),
        'everything': everything,
        'two_records': everything + leaf(5, 'x'),
        'odd_fields': odd,
        'truncated': everything[:len(everything) // 2],
    }


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus', 'fuzz_sribase')
    os.makedirs(out, exist_ok=True)
    for name, data in seeds().items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
