// The object base: interface table, free-threaded marshaler, weak references
// and the live-object count; and the slim reader/writer lock under threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/combase.h"
#include "platform/object.h"

namespace {

struct IWidget : IInspectable {
    static constexpr IID IID_{0x5B0C2A11, 0x7C1D, 0x4E55, {0x9A, 0x41, 0x3C, 0x61, 0x0E, 0x27, 0x88, 0x14}};
    virtual HRESULT Ping(INT32* answer) = 0;
};

class Widget final : public platform::RuntimeObject<Widget, IWidget, IWeakReferenceSource> {
public:
    static constexpr const char16_t* kRuntimeClassName = u"Test.Widget";
    explicit Widget(platform::ModuleCounter& module) : RuntimeObject(module) {}

    HRESULT Ping(INT32* answer) override {
        *answer = 42;
        return S_OK;
    }
    HRESULT GetWeakReference(IWeakReference** weakReference) override { return ProvideWeakReference(weakReference); }

private:
    ~Widget() override = default;
};

platform::ComPtr<IWidget> MakeWidget(platform::ModuleCounter& module) {
    return platform::ComPtr<IWidget>::Attach(platform::MakeObject<Widget>(module).detach());
}

TEST(ObjectBase, CountsObjectAndRecordUntilBothAreGone) {
    platform::ModuleCounter module;
    platform::ComPtr<IWidget> widget = MakeWidget(module);
    EXPECT_EQ(module.Count(), 2u);  // the object and its weak-reference record
    widget.reset();
    EXPECT_EQ(module.Count(), 0u);
}

TEST(ObjectBase, IMarshalComesFromTheFreeThreadedMarshaler) {
    platform::ModuleCounter module;
    platform::ComPtr<IWidget> widget = MakeWidget(module);
    platform::ComPtr<IMarshal> marshal;
    ASSERT_EQ(widget.As(marshal), S_OK);
    CLSID unmarshaller{};
    ASSERT_EQ(marshal->GetUnmarshalClass(IWidget::IID_, widget.get(), MSHCTX_INPROC, nullptr, MSHLFLAGS_NORMAL,
                                         &unmarshaller),
              S_OK);
    EXPECT_TRUE(unmarshaller == CLSID_InProcFreeMarshaler);

    // The marshaler's IUnknown calls reach the object: same identity, same count.
    platform::ComPtr<IUnknown> viaMarshal;
    platform::ComPtr<IUnknown> viaObject;
    ASSERT_EQ(marshal.As(viaMarshal), S_OK);
    ASSERT_EQ(widget.As(viaObject), S_OK);
    EXPECT_EQ(viaMarshal.get(), viaObject.get());
    marshal.reset();
    viaMarshal.reset();
    viaObject.reset();
    widget.reset();
    EXPECT_EQ(module.Count(), 0u) << "references through the marshaler were counted on the object";
}

TEST(ObjectBase, UnknownIdentityIsNoInterfaceWithNullResult) {
    platform::ModuleCounter module;
    platform::ComPtr<IWidget> widget = MakeWidget(module);
    constexpr IID kUnknown{0x01234567, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}};
    void* result = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(widget->QueryInterface(kUnknown, &result), E_NOINTERFACE);
    EXPECT_EQ(result, nullptr);
}

TEST(ObjectBase, MarshalledOnOneThreadIsCalledOnAnother) {
    platform::ModuleCounter module;
    platform::ComPtr<IWidget> widget = MakeWidget(module);
    IStream* stream = SHCreateMemStream(nullptr, 0);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(CoMarshalInterface(stream, IWidget::IID_, widget.get(), MSHCTX_INPROC, nullptr, MSHLFLAGS_NORMAL), S_OK);
    widget.reset();  // the marshalled data keeps the object alive
    EXPECT_EQ(module.Count(), 2u);

    INT32 answer = 0;
    HRESULT unmarshalled = E_FAIL;
    std::thread other([&] {
        ASSERT_EQ(stream->Seek(0, 0, nullptr), S_OK);
        platform::ComPtr<IWidget> received;
        unmarshalled = CoUnmarshalInterface(stream, IWidget::IID_, received.put_void());
        if (received) received->Ping(&answer);
    });
    other.join();
    stream->Release();
    EXPECT_EQ(unmarshalled, S_OK);
    EXPECT_EQ(answer, 42);
    EXPECT_EQ(module.Count(), 0u);
}

