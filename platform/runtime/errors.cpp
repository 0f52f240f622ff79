#include "platform/errors.h"

namespace platform {

const char* RuntimeError::what() const noexcept { return "runtime error with a status code"; }

void RaiseForStatus(HRESULT code) {
    switch (code) {
        case E_BOUNDS: throw OutOfBoundsException();
        case E_CHANGED_STATE: throw ChangedStateException();
        case RO_E_CLOSED: throw ObjectDisposedException();
        case E_NOTIMPL: throw NotImplementedException();
        case E_NOINTERFACE: throw InvalidCastException();
        case E_POINTER: throw NullReferenceException();
        case E_ABORT: throw OperationCanceledException();
        case E_FAIL: throw FailureException();
        case RPC_E_DISCONNECTED: throw DisconnectedException();
        case RPC_E_WRONG_THREAD: throw WrongThreadException();
        case REGDB_E_CLASSNOTREG: throw ClassNotRegisteredException();
        case E_ACCESSDENIED: throw AccessDeniedException();
        case E_OUTOFMEMORY: throw OutOfMemoryException();
        case E_INVALIDARG: throw InvalidArgumentException();
        default: throw COMException(code);
    }
}

}  // namespace platform
