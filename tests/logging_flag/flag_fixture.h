// Shared pieces of the logging-flag tests: the connection service's key in
// the test's device root, a handler that records its calls and can be told
// to fail, and a fixture that reaches RegistryManager's statics through the
// loader and unloads the component after each test (so that every test
// starts with an empty handler list and ends with no live object).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "MorvalaFrameworkUiWinPRT.h"
#include "platform/comptr.h"
#include "platform/registry.h"
#include "support/component_loader.h"

namespace logging_flag_test {

namespace abi = MorvalaFrameworkUiWinPRT;
using Statics = abi::__IRegistryManagerStatics;
using Callback = abi::GPSLoggingSettingsCallback;

// --- The registry value -----------------------------------------------------

// The value as stored: its type and bytes.
struct StoredValue {
    DWORD type;
    std::vector<BYTE> bytes;
    bool operator==(const StoredValue&) const = default;
};
void PrintTo(const StoredValue& value, std::ostream* out);

StoredValue Dword(DWORD number);  // REG_DWORD, four little-endian bytes

void CreateServiceKey();
void DeleteServiceKey();
bool ServiceKeyExists();
// Stores `value` as "DisconnectionLoggingNeeded", creating the key.
void StoreFlag(const StoredValue& value);
// The stored value, or none when the key or value is missing.
std::optional<StoredValue> ReadFlag();

// --- Handlers -----------------------------------------------------------------

struct Call {
    int handler;
    bool value;
    bool operator==(const Call&) const = default;
};
void PrintTo(const Call& call, std::ostream* out);

// Calls in the order they happened, from any thread.
class CallLog {
public:
    void Add(Call call);
    std::vector<Call> Take();  // the calls so far; the log is emptied

private:
    std::mutex mutex_;
    std::vector<Call> calls_;
};

// A GPSLoggingSettingsCallback written out by hand, so that a test controls
// every answer: Invoke logs (id, value) and then runs `body` (S_OK when
// none); `queryFailure`, when set, is answered once to the next query for the
// delegate interface. Agile; counts its references.
class TestHandler final : public Callback {
public:
    static platform::ComPtr<TestHandler> Make(int id, CallLog& log, std::function<HRESULT(bool)> body = {});

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT Invoke(boolean value) override;

    // The references held now (the test's own included).
    ULONG References() const { return count_.load(); }
    void FailNextQuery(HRESULT status) { queryFailure_.store(status); }

private:
    TestHandler(int id, CallLog& log, std::function<HRESULT(bool)> body);
    ~TestHandler() = default;

    std::atomic<ULONG> count_{1};
    std::atomic<HRESULT> queryFailure_{S_OK};
    int id_;
    CallLog& log_;
    std::function<HRESULT(bool)> body_;
};

// A body that answers `status` on its first call and S_OK afterwards.
std::function<HRESULT(bool)> FailOnce(HRESULT status);

// --- Fixture ------------------------------------------------------------------

class LoggingFlagTest : public morvala::test::ComponentTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Slot 0: the status, and the result in *result.
    HRESULT Set(boolean value, boolean* result);
    // Slot 0, expecting S_OK; the result.
    bool SetOk(bool value);
    // Slot 8, expecting S_OK.
    bool Get();
    // Slot 9, expecting S_OK and a non-zero token.
    EventRegistrationToken Add(Callback* handler);
    // Slot 10, expecting S_OK.
    void Remove(EventRegistrationToken token);

    platform::ComPtr<Statics> statics_;
    CallLog log_;
};

}  // namespace logging_flag_test