TEST(ObjectBase, ReleasedMarshalDataDropsItsReference) {
    platform::ModuleCounter module;
    platform::ComPtr<IWidget> widget = MakeWidget(module);
    IStream* stream = SHCreateMemStream(nullptr, 0);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(CoMarshalInterface(stream, IWidget::IID_, widget.get(), MSHCTX_INPROC, nullptr, MSHLFLAGS_NORMAL), S_OK);
    widget.reset();
    ASSERT_EQ(stream->Seek(0, 0, nullptr), S_OK);
    EXPECT_EQ(CoReleaseMarshalData(stream), S_OK);
    stream->Release();
    EXPECT_EQ(module.Count(), 0u);
}

TEST(WeakReference, ResolvesWhileAliveAndToNullAfter) {
    platform::ModuleCounter module;
    platform::ComPtr<IWidget> widget = MakeWidget(module);
    platform::ComPtr<IWeakReferenceSource> source;
    ASSERT_EQ(widget.As(source), S_OK);
    platform::ComPtr<IWeakReference> weak;
    ASSERT_EQ(source->GetWeakReference(weak.put()), S_OK);
    source.reset();

    platform::ComPtr<IInspectable> resolved;
    ASSERT_EQ(weak->Resolve(IWidget::IID_, resolved.put()), S_OK);
    EXPECT_EQ(static_cast<void*>(resolved.get()), static_cast<void*>(widget.get()));
    resolved.reset();

    widget.reset();
    EXPECT_EQ(module.Count(), 1u) << "the record lives while a weak reference holds it";
    IInspectable* dead = reinterpret_cast<IInspectable*>(0x1);
    EXPECT_EQ(weak->Resolve(IWidget::IID_, &dead), S_OK);
    EXPECT_EQ(dead, nullptr);
    weak.reset();
    EXPECT_EQ(module.Count(), 0u);
}

TEST(WeakReference, ResolveRacingTheLastReleaseNeverRevives) {
    platform::ModuleCounter module;
    for (int round = 0; round < 200; ++round) {
        platform::ComPtr<IWidget> widget = MakeWidget(module);
        platform::ComPtr<IWeakReferenceSource> source;
        ASSERT_EQ(widget.As(source), S_OK);
        platform::ComPtr<IWeakReference> weak;
        ASSERT_EQ(source->GetWeakReference(weak.put()), S_OK);
        source.reset();
        std::thread resolver([&] {
            for (int i = 0; i < 50; ++i) {
                platform::ComPtr<IInspectable> resolved;
                weak->Resolve(IWidget::IID_, resolved.put());
                if (resolved) {
                    platform::ComPtr<IWidget> typed;
                    INT32 answer = 0;
                    if (resolved.As(typed) == S_OK) typed->Ping(&answer);
                    EXPECT_EQ(answer, 42);
                }
            }
        });
        widget.reset();
        resolver.join();
        weak.reset();
        ASSERT_EQ(module.Count(), 0u) << "round " << round;
    }
}

TEST(SlimLock, ExclusiveHoldersExcludeEachOtherAndReaders) {
    SRWLOCK lock = SRWLOCK_INIT;
    long first = 0;   // both written under the exclusive lock
    long second = 0;  // and must always be read equal under the shared lock
    std::atomic<bool> torn{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                platform::ExclusiveLock guard(lock);
                ++first;
                ++second;
            }
        });
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                platform::SharedLock guard(lock);
                if (first != second) torn = true;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(first, 4 * 5000);
    EXPECT_EQ(second, 4 * 5000);
    EXPECT_FALSE(torn);
}

}  // namespace
