#include "connection_service_client.h"

#include "contracts/connection_service.h"
#include "secure_binding.h"

namespace {

// The length of the block that Proc1 always sends.
constexpr unsigned int kProc1BlockLength = 16;

bool IsNullOrEmpty(const WCHAR* text) { return text == nullptr || text[0] == u'\0'; }

}  // namespace

CMorCgSvcRpc::~CMorCgSvcRpc() {
    if (m_hBinding != nullptr) RpcBindingFree(&m_hBinding);
    m_hBinding = nullptr;
}

void CMorCgSvcRpc::Bind() {
    if (m_hBinding != nullptr) return;
    m_hBinding = morvala::rpc::CreateSecureBinding(contracts::ConnectionServiceIfHandle());
}

template <typename... Args>
LONG CMorCgSvcRpc::Call(unsigned opnum, Args... args) {
    CLIENT_CALL_RETURN result = NdrClientCall2(&contracts::kConnectionServiceStubDesc,
                                               contracts::ConnectionServiceProcFormat(opnum), m_hBinding, args...);
    return static_cast<LONG>(result.Simple);
}

void CMorCgSvcRpc::SendText(const WCHAR* text, LONG* status) {
    *status = 0;
    Bind();
    if (m_hBinding == nullptr) return;
    Call(contracts::kConnSendText, text, status);
}

LONG CMorCgSvcRpc::Proc1(const WCHAR* text, const BYTE* block16, LONG* status) {
    *status = 0;
    Bind();
    if (m_hBinding == nullptr) return 0;
    return Call(contracts::kConnProc1, text, block16, kProc1BlockLength, status);
}

void CMorCgSvcRpc::Proc2(WCHAR* buffer, ULONG* count, LONG* status) {
    *status = 0;
    Bind();
    if (m_hBinding == nullptr) return;
    Call(contracts::kConnProc2, buffer, count, status);
}

void CMorCgSvcRpc::GetText(char* buffer, ULONG* count, LONG* status) {
    *status = 0;
    Bind();
    if (m_hBinding == nullptr) return;
    Call(contracts::kConnGetText, buffer, count, status);
}

void CMorCgSvcRpc::Proc4(LONG* value) {
    *value = 0;
    Bind();
    if (m_hBinding == nullptr) return;
    Call(contracts::kConnProc4, value);
}

void CMorCgSvcRpc::Proc5(const WCHAR* text, WCHAR* buffer, ULONG* count, LONG* status) {
    *status = 0;
    Bind();
    if (m_hBinding == nullptr) return;
    Call(contracts::kConnProc5, text, buffer, count, status);
}

void CMorCgSvcRpc::Proc6(LONG* value) {
    *value = 0;
    Bind();
    if (m_hBinding == nullptr) return;
    Call(contracts::kConnProc6, value);
}

void CMorCgSvcRpc::Proc7(const WCHAR* text, LONG* status) {
    *status = 0;
    Bind();
    if (m_hBinding == nullptr) return;
    Call(contracts::kConnProc7, text, status);
}

void CMorCgSvcRpc::SendNonEmptyText(const WCHAR* text, LONG* status) {
    *status = 0;
    if (IsNullOrEmpty(text)) return;
    Bind();
    if (m_hBinding == nullptr) return;
    Call(contracts::kConnSendNonEmptyText, text, status);
}

LONG CMorCgSvcRpc::CheckText(const WCHAR* text, LONG* status) {
    *status = 0;
    if (IsNullOrEmpty(text)) return 0;
    Bind();
    if (m_hBinding == nullptr) return 0;
    return Call(contracts::kConnCheckText, text, status);
}
