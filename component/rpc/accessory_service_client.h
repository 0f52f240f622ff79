// The client of the accessory service (interface
// bf9dc6fe-9b52-4853-8a12-5fb75155ab63 v1.0): one operation per procedure, in
// procedure order, each binding lazily and making one synchronous call.
#pragma once

#include "platform/rpc.h"
#include "platform/types.h"

// The accessory service's procedures as operations; operation k calls
// procedure k. Not destroyed through this interface (no virtual destructor).
struct IMorvalaAccObaRpc {
    virtual void Proc0(const WCHAR* first, const WCHAR* second, ULONG firstValue, ULONG secondValue) = 0;
    virtual void GetFlag(LONG* value) = 0;
    virtual void SendTexts(const WCHAR* first, const WCHAR* second, const WCHAR* third, LONG* status) = 0;
    virtual void GetText(char* buffer, ULONG* count, LONG* status) = 0;
};

// Owns at most one binding to the accessory service, made at the first
// operation and freed by the destructor. The operations preset nothing: when
// the service cannot be reached they return without a call and every output
// keeps what the caller put there. A failure after the bind propagates as the
// platform::RpcException that NdrClientCall2 throws. One thread at a time.
class CMorvalaAccObaRpc : public IMorvalaAccObaRpc {
public:
    CMorvalaAccObaRpc() noexcept = default;
    ~CMorvalaAccObaRpc();
    CMorvalaAccObaRpc(const CMorvalaAccObaRpc&) = delete;
    CMorvalaAccObaRpc& operator=(const CMorvalaAccObaRpc&) = delete;

    // Texts must not be null (empty is fine).
    void Proc0(const WCHAR* first, const WCHAR* second, ULONG firstValue, ULONG secondValue) override;
    void GetFlag(LONG* value) override;
    void SendTexts(const WCHAR* first, const WCHAR* second, const WCHAR* third, LONG* status) override;
    // count: capacity of buffer in bytes on entry, bytes returned on exit.
    void GetText(char* buffer, ULONG* count, LONG* status) override;

    // Makes the binding when there is none yet; leaves m_hBinding null when
    // the service cannot be reached. Reports nothing.
    void Bind();

    RPC_BINDING_HANDLE m_hBinding = nullptr;

private:
    template <typename... Args>
    void Call(unsigned opnum, Args... args);
};
