// The runtime's error kinds. Inside the component (and the platform's C++
// code) a failure travels as one of these exceptions, each carrying its status
// code; at the component's boundary it becomes that status code again.
#pragma once

#include <exception>

#include "platform/types.h"

namespace platform {

// The general error: a status code, nothing else. Every kind below is one.
class RuntimeError : public std::exception {
public:
    explicit RuntimeError(HRESULT code) noexcept : code_(code) {}
    HRESULT code() const noexcept { return code_; }
    const char* what() const noexcept override;

private:
    HRESULT code_;
};

#define MORVALA_ERROR_KIND(Name, Code)                          \
    class Name : public RuntimeError {                          \
    public:                                                     \
        Name() noexcept : RuntimeError(Code) {}                 \
    }

MORVALA_ERROR_KIND(OutOfBoundsException, E_BOUNDS);
MORVALA_ERROR_KIND(ChangedStateException, E_CHANGED_STATE);
MORVALA_ERROR_KIND(ObjectDisposedException, RO_E_CLOSED);
MORVALA_ERROR_KIND(NotImplementedException, E_NOTIMPL);
MORVALA_ERROR_KIND(InvalidCastException, E_NOINTERFACE);
MORVALA_ERROR_KIND(NullReferenceException, E_POINTER);
MORVALA_ERROR_KIND(OperationCanceledException, E_ABORT);
MORVALA_ERROR_KIND(FailureException, E_FAIL);
MORVALA_ERROR_KIND(DisconnectedException, RPC_E_DISCONNECTED);
MORVALA_ERROR_KIND(WrongThreadException, RPC_E_WRONG_THREAD);
MORVALA_ERROR_KIND(ClassNotRegisteredException, REGDB_E_CLASSNOTREG);
MORVALA_ERROR_KIND(AccessDeniedException, E_ACCESSDENIED);
MORVALA_ERROR_KIND(OutOfMemoryException, E_OUTOFMEMORY);
MORVALA_ERROR_KIND(InvalidArgumentException, E_INVALIDARG);

#undef MORVALA_ERROR_KIND

// Any status code that has no kind of its own.
class COMException : public RuntimeError {
public:
    explicit COMException(HRESULT code) noexcept : RuntimeError(code) {}
};

// A failure of a remote procedure call after its binding was made: the peer
// went away, answered a fault, or broke the wire contract. rpcStatus() is the
// RPC status (RPC_S_*, or the code a fault carried); code() is the status the
// caller of a member sees for it.
class RpcException : public RuntimeError {
public:
    explicit RpcException(LONG rpcStatus) noexcept
        : RuntimeError(HRESULT_FROM_WIN32(rpcStatus)), rpcStatus_(rpcStatus) {}
    LONG rpcStatus() const noexcept { return rpcStatus_; }

private:
    LONG rpcStatus_;
};

// Throws the kind that the status-to-error table gives for a failure code.
// REQUIRES: FAILED(code).
[[noreturn]] void RaiseForStatus(HRESULT code);

// Throws the matching kind when code is a failure; does nothing otherwise.
inline void ThrowIfFailed(HRESULT code) {
    if (FAILED(code)) RaiseForStatus(code);
}

}  // namespace platform
