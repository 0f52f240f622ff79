#include "flag_fixture.h"

#include <iomanip>

namespace logging_flag_test {
namespace {

constexpr WCHAR kKeyPath[] = u"Software\\OEM\\MORVALA\\MorCgSvc";
constexpr WCHAR kValueName[] = u"DisconnectionLoggingNeeded";

}  // namespace

void PrintTo(const StoredValue& value, std::ostream* out) {
    *out << "type " << value.type << " bytes";
    for (BYTE byte : value.bytes) *out << ' ' << std::hex << std::setw(2) << std::setfill('0') << int{byte};
    *out << std::dec;
}

void PrintTo(const Call& call, std::ostream* out) {
    *out << "{handler " << call.handler << ", " << (call.value ? "true" : "false") << "}";
}

StoredValue Dword(DWORD number) {
    return {REG_DWORD,
            {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8), static_cast<BYTE>(number >> 16),
             static_cast<BYTE>(number >> 24)}};
}

void CreateServiceKey() {
    platform::UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
}

void DeleteServiceKey() {
    LONG status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKeyPath);
    ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
}

bool ServiceKeyExists() {
    platform::UniqueHkey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

void StoreFlag(const StoredValue& value) {
    platform::UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), kValueName, 0, value.type, value.bytes.data(),
                             static_cast<DWORD>(value.bytes.size())),
              ERROR_SUCCESS);
}

std::optional<StoredValue> ReadFlag() {
    platform::UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return std::nullopt;
    StoredValue value{REG_NONE, std::vector<BYTE>(64)};
    DWORD size = static_cast<DWORD>(value.bytes.size());
    if (RegQueryValueExW(key.get(), kValueName, nullptr, &value.type, value.bytes.data(), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.bytes.resize(size);
    return value;
}

void CallLog::Add(Call call) {
    std::lock_guard<std::mutex> hold(mutex_);
    calls_.push_back(call);
}

std::vector<Call> CallLog::Take() {
    std::lock_guard<std::mutex> hold(mutex_);
    return std::exchange(calls_, {});
}

platform::ComPtr<TestHandler> TestHandler::Make(int id, CallLog& log, std::function<HRESULT(bool)> body) {
    return platform::ComPtr<TestHandler>::Attach(new TestHandler(id, log, std::move(body)));
}

TestHandler::TestHandler(int id, CallLog& log, std::function<HRESULT(bool)> body)
    : id_(id), log_(log), body_(std::move(body)) {}

HRESULT TestHandler::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (riid == Callback::IID_) {
        HRESULT failure = queryFailure_.exchange(S_OK);
        if (FAILED(failure)) return failure;
    }
    if (riid == IUnknown::IID_ || riid == Callback::IID_ || riid == IAgileObject::IID_) {
        *object = static_cast<Callback*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG TestHandler::AddRef() { return count_.fetch_add(1) + 1; }

ULONG TestHandler::Release() {
    ULONG remaining = count_.fetch_sub(1) - 1;
    if (remaining == 0) delete this;
    return remaining;
}

HRESULT TestHandler::Invoke(boolean value) {
    log_.Add({id_, value != 0});
    return body_ ? body_(value != 0) : S_OK;
}

std::function<HRESULT(bool)> FailOnce(HRESULT status) {
    auto failed = std::make_shared<std::atomic<bool>>(false);
    return [status, failed](bool) { return failed->exchange(true) ? S_OK : status; };
}

void LoggingFlagTest::SetUp() {
    statics_ = morvala::test::GetFactory<Statics>(abi::RuntimeClass_RegistryManager);
    ASSERT_TRUE(statics_);
}

// Releases the factory and unloads the component, which the loader allows
// only when no object of it is alive; the unload drops what the handler list
// still holds, so the next test starts with none.
void LoggingFlagTest::TearDown() {
    statics_.reset();
    EXPECT_EQ(morvala::test::ComponentCanUnloadNow(), S_OK) << "an object of the component is still alive";
    EXPECT_EQ(RoUnloadLibrary(morvala::test::ComponentPath()), S_OK);
}

HRESULT LoggingFlagTest::Set(boolean value, boolean* result) { return statics_->SetDisconnectionLoggingNeeded(value, result); }

bool LoggingFlagTest::SetOk(bool value) {
    boolean result = 7;
    EXPECT_EQ(Set(value ? 1 : 0, &result), S_OK);
    EXPECT_TRUE(result == 0 || result == 1) << int{result};
    return result == 1;
}

bool LoggingFlagTest::Get() {
    boolean result = 7;
    EXPECT_EQ(statics_->GetDisconnectionLoggingNeeded(&result), S_OK);
    EXPECT_TRUE(result == 0 || result == 1) << int{result};
    return result == 1;
}

EventRegistrationToken LoggingFlagTest::Add(Callback* handler) {
    EventRegistrationToken token{0};
    EXPECT_EQ(statics_->add_GPSLoggingSettingsChanged(handler, &token), S_OK);
    EXPECT_NE(token.value, 0);
    return token;
}

void LoggingFlagTest::Remove(EventRegistrationToken token) {
    EXPECT_EQ(statics_->remove_GPSLoggingSettingsChanged(token), S_OK);
}

}  // namespace logging_flag_test
