// ABI of the platform's object interfaces. Each interface is a struct of pure
// virtual functions in the platform's slot order, with no virtual destructor,
// so that its vtable is the platform's. Each carries its identity as IID.
#pragma once

#include "platform/types.h"

struct IUnknown {
    static constexpr IID IID_{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

struct IInspectable : IUnknown {
    static constexpr IID IID_{0xAF86E2E0, 0xB12D, 0x4C6A, {0x9C, 0x5A, 0xD7, 0xAA, 0x65, 0x10, 0x1E, 0x90}};
    // Interface list in a block that the caller frees with CoTaskMemFree.
    virtual HRESULT GetIids(ULONG* count, IID** iids) = 0;
    virtual HRESULT GetRuntimeClassName(HSTRING* className) = 0;
    virtual HRESULT GetTrustLevel(TrustLevel* trustLevel) = 0;
};

struct IActivationFactory : IInspectable {
    static constexpr IID IID_{0x00000035, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    virtual HRESULT ActivateInstance(IInspectable** instance) = 0;
};

struct IWeakReference : IUnknown {
    static constexpr IID IID_{0x00000037, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    // S_OK with the object queried for riid while it lives; S_OK with null after.
    virtual HRESULT Resolve(REFIID riid, IInspectable** objectReference) = 0;
};

struct IWeakReferenceSource : IUnknown {
    static constexpr IID IID_{0x00000038, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    virtual HRESULT GetWeakReference(IWeakReference** weakReference) = 0;
};

// Marker: the object may be called directly from any thread.
struct IAgileObject : IUnknown {
    static constexpr IID IID_{0x94EA2B94, 0xE9CC, 0x49E0, {0xC0, 0xFF, 0xEE, 0x64, 0xCA, 0x8F, 0x5B, 0x90}};
};

struct STATSTG {
    WCHAR* pwcsName;
    DWORD type;
    uint64_t cbSize;
    FILETIME mtime;
    FILETIME ctime;
    FILETIME atime;
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
};

struct ISequentialStream : IUnknown {
    static constexpr IID IID_{0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT Read(void* buffer, ULONG size, ULONG* read) = 0;
    virtual HRESULT Write(const void* buffer, ULONG size, ULONG* written) = 0;
};

struct IStream : ISequentialStream {
    static constexpr IID IID_{0x0000000C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    virtual HRESULT Seek(int64_t move, DWORD origin, uint64_t* newPosition) = 0;
    virtual HRESULT SetSize(uint64_t newSize) = 0;
    virtual HRESULT CopyTo(IStream* target, uint64_t size, uint64_t* read, uint64_t* written) = 0;
    virtual HRESULT Commit(DWORD flags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(uint64_t offset, uint64_t size, DWORD lockType) = 0;
    virtual HRESULT UnlockRegion(uint64_t offset, uint64_t size, DWORD lockType) = 0;
    virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;
    virtual HRESULT Clone(IStream** clone) = 0;
};

struct IMarshal : IUnknown {
    static constexpr IID IID_{0x00000003, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    virtual HRESULT GetUnmarshalClass(REFIID riid, void* pv, DWORD destContext, void* destContextData,
                                      DWORD flags, CLSID* clsid) = 0;
    virtual HRESULT GetMarshalSizeMax(REFIID riid, void* pv, DWORD destContext, void* destContextData,
                                      DWORD flags, DWORD* size) = 0;
    virtual HRESULT MarshalInterface(IStream* stream, REFIID riid, void* pv, DWORD destContext,
                                     void* destContextData, DWORD flags) = 0;
    virtual HRESULT UnmarshalInterface(IStream* stream, REFIID riid, void** pv) = 0;
    virtual HRESULT ReleaseMarshalData(IStream* stream) = 0;
    virtual HRESULT DisconnectObject(DWORD reserved) = 0;
};

// Marshal context and flags used by in-process marshalling.
constexpr DWORD MSHCTX_INPROC = 3;
constexpr DWORD MSHLFLAGS_NORMAL = 0;

// The identity of an ABI interface type.
template <typename Interface>
constexpr const IID& IidOf() noexcept { return Interface::IID_; }
