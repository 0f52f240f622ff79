#!/usr/bin/env python3
"""Writes the seed corpora in corpus/<target>/: the wire examples of the
format notes (whole PDUs and stubs) and small valid inputs for every
procedure of both interfaces. Run again after a change of a target's input
layout; the files are committed."""
import os
import struct
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))

CONN = uuid.UUID("9a304fc8-42cd-40ce-b6f4-bfd48f1f93aa").bytes_le + struct.pack("<HH", 1, 0)
ACC = uuid.UUID("bf9dc6fe-9b52-4853-8a12-5fb75155ab63").bytes_le + struct.pack("<HH", 1, 0)
NDR = uuid.UUID("8a885d04-1ceb-11c9-9fe8-08002b104860").bytes_le + struct.pack("<HH", 2, 0)
NDR64 = uuid.UUID("71710533-beba-4937-8319-b5dbef9ccc36").bytes_le + struct.pack("<HH", 1, 0)
FEATURES = bytes.fromhex("2c1cb76c12984045030000000000000001000000")


def pad4(b):
    return b + b"\0" * (-len(b) % 4)


def wstr(text):
    units = len(text) + 1
    return struct.pack("<III", units, 0, units) + text.encode("utf-16-le") + b"\0\0"


def u32(v):
    return struct.pack("<I", v)


def pdu(ptype, body, call_id=1, flags=3):
    return struct.pack("<BBBB4sHHI", 5, 0, ptype, flags, b"\x10\0\0\0", 16 + len(body), 0, call_id) + body


def bind(contexts, ptype=11, frag=5840):
    body = struct.pack("<HHIB3x", frag, frag, 0, len(contexts))
    for cid, abstract, transfers in contexts:
        body += struct.pack("<HBx", cid, len(transfers)) + abstract + b"".join(transfers)
    return pdu(ptype, body)


def request(opnum, stub, ctx=0, call_id=2, flags=3, obj=None):
    body = struct.pack("<IHH", len(stub), ctx, opnum) + (obj or b"") + stub
    return pdu(0, body, call_id, flags | (0x80 if obj else 0))


def response(stub, call_id=2):
    return pdu(2, struct.pack("<IHBx", len(stub), 0, 0) + stub, call_id)


