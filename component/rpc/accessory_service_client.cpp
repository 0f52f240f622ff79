#include "accessory_service_client.h"

#include "contracts/accessory_service.h"
#include "secure_binding.h"

CMorvalaAccObaRpc::~CMorvalaAccObaRpc() {
    if (m_hBinding != nullptr) RpcBindingFree(&m_hBinding);
    m_hBinding = nullptr;
}

void CMorvalaAccObaRpc::Bind() {
    if (m_hBinding != nullptr) return;
    m_hBinding = morvala::rpc::CreateSecureBinding(contracts::AccessoryServiceIfHandle());
}

template <typename... Args>
void CMorvalaAccObaRpc::Call(unsigned opnum, Args... args) {
    NdrClientCall2(&contracts::kAccessoryServiceStubDesc, contracts::AccessoryServiceProcFormat(opnum), m_hBinding,
                   args...);
}

void CMorvalaAccObaRpc::Proc0(const WCHAR* first, const WCHAR* second, ULONG firstValue, ULONG secondValue) {
    Bind();
    if (m_hBinding == nullptr) return;
    Call(contracts::kAccProc0, first, second, static_cast<unsigned int>(firstValue),
         static_cast<unsigned int>(secondValue));
}

void CMorvalaAccObaRpc::GetFlag(LONG* value) {
    Bind();
    if (m_hBinding == nullptr) return;
    Call(contracts::kAccGetFlag, value);
}

void CMorvalaAccObaRpc::SendTexts(const WCHAR* first, const WCHAR* second, const WCHAR* third, LONG* status) {
    Bind();
    if (m_hBinding == nullptr) return;
    Call(contracts::kAccSendTexts, first, second, third, status);
}

void CMorvalaAccObaRpc::GetText(char* buffer, ULONG* count, LONG* status) {
    Bind();
    if (m_hBinding == nullptr) return;
    Call(contracts::kAccGetText, buffer, count, status);
}
