// The ABI of libMorvalaFrameworkUiWinPRT.so as an application sees it: the
// component's interfaces in slot order with their identities, the delegate
// type of the static event, and the full names of the three runtime classes.
// An application obtains a factory with RoGetActivationFactory (see
// platform/activation.h) and calls these interfaces through it.
//
// Identities: each interface and the delegate carries a name-based UUID
// (version 5, SHA-1) in the namespace 11f47ad5-7b73-42c0-abae-878b1e16adee,
// over the UTF-8 bytes of the type's full name in its class's namespace, e.g.
// "MorvalaFrameworkUiWinPRT.WinPRTUtils.__IUtilsStatics". The type metadata
// (MorvalaFrameworkUiWinPRT.idl) declares the same values.
//
// Ownership at this boundary: String arguments belong to the caller and are
// only read; String and object results pass one reference to the caller.
// Booleans are one byte (0 or 1). Every member returns a status code and, on
// failure, leaves its out-parameters at their zero values.
#pragma once

#include "platform/abi.h"

// The runtime's map of String to String and vector of String, defined by the
// collections layer (platform/collections.h).
struct IMap_String_String;
struct IVector_String;

namespace MorvalaFrameworkUiWinPRT {

// Full names of the runtime classes, as given to RoGetActivationFactory.
inline constexpr const char16_t* RuntimeClass_RegistryManager = u"MorvalaFrameworkUiWinPRT.RegistryManager";
inline constexpr const char16_t* RuntimeClass_RpcWrapper = u"MorvalaFrameworkUiWinPRT.RpcWrapper";
inline constexpr const char16_t* RuntimeClass_Utils = u"MorvalaFrameworkUiWinPRT.WinPRTUtils.Utils";

// Runtime class names of the three factories (GetRuntimeClassName).
inline constexpr const char16_t* FactoryClass_RegistryManager =
    u"MorvalaFrameworkUiWinPRT.__RegistryManagerActivationFactory";
inline constexpr const char16_t* FactoryClass_RpcWrapper = u"MorvalaFrameworkUiWinPRT.__RpcWrapperActivationFactory";
inline constexpr const char16_t* FactoryClass_Utils =
    u"MorvalaFrameworkUiWinPRT.WinPRTUtils.__UtilsActivationFactory";

// The handler type of RegistryManager's static event GPSLoggingSettingsChanged.
// Invoke receives the value that was passed to SetDisconnectionLoggingNeeded.
// A handler that answers RPC_E_DISCONNECTED is dropped from the event.
// MorvalaFrameworkUiWinPRT_delegates.h makes one around a C++ callable.
struct GPSLoggingSettingsCallback : IUnknown {
    // "MorvalaFrameworkUiWinPRT.GPSLoggingSettingsCallback"
    static constexpr IID IID_{0x12CD04F1, 0xA212, 0x5B84, {0x91, 0xCF, 0xF1, 0x09, 0x56, 0xDD, 0x79, 0x37}};
    virtual HRESULT Invoke(boolean value) = 0;
};

// Instance interface of RegistryManager (no members of its own); the one
// instance is the shared one that GetInstance hands out.
struct __IRegistryManagerPublicNonVirtuals : IInspectable {
    // "MorvalaFrameworkUiWinPRT.__IRegistryManagerPublicNonVirtuals"
    static constexpr IID IID_{0xC0BB7641, 0x079E, 0x5D2F, {0x95, 0xF4, 0xBF, 0xF0, 0x91, 0x1A, 0xEA, 0xAA}};
};

// Static members of RegistryManager, on its factory, in slot order.
struct __IRegistryManagerStatics : IInspectable {
    // "MorvalaFrameworkUiWinPRT.__IRegistryManagerStatics"
    static constexpr IID IID_{0xFDCE80B6, 0x5FE1, 0x523A, {0x93, 0xC4, 0x52, 0xC3, 0xE0, 0xE5, 0x84, 0x29}};