# Request stubs (server side) and response stubs (client side) of every
# procedure: connection service 0..9, accessory service 0..3.
REQUESTS = [
    wstr("hello"),
    pad4(wstr("x")) + u32(16) + bytes(range(16)) + u32(16),
    u32(300),
    u32(300),
    b"",
    pad4(wstr("k")) + u32(255),
    b"",
    wstr("seven"),
    wstr("non-empty"),
    wstr("ab"),
    pad4(wstr("a")) + pad4(wstr("")) + u32(5) + u32(7),
    b"",
    pad4(wstr("")) + pad4(wstr("")) + wstr(""),
    u32(300),
]
# (capacities for each count, response stub)
RESPONSES = [
    ([], u32(0)),
    ([], u32(0) + u32(1)),
    ([8], u32(3) + "hi\0".encode("utf-16-le") + b"\0\0" + u32(3) + u32(1)),
    ([300], pad4(u32(9) + b"abcdefghi") + u32(9) + u32(1)),
    ([], u32(42)),
    ([255], pad4(u32(3) + "hi\0".encode("utf-16-le")) + u32(3) + u32(1)),
    ([], u32(1)),
    ([], u32(0)),
    ([], u32(0)),
    ([], u32(0) + u32(1)),
    ([], b""),
    ([], u32(1)),
    ([], u32(1)),
    ([16], pad4(u32(7) + b"1.2.3.4") + u32(7) + u32(0)),
]


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    golden_bind = bytes.fromhex(
        "05000b03100000004800000001000000b810b810000000000100000000000100"
        "c84f309acd42ce40b6f4bfd48f1f93aa01000000045d888aeb1cc9119fe808002b10486002000000")
    golden_ack_tcp = bytes.fromhex(
        "05000c03100000003c00000001000000b810b810f053000005003535353500000100000000000000"
        "045d888aeb1cc9119fe808002b10486002000000")
    golden_ack_lrpc = bytes.fromhex(
        "05000c03100000004000000001000000b810b810f05300000800434f4e4e5356430000000100000000000000"
        "045d888aeb1cc9119fe808002b10486002000000")
    fault = pdu(3, struct.pack("<IHBBII", 24, 0, 0, 0, 0x1c010002, 0), 2, 0x23)
    bind_nak = pdu(13, struct.pack("<HBBB3x", 4, 1, 5, 0))

    # rpc_pdu: one whole PDU each.
    pdus = {
        "bind_golden": golden_bind,
        "bind_ack_tcp_golden": golden_ack_tcp,
        "bind_ack_lrpc_golden": golden_ack_lrpc,
        "bind_two_contexts": bind([(0, CONN, [NDR, NDR64]), (1, CONN, [FEATURES])]),
        "alter_context": bind([(1, ACC, [NDR])], ptype=14),
        "bind_nak": bind_nak,
        "request_check_text": request(9, REQUESTS[9]),
        "request_object_uuid": request(0, REQUESTS[0], obj=bytes(range(16))),
        "response_get_text": response(RESPONSES[3][1]),
        "fault_op_range": fault,
    }
    for name, data in pdus.items():
        write("rpc_pdu", name, data)

    # rpc_server_request and rpc_client_response: procedure byte, then input.
    for k, stub in enumerate(REQUESTS):
        write("rpc_server_request", "proc_%02d" % k, bytes([k]) + stub)
    for k, (capacities, stub) in enumerate(RESPONSES):
        write("rpc_client_response", "proc_%02d" % k,
              bytes([k]) + b"".join(struct.pack("<H", c) for c in capacities) + stub)

    # rpc_server: prefix choice (1 connection, 2 accessory, 3 both), then PDUs.
    for k, stub in enumerate(REQUESTS[:10]):
        write("rpc_server", "conn_proc_%02d" % k, b"\x01" + request(k, stub))
    for k, stub in enumerate(REQUESTS[10:]):
        write("rpc_server", "acc_proc_%02d" % k, b"\x02" + request(k, stub))
    write("rpc_server", "both_contexts", b"\x03" + request(9, REQUESTS[9]) + request(3, REQUESTS[13], ctx=1, call_id=3))
    write("rpc_server", "raw_golden_bind", b"\x00" + golden_bind + request(9, REQUESTS[9]))
    stub = REQUESTS[1]
    write("rpc_server", "two_fragments",
          b"\x01" + request(1, stub[:16], flags=1) + request(1, stub[16:], flags=2))
    write("rpc_server", "alter_then_call",
          b"\x01" + bind([(1, ACC, [NDR])], ptype=14) + request(2, REQUESTS[12], ctx=1))
    # 242 contexts without transfer syntaxes: a bind that fits a fragment
    # whose bind_ack would not (the server must refuse it with bind_nak).
    write("rpc_server", "many_contexts", b"\x00" + bind([(k, ACC, []) for k in range(242)]))
    write("rpc_server", "over_capacity", b"\x01" + request(3, u32(3)) + request(5, pad4(wstr("over")) + u32(3)))

    # reg_import: small valid files.
    write("reg_import", "keys_and_values", b"""Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\Software\\OEM]
"Name"="text with \\"quotes\\" and \\\\ backslash"
@="default"
"Count"=dword:0000002a
"Blob"=hex:01,02,ff
"Raw"=hex(1):41,00
"Multi"=hex(7):61,00,00,00,00,00
"Big"=hex(b):01,00,00,00,00,00,00,00
"Long"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,\\
  10,11,12
; comment
[-HKEY_LOCAL_MACHINE\\Software\\Old]
[HKEY_LOCAL_MACHINE\\Software\\OEM\\Sub]
"Gone"=-
"Escapes"="\\u00e9\\n\\r\\ud800"
""")
    write("reg_import", "header_only", b"Windows Registry Editor Version 5.00\r\n")
    write("reg_import", "hive_root", b"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE]\n\"A\"=\"b\"\n")

    # registry_paths: FuzzedDataProvider programs (any bytes are valid).
    write("registry_paths", "create_set_query", bytes([0, 2, 3, 0, 1, 4, 2, 2, 5, 2, 0, 1, 4, 1, 2, 3, 4, 5, 6]))
    write("registry_paths", "limits", bytes([1, 1, 0, 4, 2, 1, 2, 3, 1, 1, 1, 0, 0, 4, 0, 1]))
    write("registry_paths", "separators", bytes([0, 4, 4, 4, 6, 5, 1, 2, 3, 4, 4, 4, 0, 2, 2, 0, 1]))


if __name__ == "__main__":
    main()
