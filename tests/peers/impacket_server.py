#!/usr/bin/python3
"""An independent DCE/RPC server (python3-impacket DCERPCServer) serving both
interfaces over TCP on 127.0.0.1 with fixed answers, for testing our client.
Prints "listening <port>" once it accepts, then serves until its stdin
closes. Exit 77 when impacket is missing.

Answers: connection 0 SendText status 1; 1 Proc1 status = block length,
returns the byte sum; 3 GetText "abcdefghi" status 1; 9 CheckText status 5,
returns 1 for "known" else 2. Accessory 0 Proc0 nothing; 1 GetFlag 7;
2 SendTexts status 1 when all three texts are non-empty; 3 GetText "2.0"
status 1. Every received text is printed as "text <opnum> <value>"."""
import struct
import sys

try:
    from impacket.dcerpc.v5.rpcrt import DCERPCServer
except ImportError as error:
    print("impacket not available: %s" % error, file=sys.stderr)
    sys.exit(77)

CONNECTION = ('9a304fc8-42cd-40ce-b6f4-bfd48f1f93aa', '1.0')
ACCESSORY = ('bf9dc6fe-9b52-4853-8a12-5fb75155ab63', '1.0')


def read_texts(stub, count):
    """Reads `count` conformant varying strings from the start of a request stub."""
    texts, at = [], 0
    for _ in range(count):
        at += -at % 4
        maximum, offset, actual = struct.unpack_from('<III', stub, at)
        at += 12
        units = stub[at:at + 2 * actual]
        at += 2 * actual
        assert offset == 0 and actual <= maximum and units[-2:] == b'\0\0', 'bad string'
        texts.append(units[:-2].decode('utf-16-le'))
    return texts, at


def log_texts(opnum, texts):
    for text in texts:
        print('text %d %s' % (opnum, text), flush=True)


def send_text(stub):
    texts, _ = read_texts(stub, 1)
    log_texts(0, texts)
    return struct.pack('<i', 1)


def proc1(stub):
    texts, at = read_texts(stub, 1)
    log_texts(1, texts)
    at += -at % 4
    length, = struct.unpack_from('<I', stub, at)
    block = stub[at + 4:at + 4 + length]
    return struct.pack('<ii', len(block), sum(block))


def get_text(answer):
    def handler(stub):
        capacity, = struct.unpack_from('<I', stub, 0)
        data = answer[:capacity]
        return struct.pack('<I', len(data)) + data + b'\0' * (-len(data) % 4) + struct.pack('<Ii', len(data), 1)
    return handler


def check_text(stub):
    texts, _ = read_texts(stub, 1)
    log_texts(9, texts)
    return struct.pack('<ii', 5, 1 if texts[0] == 'known' else 2)


def proc0(stub):
    texts, _ = read_texts(stub, 2)
    log_texts(0, texts)
    return b''


def send_texts(stub):
    texts, _ = read_texts(stub, 3)
    log_texts(2, texts)
    return struct.pack('<i', 1 if all(texts) else 0)


def main():
    server = DCERPCServer()
    server.addCallbacks(CONNECTION, 'connection', {0: send_text, 1: proc1, 3: get_text(b'abcdefghi'), 9: check_text})
    server.addCallbacks(ACCESSORY, 'accessory', {0: proc0, 1: lambda stub: struct.pack('<i', 7),
                                                 2: send_texts, 3: get_text(b'2.0')})
    server.daemon = True
    server.start()
    print('listening %d' % server.getListenPort(), flush=True)
    sys.stdin.read()
    return 0


if __name__ == '__main__':
    sys.exit(main())
