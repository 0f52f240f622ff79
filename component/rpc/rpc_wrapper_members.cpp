// Each member makes one client object of its service, calls one operation on
// it and destroys it before deriving the result, so that no binding outlives
// the call. A service that cannot be reached leaves the preset outputs, which
// give the member's fixed default. A failure that the RPC runtime raises after
// the bind (platform::RpcException) is not caught here: the client object is
// destroyed while it unwinds, and the boundary returns its status code.
#include "rpc_wrapper_members.h"

#include <memory>
#include <vector>

#include "accessory_service_client.h"
#include "connection_service_client.h"
#include "host/strings.h"
#include "platform/errors.h"
#include "platform/text.h"

namespace component::rpc {
namespace {

// Capacity of the 8-bit buffer of the text-reading members, and the count
// sent with it.
constexpr ULONG kTextCapacity = 300;

// The result of the text-reading members when no text arrives.
constexpr WCHAR kDefaultText[] = u"0.0.0.0";

// The String's units as a NUL-terminated wire text; the empty String gives an
// empty text. Valid while the caller's String lives.
const WCHAR* WireText(HSTRING text) { return WindowsGetStringRawBuffer(text, nullptr); }

// Runs `operation` on a new client object of class Client, which is destroyed
// (its binding freed) before this returns, also when the operation throws.
// Returns what the operation returns.
template <typename Client, typename Operation>
auto WithClient(Operation&& operation) {
    auto client = std::make_unique<Client>();
    return operation(*client);
}

// The first `count` bytes of `bytes`, in the system's ANSI code page, as a
// String that ends at the first NUL. A failed conversion leaves every unit 0
// and gives the empty String. Throws the error kind of a failed String
// creation.
platform::UniqueHString StringFromAnsi(const char* bytes, ULONG count) {
    std::vector<WCHAR> units(static_cast<size_t>(count) + 1, u'\0');
    const int length = static_cast<int>(count);
    MultiByteToWideChar(CP_ACP, 0, bytes, length, units.data(), length);
    return StringFromNulTerminated(units.data());
}

// Asks the service of Client for its text with a buffer of kTextCapacity
// bytes. Returns "0.0.0.0" when the service cannot be reached or answers
// status 0, otherwise the converted text.
template <typename Client>
platform::UniqueHString ReadServiceText() {
    platform::UniqueHString result = StringFromNulTerminated(kDefaultText);
    char buffer[kTextCapacity] = {};
    ULONG count = kTextCapacity;
    LONG status = 0;
    WithClient<Client>([&](Client& client) { client.GetText(buffer, &count, &status); });
    if (status == 0) return result;
    // The runtime refuses a returned count above the capacity sent; should one
    // ever arrive, it is the same broken reply, and reading past the buffer
    // is never an option.
    if (count > kTextCapacity) throw platform::RpcException(RPC_X_BAD_STUB_DATA);
    return StringFromAnsi(buffer, count);
}

}  // namespace

void SendConnectionServiceText(HSTRING text) {
    LONG status = 0;
    WithClient<CMorCgSvcRpc>([&](CMorCgSvcRpc& client) { client.SendText(WireText(text), &status); });
}

bool GetAccessoryServiceFlag() {
    LONG value = 0;
    WithClient<CMorvalaAccObaRpc>([&](CMorvalaAccObaRpc& client) { client.GetFlag(&value); });
    return value != 0;
}

bool SendAccessoryServiceTexts(HSTRING first, HSTRING second, HSTRING third) {
    LONG status = 0;
    WithClient<CMorvalaAccObaRpc>([&](CMorvalaAccObaRpc& client) {
        client.SendTexts(WireText(first), WireText(second), WireText(third), &status);
    });
    return status != 0;
}

void SendConnectionServiceNonEmptyText(HSTRING text) {
    LONG status = 0;
    WithClient<CMorCgSvcRpc>([&](CMorCgSvcRpc& client) { client.SendNonEmptyText(WireText(text), &status); });
}

bool CheckConnectionServiceText(HSTRING text) {
    LONG status = 0;
    const LONG answer =
        WithClient<CMorCgSvcRpc>([&](CMorCgSvcRpc& client) { return client.CheckText(WireText(text), &status); });
    return answer == 1;
}

platform::UniqueHString GetConnectionServiceText() { return ReadServiceText<CMorCgSvcRpc>(); }

platform::UniqueHString GetAccessoryServiceText() { return ReadServiceText<CMorvalaAccObaRpc>(); }

}  // namespace component::rpc
