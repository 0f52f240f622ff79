// A test-only seam around the platform calls the client classes make for a
// binding. This executable defines the security and binding functions
// itself (they have C linkage); each definition records the call and either
// forwards to the platform's own (found with dlsym(RTLD_NEXT)) or, when a
// test asks for it, fails without forwarding. NdrClientCall2 is not
// interposed (a variadic call cannot be forwarded); calls are seen by the
// service instead.
#pragma once

#include <string>
#include <vector>

#include "platform/rpc.h"
#include "platform/security.h"

namespace seam {

// One recorded platform call.
struct Event {
    std::string name;  // query, free-descriptor, create, bind, timeout, free-binding
    const void* handle = nullptr;  // the descriptor or binding the call concerned
};

// What RpcBindingCreateW was given, copied at the call.
struct CreateArguments {
    RPC_BINDING_HANDLE_TEMPLATE_V1_W templ{};
    RPC_BINDING_HANDLE_SECURITY_V1_W security{};
    RPC_SECURITY_QOS_V5_W qos{};
    bool hadSecurity = false;
    bool hadQos = false;
    bool hadOptions = false;
};

struct QueryArguments {
    DWORD type = 0;
    std::u16string name;
};

struct BindArguments {
    const void* async = nullptr;
    RPC_IF_HANDLE ifSpec = nullptr;
};

// Forgets every record and injected failure.
void Reset();

// The calls recorded since Reset(), in order, and their names alone.
std::vector<Event> Events();
std::vector<std::string> Names();

CreateArguments LastCreate();
QueryArguments LastQuery();
BindArguments LastBind();
unsigned LastTimeout();

// Injected failures, until Reset().
void FailQuery();   // QueryTransientObjectSecurityDescriptor returns ERROR_FILE_NOT_FOUND
void FailCreate();  // RpcBindingCreateW returns RPC_S_OUT_OF_MEMORY (after forwarding nothing)

}  // namespace seam
