#include "platform_seam.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace seam {
namespace {

struct State {
    std::mutex mutex;
    std::vector<Event> events;
    CreateArguments create;
    QueryArguments query;
    BindArguments bind;
    unsigned timeout = 0xFFFFFFFFu;
    bool failQuery = false;
    bool failCreate = false;
};

State& state() {
    static State instance;
    return instance;
}

void Record(const char* name, const void* handle) {
    std::lock_guard guard(state().mutex);
    state().events.push_back(Event{name, handle});
}

// The platform's own definition of `name`, the next one after this executable's.
template <typename Function>
Function* Next(const char* name) {
    void* symbol = dlsym(RTLD_NEXT, name);
    if (symbol == nullptr) {
        std::fprintf(stderr, "seam: no platform definition of %s\n", name);
        std::abort();
    }
    return reinterpret_cast<Function*>(symbol);
}

}  // namespace

void Reset() {
    std::lock_guard guard(state().mutex);
    state().events.clear();
    state().create = {};
    state().query = {};
    state().bind = {};
    state().timeout = 0xFFFFFFFFu;
    state().failQuery = false;
    state().failCreate = false;
}

std::vector<Event> Events() {
    std::lock_guard guard(state().mutex);
    return state().events;
}

std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const Event& event : Events()) names.push_back(event.name);
    return names;
}

CreateArguments LastCreate() {
    std::lock_guard guard(state().mutex);
    return state().create;
}

QueryArguments LastQuery() {
    std::lock_guard guard(state().mutex);
    return state().query;
}

BindArguments LastBind() {
    std::lock_guard guard(state().mutex);
    return state().bind;
}

unsigned LastTimeout() {
    std::lock_guard guard(state().mutex);
    return state().timeout;
}

void FailQuery() {
    std::lock_guard guard(state().mutex);
    state().failQuery = true;
}

void FailCreate() {
    std::lock_guard guard(state().mutex);
    state().failCreate = true;
}

}  // namespace seam

using seam::Record;
using seam::state;

extern "C" {

DWORD QueryTransientObjectSecurityDescriptor(DWORD objectType, PCWSTR objectName, PSECURITY_DESCRIPTOR* descriptor) {
    bool fail;
    {
        std::lock_guard guard(state().mutex);
        state().query = {objectType, objectName ? std::u16string(objectName) : std::u16string()};
        fail = state().failQuery;
    }
    if (fail) {
        *descriptor = nullptr;
        Record("query", nullptr);
        return ERROR_FILE_NOT_FOUND;
    }
    static auto* real = seam::Next<decltype(QueryTransientObjectSecurityDescriptor)>(
        "QueryTransientObjectSecurityDescriptor");
    DWORD result = real(objectType, objectName, descriptor);
    Record("query", *descriptor);
    return result;
}

DWORD FreeTransientObjectSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor) {
    Record("free-descriptor", descriptor);
    static auto* real = seam::Next<decltype(FreeTransientObjectSecurityDescriptor)>(
        "FreeTransientObjectSecurityDescriptor");
    return real(descriptor);
}

RPC_STATUS RpcBindingCreateW(RPC_BINDING_HANDLE_TEMPLATE_V1_W* templ, RPC_BINDING_HANDLE_SECURITY_V1_W* security,
                             RPC_BINDING_HANDLE_OPTIONS_V1* options, RPC_BINDING_HANDLE* binding) {
    bool fail;
    {
        std::lock_guard guard(state().mutex);
        seam::CreateArguments& args = state().create;
        args = {};
        if (templ) args.templ = *templ;
        args.hadSecurity = security != nullptr;
        if (security) args.security = *security;
        args.hadQos = security && security->SecurityQos;
        if (args.hadQos && security->SecurityQos->Version == 5) {
            args.qos = *reinterpret_cast<RPC_SECURITY_QOS_V5_W*>(security->SecurityQos);
        }
        args.hadOptions = options != nullptr;
        fail = state().failCreate;
    }
    if (fail) {
        *binding = nullptr;
        Record("create", nullptr);
        return RPC_S_OUT_OF_MEMORY;
    }
    static auto* real = seam::Next<decltype(RpcBindingCreateW)>("RpcBindingCreateW");
    RPC_STATUS status = real(templ, security, options, binding);
    Record("create", *binding);
    return status;
}

RPC_STATUS RpcBindingBind(PRPC_ASYNC_STATE async, RPC_BINDING_HANDLE binding, RPC_IF_HANDLE ifSpec) {
    {
        std::lock_guard guard(state().mutex);
        state().bind = {async, ifSpec};
    }
    Record("bind", binding);
    static auto* real = seam::Next<decltype(RpcBindingBind)>("RpcBindingBind");
    return real(async, binding, ifSpec);
}

RPC_STATUS RpcMgmtSetComTimeout(RPC_BINDING_HANDLE binding, unsigned int timeout) {
    {
        std::lock_guard guard(state().mutex);
        state().timeout = timeout;
    }
    Record("timeout", binding);
    static auto* real = seam::Next<decltype(RpcMgmtSetComTimeout)>("RpcMgmtSetComTimeout");
    return real(binding, timeout);
}

RPC_STATUS RpcBindingFree(RPC_BINDING_HANDLE* binding) {
    Record("free-binding", binding ? *binding : nullptr);
    static auto* real = seam::Next<decltype(RpcBindingFree)>("RpcBindingFree");
    return real(binding);
}

}  // extern "C"
