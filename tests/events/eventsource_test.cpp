// The event-source operations: snapshots in adding order that never change
// while held, per-registration tokens (one handler added twice is removed one
// registration at a time), unknown tokens ignored, handlers released only
// when no list or snapshot holds them and never under the lock, a raise that
// drops disconnected handlers through the token of a snapshot entry, and
// many threads adding, removing and raising at once.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/comptr.h"
#include "platform/eventsource.h"

using platform::ComPtr;

namespace {

// The delegate interface of the tests' handlers.
struct ITestCallback : IUnknown {
    static constexpr IID IID_{0x3F1C2A10, 0x5B7E, 0x4C21, {0x9A, 0x0D, 0x61, 0x2E, 0x44, 0x8B, 0x70, 0x15}};
    virtual HRESULT Invoke(boolean value) = 0;
};

std::atomic<int> liveHandlers{0};

class Handler final : public ITestCallback {
public:
    static ComPtr<Handler> Make() { return ComPtr<Handler>::Attach(new Handler); }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IUnknown::IID_ || riid == ITestCallback::IID_) {
            *object = static_cast<ITestCallback*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return references_.fetch_add(1) + 1; }
    ULONG Release() override {
        ULONG remaining = references_.fetch_sub(1) - 1;
        if (remaining == 0) {
            if (onFinalRelease) onFinalRelease();
            delete this;
        }
        return remaining;
    }
    HRESULT Invoke(boolean value) override {
        values.push_back(value);
        if (onInvoke) onInvoke();
        return result;
    }

    ULONG References() const { return references_.load(); }

    std::vector<boolean> values;
    HRESULT result = S_OK;
    std::function<void()> onInvoke;
    std::function<void()> onFinalRelease;

private:
    Handler() { ++liveHandlers; }
    ~Handler() { --liveHandlers; }
    std::atomic<ULONG> references_{1};
};

class EventSourceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(EventSourceInitialize(&list), S_OK); }
    void TearDown() override {
        EXPECT_EQ(EventSourceUninitialize(&list), S_OK);
        EXPECT_EQ(liveHandlers.load(), 0);
    }

    EventRegistrationToken Add(IUnknown* handler) {
        EventRegistrationToken token{};
        EXPECT_EQ(EventSourceAdd(&list, &lock, handler, &token), S_OK);
        EXPECT_NE(token.value, 0);
        return token;
    }
    void Remove(EventRegistrationToken token) { EXPECT_EQ(EventSourceRemove(&list, &lock, token), S_OK); }

    ComPtr<EventTargetArray> Snapshot() {
        ComPtr<EventTargetArray> snapshot;
        EXPECT_EQ(EventSourceGetTargetArray(&list, &lock, snapshot.put()), S_OK);
        return snapshot;
    }

    // The handlers of a snapshot in its order (null snapshot: none).
    static std::vector<IUnknown*> Entries(EventTargetArray* snapshot) {
        std::vector<IUnknown*> entries;
        if (snapshot == nullptr) return entries;
        ULONG size = 0;
        EXPECT_EQ(EventSourceGetTargetArraySize(snapshot, &size), S_OK);
        for (ULONG i = 0; i < size; ++i) {
            ComPtr<IUnknown> entry;
            EXPECT_EQ(EventSourceGetTargetArrayEvent(snapshot, i, IUnknown::IID_, entry.put_void()), S_OK);
            entries.push_back(entry.get());
        }
        return entries;
    }

    // Calls every handler of a snapshot with `value`; a handler answering
    // RPC_E_DISCONNECTED loses its registration, any other failure ends the
    // raise with that status.
    HRESULT Raise(boolean value) {
        auto snapshot = Snapshot();
        if (!snapshot) return S_OK;
        ULONG size = 0;
        EXPECT_EQ(EventSourceGetTargetArraySize(snapshot.get(), &size), S_OK);
        for (ULONG i = 0; i < size; ++i) {
            ComPtr<ITestCallback> callback;
            HRESULT hr = EventSourceGetTargetArrayEvent(snapshot.get(), i, ITestCallback::IID_, callback.put_void());
            if (SUCCEEDED(hr)) hr = callback->Invoke(value);
            if (hr == RPC_E_DISCONNECTED) {
                EventRegistrationToken token{};
                EXPECT_EQ(EventSourceGetTargetArrayToken(snapshot.get(), i, &token), S_OK);
                Remove(token);
            } else if (FAILED(hr)) {
                return hr;
            }
        }
        return S_OK;
    }

    EventSource list{};
    SRWLOCK lock = SRWLOCK_INIT;
};