    // 0: writes the disconnection-logging flag and raises GPSLoggingSettingsChanged;
    //    *result is 1 when the registry write succeeded.
    virtual HRESULT SetDisconnectionLoggingNeeded(boolean value, boolean* result) = 0;
    // 1: every value of one device's key, keyed by value name (empty map when missing).
    virtual HRESULT GetDeviceValues(HSTRING deviceId, IMap_String_String** result) = 0;
    // 2: writes one text value under one device's key, creating the key.
    virtual HRESULT SetDeviceValue(HSTRING deviceId, HSTRING valueName, HSTRING value) = 0;
    // 3: writes one decimal text as a 32-bit number under the brightness key.
    virtual HRESULT SetBrightnessValue(HSTRING valueName, HSTRING value) = 0;
    // 4: names of all device keys.
    virtual HRESULT GetDeviceIds(IVector_String** result) = 0;
    // 5: one value under any key path of HKEY_LOCAL_MACHINE; *found 1 and its
    //    units, or *found 0 and "no key".
    virtual HRESULT GetRegistryValue(HSTRING keyPath, HSTRING valueName, INT32* found, HSTRING* result) = 0;
    // 6: the one shared RegistryManager instance, created on first use.
    virtual HRESULT GetInstance(__IRegistryManagerPublicNonVirtuals** result) = 0;
    // 7: removes one device's key with all its values and subkeys.
    virtual HRESULT DeleteDevice(HSTRING deviceId) = 0;
    // 8: 1 when the stored disconnection-logging flag is the number 1 (read as
    //    four little-endian bytes, whatever its type; longer data read as 0).
    virtual HRESULT GetDisconnectionLoggingNeeded(boolean* result) = 0;
    // 9: subscribes a handler to the static event GPSLoggingSettingsChanged.
    //    Every add is a registration of its own (one handler added twice is
    //    called twice per raise, under two tokens); a null handler answers
    //    E_INVALIDARG with token 0.
    virtual HRESULT add_GPSLoggingSettingsChanged(GPSLoggingSettingsCallback* handler,
                                                  EventRegistrationToken* token) = 0;
    // 10: unsubscribes the handler registered under token; a token that is
    //     not registered (never was, or no longer is) changes nothing.
    virtual HRESULT remove_GPSLoggingSettingsChanged(EventRegistrationToken token) = 0;
    // 11: writes the accessories Version text.
    virtual HRESULT SetAccessoriesVersion(HSTRING version) = 0;
    // 12: 1 when a device key of exactly that name is listed.
    virtual HRESULT DeviceExists(HSTRING deviceId, boolean* result) = 0;
};

// Instance members of RpcWrapper, in slot order. A service that cannot be
// reached gives the member's default result (false, "0.0.0.0" or nothing).
struct __IRpcWrapperPublicNonVirtuals : IInspectable {
    // "MorvalaFrameworkUiWinPRT.__IRpcWrapperPublicNonVirtuals"
    static constexpr IID IID_{0x2B5AA632, 0x99D0, 0x52F1, {0x8D, 0x18, 0xFE, 0xC0, 0x22, 0x10, 0xDB, 0xAE}};

    virtual HRESULT SendConnectionServiceText(HSTRING text) = 0;
    virtual HRESULT GetAccessoryServiceFlag(boolean* result) = 0;
    virtual HRESULT SendAccessoryServiceTexts(HSTRING first, HSTRING second, HSTRING third, boolean* result) = 0;
    virtual HRESULT SendConnectionServiceNonEmptyText(HSTRING text) = 0;
    virtual HRESULT CheckConnectionServiceText(HSTRING text, boolean* result) = 0;
    virtual HRESULT GetConnectionServiceText(HSTRING* result) = 0;
    virtual HRESULT GetAccessoryServiceText(HSTRING* result) = 0;
};

// RpcWrapper has no static members: its factory answers IActivationFactory only.

// Instance interface of Utils (no members of its own).
struct __IUtilsPublicNonVirtuals : IInspectable {
    // "MorvalaFrameworkUiWinPRT.WinPRTUtils.__IUtilsPublicNonVirtuals"
    static constexpr IID IID_{0xBDEE5889, 0xCA38, 0x5D8A, {0x83, 0xA8, 0xAF, 0xF2, 0x12, 0xC7, 0x21, 0x97}};
};

// Static members of Utils, on its factory.
struct __IUtilsStatics : IInspectable {
    // "MorvalaFrameworkUiWinPRT.WinPRTUtils.__IUtilsStatics"
    static constexpr IID IID_{0x0F60D2EE, 0x8627, 0x5EFA, {0x8C, 0x4B, 0xBC, 0xA4, 0x68, 0x9F, 0xBF, 0x40}};

    // Ends the process at once with exit code 0; does not return.
    virtual HRESULT ExitApplication() = 0;
};

}  // namespace MorvalaFrameworkUiWinPRT
