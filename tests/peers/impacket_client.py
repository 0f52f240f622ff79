#!/usr/bin/python3
"""An independent DCE/RPC client (python3-impacket) against our two service
daemons over TCP on 127.0.0.1: binds to each interface, calls every
procedure with hand-built NDR 2.0 request stubs and checks the raw response
stubs against the daemons' documented behaviour. Exit 0 when every check
passed, 1 otherwise (the failed check on stderr), 77 when impacket is
missing."""
import argparse
import struct
import sys

try:
    from impacket.dcerpc.v5 import transport
    from impacket.dcerpc.v5.rpcrt import DCERPCException
    from impacket.uuid import uuidtup_to_bin
except ImportError as error:
    print("impacket not available: %s" % error, file=sys.stderr)
    sys.exit(77)

CONNECTION = ('9a304fc8-42cd-40ce-b6f4-bfd48f1f93aa', '1.0')
ACCESSORY = ('bf9dc6fe-9b52-4853-8a12-5fb75155ab63', '1.0')


def pad4(data):
    return data + b'\0' * (-len(data) % 4)


def wstr(text):
    """A conformant varying string: MaxCount, Offset 0, ActualCount, units incl. NUL."""
    units = text.encode('utf-16-le') + b'\0\0'
    n = len(units) // 2
    return struct.pack('<III', n, 0, n) + units


def u32(value):
    return struct.pack('<I', value & 0xFFFFFFFF)


def request(*parts):
    """Concatenates parameters, aligning each 4-byte item to 4 from the stub start."""
    stub = b''
    for part in parts:
        stub = pad4(stub) + part
    return stub


class Reader:
    def __init__(self, stub):
        self.stub, self.at = stub, 0

    def u32(self):
        self.at += -self.at % 4
        value, = struct.unpack_from('<i', self.stub, self.at)
        self.at += 4
        return value

    def raw(self, n):
        data = self.stub[self.at:self.at + n]
        self.at += n
        return data

    def done(self):
        check(self.at == len(self.stub), 'stub has %d bytes, %d read' % (len(self.stub), self.at))


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def fnv1a(data):
    value = 2166136261
    for byte in data:
        value = ((value ^ byte) * 16777619) & 0xFFFFFFFF
    return struct.unpack('<i', struct.pack('<I', value))[0]


def connect(port, interface):
    rpc = transport.DCERPCTransportFactory('ncacn_ip_tcp:127.0.0.1[%d]' % port)
    dce = rpc.get_dce_rpc()
    dce.connect()
    dce.bind(uuidtup_to_bin(interface))
    return dce


def call(dce, opnum, stub):
    dce.call(opnum, stub)
    return Reader(dce.recv())


def connection_service(port, version):
    dce = connect(port, CONNECTION)
    r = call(dce, 0, request(wstr('alpha')))                       # SendText
    check(r.u32() == 1, 'SendText status'); r.done()
    block = bytes(range(0x10, 0x20))
    r = call(dce, 1, request(wstr('x'), u32(16) + block, u32(16)))  # Proc1
    check(r.u32() == 1, 'Proc1 status'); check(r.u32() == fnv1a(block), 'Proc1 checksum'); r.done()
    r = call(dce, 2, request(u32(3)))                               # Proc2, capacity 3
    n = r.u32(); data = r.raw(2 * n)
    check(n == 3 and data == 'alp'.encode('utf-16-le'), 'Proc2 buffer %r' % data)
    check(r.u32() == 3, 'Proc2 count'); check(r.u32() == 0, 'Proc2 status (cut)'); r.done()
    r = call(dce, 3, request(u32(300)))                             # GetText
    n = r.u32(); data = r.raw(n)
    check(data == version.encode('cp1252'), 'GetText bytes %r' % data)
    check(r.u32() == n, 'GetText count'); check(r.u32() == 1, 'GetText status'); r.done()
    r = call(dce, 5, request(wstr('echo'), u32(255)))               # Proc5
    n = r.u32(); data = r.raw(2 * n)
    check(data == 'echo'.encode('utf-16-le'), 'Proc5 buffer %r' % data)
    check(r.u32() == 4, 'Proc5 count'); check(r.u32() == 1, 'Proc5 status'); r.done()
    r = call(dce, 7, request(wstr('beta')))                         # Proc7
    check(r.u32() == 1, 'Proc7 status'); r.done()
    r = call(dce, 8, request(wstr('')))                             # SendNonEmptyText, empty
    check(r.u32() == 0, 'SendNonEmptyText status (empty)'); r.done()
    r = call(dce, 8, request(wstr('gamma')))
    check(r.u32() == 1, 'SendNonEmptyText status'); r.done()
    r = call(dce, 4, b'')                                           # Proc4: texts stored
    check(r.u32() == 3, 'Proc4 count of texts'); r.done()
    r = call(dce, 6, b'')                                           # Proc6: calls served
    check(r.u32() == 10, 'Proc6 count of calls'); r.done()
    for text, known in (('alpha', 1), ('beta', 1), ('gamma', 1), ('delta', 0)):
        r = call(dce, 9, request(wstr(text)))                       # CheckText
        check(r.u32() == 1, 'CheckText status'); check(r.u32() == known, 'CheckText %s' % text); r.done()
    try:
        call(dce, 10, b'')
        check(False, 'procedure 10 answered')
    except DCERPCException as error:
        check('op_rng_error' in str(error), 'procedure 10 fault: %s' % error)
    dce.disconnect()


def accessory_service(port, flag, version):
    dce = connect(port, ACCESSORY)
    r = call(dce, 0, request(wstr('a'), wstr(''), u32(5), u32(7)))  # Proc0: empty response
    r.done()
    r = call(dce, 1, b'')                                            # GetFlag
    check(r.u32() == flag, 'GetFlag'); r.done()
    r = call(dce, 2, request(wstr('a'), wstr('b'), wstr('c')))       # SendTexts
    check(r.u32() == 1, 'SendTexts status'); r.done()
    r = call(dce, 2, request(wstr(''), wstr(''), wstr('')))
    check(r.u32() == 0, 'SendTexts status (empty)'); r.done()
    r = call(dce, 3, request(u32(4)))                                # GetText, capacity 4
    n = r.u32(); data = r.raw(n)
    check(data == version.encode('cp1252')[:4], 'GetText bytes %r' % data)
    check(r.u32() == n, 'GetText count'); check(r.u32() == 1, 'GetText status'); r.done()
    dce.disconnect()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--connection-port', type=int, required=True)
    parser.add_argument('--accessory-port', type=int, required=True)
    parser.add_argument('--flag', type=int, default=1)
    parser.add_argument('--connection-version', default='10.0.2.1')
    parser.add_argument('--accessory-version', default='2.4.0.7')
    args = parser.parse_args()
    try:
        connection_service(args.connection_port, args.connection_version)
        accessory_service(args.accessory_port, args.flag, args.accessory_version)
    except (AssertionError, DCERPCException, OSError) as error:
        print('FAILED: %s' % error, file=sys.stderr)
        return 1
    print('impacket client: 14 procedures checked on both services')
    return 0


if __name__ == '__main__':
    sys.exit(main())