TEST_F(EventSourceTest, AnEmptyListGivesNoSnapshot) {
    EXPECT_FALSE(Snapshot());
    auto handler = Handler::Make();
    Remove(Add(handler.get()));
    EXPECT_FALSE(Snapshot());
    EXPECT_EQ(handler->References(), 1u);
}

TEST_F(EventSourceTest, SnapshotsKeepAddingOrderAndDoNotChangeWhileHeld) {
    auto a = Handler::Make(), b = Handler::Make(), c = Handler::Make(), d = Handler::Make();
    const EventRegistrationToken tokens[] = {Add(a.get()), Add(b.get()), Add(c.get())};
    auto before = Snapshot();
    ASSERT_TRUE(before);
    for (ULONG i = 0; i < 3; ++i) {
        EventRegistrationToken token{};
        ASSERT_EQ(EventSourceGetTargetArrayToken(before.get(), i, &token), S_OK);
        EXPECT_EQ(token.value, tokens[i].value);
    }

    Remove(tokens[1]);
    Add(d.get());
    std::vector<IUnknown*> held{a.get(), b.get(), c.get()};
    EXPECT_EQ(Entries(before.get()), held);
    EXPECT_EQ(Entries(Snapshot().get()), (std::vector<IUnknown*>{a.get(), c.get(), d.get()}));

    // The removed handler lives on in the old snapshot only.
    EXPECT_EQ(b->References(), 2u);
    before.reset();
    EXPECT_EQ(b->References(), 1u);
}

TEST_F(EventSourceTest, OneHandlerAddedTwiceIsRemovedOneRegistrationAtATime) {
    auto handler = Handler::Make();
    EventRegistrationToken first = Add(handler.get());
    EventRegistrationToken second = Add(handler.get());
    EXPECT_NE(first.value, second.value);
    EXPECT_EQ(Entries(Snapshot().get()).size(), 2u);

    Remove(first);
    Remove(first);  // already gone: the second registration stays
    auto snapshot = Snapshot();
    ASSERT_EQ(Entries(snapshot.get()).size(), 1u);
    EventRegistrationToken left{};
    ASSERT_EQ(EventSourceGetTargetArrayToken(snapshot.get(), 0, &left), S_OK);
    EXPECT_EQ(left.value, second.value);

    Remove(second);
    EXPECT_FALSE(Snapshot());
}

TEST_F(EventSourceTest, TokensThatAreNotRegisteredChangeNothing) {
    auto a = Handler::Make(), b = Handler::Make();
    EventRegistrationToken gone = Add(a.get());
    Remove(gone);
    EventRegistrationToken kept = Add(b.get());
    const int64_t unknown[] = {0, -1, 12345, gone.value, kept.value + 1, kept.value ^ (int64_t{1} << 48)};
    for (int64_t value : unknown) {
        Remove(EventRegistrationToken{value});
        EXPECT_EQ(Entries(Snapshot().get()), std::vector<IUnknown*>{b.get()}) << value;
    }
}

TEST_F(EventSourceTest, RejectsBadArguments) {
    EventRegistrationToken token{42};
    EXPECT_EQ(EventSourceAdd(&list, &lock, nullptr, &token), E_INVALIDARG);
    EXPECT_EQ(token.value, 0);
    auto handler = Handler::Make();
    EXPECT_EQ(EventSourceAdd(&list, &lock, handler.get(), nullptr), E_POINTER);
    EXPECT_FALSE(Snapshot());

    Add(handler.get());
    auto snapshot = Snapshot();
    void* entry = reinterpret_cast<void*>(1);
    EXPECT_EQ(EventSourceGetTargetArrayEvent(snapshot.get(), 1, IUnknown::IID_, &entry), E_BOUNDS);
    EXPECT_EQ(entry, nullptr);
    // A handler that does not answer the asked interface.
    EXPECT_EQ(EventSourceGetTargetArrayEvent(snapshot.get(), 0, IInspectable::IID_, &entry), E_NOINTERFACE);
    EXPECT_EQ(entry, nullptr);
    EXPECT_EQ(EventSourceGetTargetArrayToken(snapshot.get(), 1, &token), E_BOUNDS);
    EXPECT_EQ(EventSourceGetTargetArraySize(nullptr, nullptr), E_INVALIDARG);
}

