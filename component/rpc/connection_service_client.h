// The client of the connection service (interface
// 9a304fc8-42cd-40ce-b6f4-bfd48f1f93aa v1.0): one operation per procedure, in
// procedure order, each binding lazily and making one synchronous call.
#pragma once

#include "platform/rpc.h"
#include "platform/types.h"

// The connection service's procedures as operations; operation k calls
// procedure k. Texts are NUL-terminated UTF-16, outputs and buffers belong to
// the caller. Not destroyed through this interface (no virtual destructor).
struct IMorCgSvcRpc {
    virtual void SendText(const WCHAR* text, LONG* status) = 0;
    virtual LONG Proc1(const WCHAR* text, const BYTE* block16, LONG* status) = 0;
    virtual void Proc2(WCHAR* buffer, ULONG* count, LONG* status) = 0;
    virtual void GetText(char* buffer, ULONG* count, LONG* status) = 0;
    virtual void Proc4(LONG* value) = 0;
    virtual void Proc5(const WCHAR* text, WCHAR* buffer, ULONG* count, LONG* status) = 0;
    virtual void Proc6(LONG* value) = 0;
    virtual void Proc7(const WCHAR* text, LONG* status) = 0;
    virtual void SendNonEmptyText(const WCHAR* text, LONG* status) = 0;
    virtual LONG CheckText(const WCHAR* text, LONG* status) = 0;
};

// Owns at most one binding to the connection service, made at the first
// operation and freed by the destructor. Every operation first sets its last
// output-only 32-bit value to 0; when the service cannot be reached it returns
// without a call, leaving that 0 (and 0 as result). A failure after the bind
// (peer gone, timeout, fault, malformed reply) propagates as the
// platform::RpcException that NdrClientCall2 throws. One thread at a time.
class CMorCgSvcRpc : public IMorCgSvcRpc {
public:
    CMorCgSvcRpc() noexcept = default;
    ~CMorCgSvcRpc();
    CMorCgSvcRpc(const CMorCgSvcRpc&) = delete;
    CMorCgSvcRpc& operator=(const CMorCgSvcRpc&) = delete;

    // Status 1.. as the service answers; the text must not be null.
    void SendText(const WCHAR* text, LONG* status) override;
    // Sends the text and the 16 bytes at block16 (always length 16); returns
    // the service's value, 0 when unbound.
    LONG Proc1(const WCHAR* text, const BYTE* block16, LONG* status) override;
    // count: capacity of buffer in units on entry, units returned on exit.
    void Proc2(WCHAR* buffer, ULONG* count, LONG* status) override;
    // count: capacity of buffer in bytes on entry, bytes returned on exit.
    void GetText(char* buffer, ULONG* count, LONG* status) override;
    void Proc4(LONG* value) override;
    void Proc5(const WCHAR* text, WCHAR* buffer, ULONG* count, LONG* status) override;
    void Proc6(LONG* value) override;
    void Proc7(const WCHAR* text, LONG* status) override;
    // A null or empty text is refused before any binding: no call, status 0.
    void SendNonEmptyText(const WCHAR* text, LONG* status) override;
    // A null or empty text is refused before any binding and gives 0; else
    // the service's value, 0 when unbound.
    LONG CheckText(const WCHAR* text, LONG* status) override;

    // Makes the binding when there is none yet; leaves m_hBinding null when
    // the service cannot be reached. Reports nothing.
    void Bind();

    RPC_BINDING_HANDLE m_hBinding = nullptr;

private:
    // Calls procedure `opnum` with the binding and the arguments; its result.
    template <typename... Args>
    LONG Call(unsigned opnum, Args... args);
};
