#!/usr/bin/python3
"""A second host of the component, in Python with ctypes only.

Loads libmorvala_runtime.so, asks the loader for the activation factory of
MorvalaFrameworkUiWinPRT.RegistryManager (RoGetActivationFactory with a
String made by WindowsCreateString, as any application does), calls the
static member GetRegistryValue through the factory's vtable and prints what it
answered:

    found: 1
    value: 2.4.0.7

usage: morvala_ctypes.py [--runtime LIB] [--component LIB] KEYPATH NAME

The component comes from --component (registered with the loader), else from
the manifest named by MORVALA_MANIFEST, else from the build folder's lib/.
The device root is MORVALA_ROOT, as for every host. Exit codes: 0 the member
answered, 1 a call answered a failure status, 2 bad usage.
"""
import argparse
import ctypes
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_LIB = os.path.join(HERE, "..", "..", "build", "lib")
CLASS_NAME = "MorvalaFrameworkUiWinPRT.RegistryManager"
CLASS_NAMES = [CLASS_NAME, "MorvalaFrameworkUiWinPRT.RpcWrapper", "MorvalaFrameworkUiWinPRT.WinPRTUtils.Utils"]

# IInspectable has six slots (QueryInterface, AddRef, Release, GetIids,
# GetRuntimeClassName, GetTrustLevel); the statics follow in slot order.
SLOT_RELEASE = 2
SLOT_GET_REGISTRY_VALUE = 6 + 5

HSTRING = ctypes.c_void_p
HRESULT = ctypes.c_int32


class GUID(ctypes.Structure):
    _fields_ = [("Data1", ctypes.c_uint32), ("Data2", ctypes.c_uint16), ("Data3", ctypes.c_uint16),
                ("Data4", ctypes.c_uint8 * 8)]


def make_guid(d1, d2, d3, d4):
    return GUID(d1, d2, d3, (ctypes.c_uint8 * 8)(*d4))


# __IRegistryManagerStatics
IID_STATICS = make_guid(0xFDCE80B6, 0x5FE1, 0x523A, [0x93, 0xC4, 0x52, 0xC3, 0xE0, 0xE5, 0x84, 0x29])


class CallFailed(Exception):
    pass


def check(status, what):
    if status < 0:
        raise CallFailed("%s answered 0x%08X" % (what, status & 0xFFFFFFFF))


class Runtime:
    """The loader and String functions of libmorvala_runtime.so."""

    def __init__(self, path):
        lib = ctypes.CDLL(path)
        lib.WindowsCreateString.argtypes = [ctypes.c_void_p, ctypes.c_uint32, ctypes.POINTER(HSTRING)]
        lib.WindowsCreateString.restype = HRESULT
        lib.WindowsDeleteString.argtypes = [HSTRING]
        lib.WindowsDeleteString.restype = HRESULT
        lib.WindowsGetStringRawBuffer.argtypes = [HSTRING, ctypes.POINTER(ctypes.c_uint32)]
        lib.WindowsGetStringRawBuffer.restype = ctypes.POINTER(ctypes.c_uint16)
        lib.RoGetActivationFactory.argtypes = [HSTRING, ctypes.POINTER(GUID), ctypes.POINTER(ctypes.c_void_p)]
        lib.RoGetActivationFactory.restype = HRESULT
        lib.RoRegisterActivatableClass.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        lib.RoRegisterActivatableClass.restype = HRESULT
        self.lib = lib

    def string(self, text):
        """A new String handle holding text; the caller deletes it."""
        data = text.encode("utf-16-le")
        units = len(data) // 2
        buffer = ctypes.create_string_buffer(data, len(data) + 2)
        handle = HSTRING()
        check(self.lib.WindowsCreateString(buffer, units, ctypes.byref(handle)), "WindowsCreateString")
        return handle

    def units(self, handle):
        """All UTF-16 units of a String, as a Python string (surrogates kept)."""
        length = ctypes.c_uint32()
        raw = self.lib.WindowsGetStringRawBuffer(handle, ctypes.byref(length))
        return "".join(chr(raw[i]) for i in range(length.value))


def method(pointer, slot, restype, *argtypes):
    """The function in vtable slot `slot` of the object at `pointer`."""
    vtable = ctypes.cast(pointer, ctypes.POINTER(ctypes.POINTER(ctypes.c_void_p)))[0]
    return ctypes.CFUNCTYPE(restype, ctypes.c_void_p, *argtypes)(vtable[slot])


def printable(text):
    out = []
    for ch in text:
        code = ord(ch)
        out.append("\\u%04X" % code if code < 0x20 or code == 0x7F or 0xD800 <= code <= 0xDFFF else ch)
    return "".join(out)


def get_registry_value(runtime, key_path, name):
    class_id = runtime.string(CLASS_NAME)
    factory = ctypes.c_void_p()
    try:
        check(runtime.lib.RoGetActivationFactory(class_id, ctypes.byref(IID_STATICS), ctypes.byref(factory)),
              "RoGetActivationFactory")
    finally:
        runtime.lib.WindowsDeleteString(class_id)
    key = runtime.string(key_path)
    value_name = runtime.string(name)
    found = ctypes.c_int32()
    result = HSTRING()
    try:
        call = method(factory, SLOT_GET_REGISTRY_VALUE, HRESULT, HSTRING, HSTRING, ctypes.POINTER(ctypes.c_int32),
                      ctypes.POINTER(HSTRING))
        check(call(factory, key, value_name, ctypes.byref(found), ctypes.byref(result)), "GetRegistryValue")
        return found.value, runtime.units(result)
    finally:
        runtime.lib.WindowsDeleteString(result)
        runtime.lib.WindowsDeleteString(key)
        runtime.lib.WindowsDeleteString(value_name)
        method(factory, SLOT_RELEASE, ctypes.c_uint32)(factory)


def main():
    parser = argparse.ArgumentParser(description="Read one registry value through the component, from Python.")
    parser.add_argument("--runtime", default=os.path.join(DEFAULT_LIB, "libmorvala_runtime.so"))
    parser.add_argument("--component", help="libMorvalaFrameworkUiWinPRT.so to register with the loader")
    parser.add_argument("keypath", help="key path below HKEY_LOCAL_MACHINE")
    parser.add_argument("name", help="value name (empty: the default value)")
    args = parser.parse_args()

    runtime = Runtime(args.runtime)
    component = args.component
    if component is None and not os.environ.get("MORVALA_MANIFEST"):
        component = os.path.join(os.path.dirname(args.runtime), "libMorvalaFrameworkUiWinPRT.so")
    if component is not None:
        for class_name in CLASS_NAMES:
            check(runtime.lib.RoRegisterActivatableClass(class_name.encode(), os.path.abspath(component).encode()),
                  "RoRegisterActivatableClass")
    try:
        found, value = get_registry_value(runtime, args.keypath, args.name)
    except CallFailed as failure:
        print("morvala_ctypes: %s" % failure, file=sys.stderr)
        return 1
    print("found: %d" % found)
    print("value: %s" % printable(value))
    return 0


if __name__ == "__main__":
    sys.exit(main())