TEST_F(EventSourceTest, UninitializeReleasesHandlersThatNoSnapshotHolds) {
    auto a = Handler::Make(), b = Handler::Make();
    Add(a.get());
    Add(b.get());
    auto snapshot = Snapshot();
    ASSERT_EQ(EventSourceUninitialize(&list), S_OK);
    EXPECT_FALSE(Snapshot());
    EXPECT_EQ(Entries(snapshot.get()).size(), 2u);
    snapshot.reset();
    EXPECT_EQ(a->References(), 1u);
    EXPECT_EQ(b->References(), 1u);
}

// The last reference to a removed handler is dropped after the lock is let
// go: a handler whose teardown uses the same list would otherwise deadlock.
TEST_F(EventSourceTest, HandlersAreReleasedOutsideTheLock) {
    auto reentrant = Handler::Make();
    auto other = Handler::Make();
    bool ranTeardown = false;
    reentrant->onFinalRelease = [&] {
        EventRegistrationToken token = Add(other.get());
        EXPECT_TRUE(Snapshot());
        Remove(token);
        ranTeardown = true;
    };
    EventRegistrationToken token = Add(reentrant.get());
    reentrant.reset();  // the list holds the last reference
    Remove(token);
    EXPECT_TRUE(ranTeardown);
}

TEST_F(EventSourceTest, RaiseDropsDisconnectedHandlersAndSeesChangesNextTime) {
    auto first = Handler::Make(), second = Handler::Make(), third = Handler::Make(), added = Handler::Make();
    Add(first.get());
    Add(second.get());
    EventRegistrationToken thirdToken = Add(third.get());
    second->result = RPC_E_DISCONNECTED;
    // The first handler removes a later one and adds another during the raise.
    first->onInvoke = [&] {
        if (first->values.size() == 1) {
            Remove(thirdToken);
            Add(added.get());
        }
    };

    ASSERT_EQ(Raise(1), S_OK);
    EXPECT_EQ(first->values.size(), 1u);
    EXPECT_EQ(second->values.size(), 1u);
    EXPECT_EQ(third->values.size(), 1u);  // still in this raise's snapshot
    EXPECT_TRUE(added->values.empty());

    ASSERT_EQ(Raise(0), S_OK);
    EXPECT_EQ(first->values, (std::vector<boolean>{1, 0}));
    EXPECT_EQ(second->values.size(), 1u);
    EXPECT_EQ(third->values.size(), 1u);
    EXPECT_EQ(added->values, std::vector<boolean>{0});
}

// Eight threads add, snapshot, walk and remove for a short while, each with
// a handler of its own and with one handler they all share. The lock is
// never held while a snapshot is walked, so nothing waits on a handler.
TEST_F(EventSourceTest, EightThreadsAddRemoveAndSnapshotAtOnce) {
    auto shared = Handler::Make();
    std::atomic<bool> failed{false};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    auto work = [&] {
        auto own = Handler::Make();
        do {
            EventRegistrationToken mine{}, common{};
            if (EventSourceAdd(&list, &lock, own.get(), &mine) != S_OK) failed = true;
            if (EventSourceAdd(&list, &lock, shared.get(), &common) != S_OK) failed = true;
            ComPtr<EventTargetArray> snapshot;
            if (EventSourceGetTargetArray(&list, &lock, snapshot.put()) != S_OK || !snapshot) failed = true;
            ULONG size = 0;
            EventSourceGetTargetArraySize(snapshot.get(), &size);
            bool sawMine = false;
            for (ULONG i = 0; i < size; ++i) {
                ComPtr<ITestCallback> callback;
                if (EventSourceGetTargetArrayEvent(snapshot.get(), i, ITestCallback::IID_, callback.put_void()) != S_OK)
                    failed = true;
                EventRegistrationToken token{};
                EventSourceGetTargetArrayToken(snapshot.get(), i, &token);
                sawMine = sawMine || token.value == mine.value;
            }
            if (!sawMine) failed = true;
            if (EventSourceRemove(&list, &lock, common) != S_OK) failed = true;
            if (EventSourceRemove(&list, &lock, mine) != S_OK) failed = true;
        } while (std::chrono::steady_clock::now() < deadline);
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) threads.emplace_back(work);
    for (auto& thread : threads) thread.join();
    EXPECT_FALSE(failed.load());
    EXPECT_FALSE(Snapshot());
    EXPECT_EQ(shared->References(), 1u);
    EXPECT_EQ(liveHandlers.load(), 1);
}

}  // namespace
