// RegistryManager's members through the component's ABI, each beside its
// floor: the raw SQLite library doing the same lookup on the same store file
// in one transaction, and (for the single-value reader) the same lookup in a
// std::map of the same data. Names: "<member>/member" and "<member>/floor_*";
// scripts/bench.sh pairs them.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <vector>

#include "MorvalaFrameworkUiWinPRT_delegates.h"
#include "platform/collections.h"
#include "platform/registry.h"
#include "support/bench_env.h"
#include "support/raw_store.h"

namespace {

using namespace MorvalaFrameworkUiWinPRT;

// Everything the benchmarks share, made once in main before they run.
struct World {
    bench::DeviceRoot root;
    platform::ComPtr<__IRegistryManagerStatics> statics;
    std::unique_ptr<bench::RawStore> raw;
    std::unique_ptr<bench::MapStore> map;
    std::vector<platform::UniqueHString> ids;    // device ids
    std::vector<platform::UniqueHString> paths;  // device key paths
    std::vector<std::u16string> rawPaths;
    std::vector<int64_t> keyIds;
    platform::UniqueHString readName;            // a REG_SZ value of every device
    platform::UniqueHString writeName;
    platform::UniqueHString writeText;
    platform::UniqueHString writeText2;
};

World* g_world = nullptr;

// Device indexes in a fixed scattered order, so that consecutive calls do not
// touch neighbouring rows.
int DeviceAt(int64_t step) { return static_cast<int>((step * 37) % bench::kDevices); }

constexpr char16_t kReadName[] = u"Value07";
constexpr char16_t kWriteName[] = u"Value04";
constexpr char16_t kFloorWriteName[] = u"Value03";  // a REG_SZ row of its own, as the member's
// Two texts of one length, written in turn, so that every write changes the
// row (SQLite skips writing a page whose content an update leaves as it was).
constexpr char16_t kWriteText[] = u"written by the benchmark, 40 characters.";
constexpr char16_t kWriteText2[] = u"WRITTEN BY THE BENCHMARK, 40 CHARACTERS.";

// ---- GetRegistryValue ---------------------------------------------------

void GetRegistryValueMember(benchmark::State& state) {
    World& w = *g_world;
    int64_t step = 0;
    for (auto _ : state) {
        INT32 found = 0;
        HSTRING result = nullptr;
        const int d = DeviceAt(step++);
        bench::Check(w.statics->GetRegistryValue(w.paths[d].get(), w.readName.get(), &found, &result),
                     "GetRegistryValue");
        benchmark::DoNotOptimize(found);
        WindowsDeleteString(result);
    }
}

void GetRegistryValueFloorSqlite(benchmark::State& state) {
    World& w = *g_world;
    int64_t step = 0;
    std::u16string out;
    for (auto _ : state) {
        const int d = DeviceAt(step++);
        benchmark::DoNotOptimize(w.raw->ReadValue(w.rawPaths[d], kReadName, out));
    }
}

void GetRegistryValueFloorMap(benchmark::State& state) {
    World& w = *g_world;
    int64_t step = 0;
    std::u16string out;
    for (auto _ : state) {
        const int d = DeviceAt(step++);
        benchmark::DoNotOptimize(w.map->ReadValue(w.rawPaths[d], kReadName, out));
    }
}

BENCHMARK(GetRegistryValueMember)->Name("GetRegistryValue/member");
BENCHMARK(GetRegistryValueFloorSqlite)->Name("GetRegistryValue/floor_sqlite");
BENCHMARK(GetRegistryValueFloorMap)->Name("GetRegistryValue/floor_map");

// ---- reads while another process writes flat out ------------------------

// A child process that writes one value of the connection service's key in a
// loop through the registry functions until it is killed.
class Writer {
public:
    Writer() {
        pid_ = ::fork();
        if (pid_ == 0) {
            platform::UniqueHkey key;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, bench::kConnectionServiceKey, 0, KEY_SET_VALUE, key.put()) !=
                ERROR_SUCCESS)
                ::_exit(1);
            for (DWORD n = 0;; ++n) {
                RegSetValueExW(key.get(), u"WriterCount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), sizeof n);
            }
        }
        ::usleep(20000);  // let it start writing
    }
    ~Writer() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_;
};

void GetRegistryValueWithWriterMember(benchmark::State& state) {
    Writer writer;
    GetRegistryValueMember(state);
}

void GetRegistryValueWithWriterFloor(benchmark::State& state) {
    Writer writer;
    GetRegistryValueFloorSqlite(state);
}

BENCHMARK(GetRegistryValueWithWriterMember)->Name("GetRegistryValue+writer/member");
BENCHMARK(GetRegistryValueWithWriterFloor)->Name("GetRegistryValue+writer/floor_sqlite");

// ---- read throughput with one and two threads --------------------------

void ReadThroughputMember(benchmark::State& state) {
    World& w = *g_world;
    int64_t step = state.thread_index() * 101;
    for (auto _ : state) {
        INT32 found = 0;
        HSTRING result = nullptr;
        const int d = DeviceAt(step++);
        bench::Check(w.statics->GetRegistryValue(w.paths[d].get(), w.readName.get(), &found, &result),
                     "GetRegistryValue");
        WindowsDeleteString(result);
    }
    state.SetItemsProcessed(state.iterations());
}

void ReadThroughputFloor(benchmark::State& state) {
    World& w = *g_world;
    // Each thread has its own connection, as a raw SQLite user would.
    bench::RawStore raw(w.root.StorePath());
    int64_t step = state.thread_index() * 101;
    std::u16string out;
    for (auto _ : state) benchmark::DoNotOptimize(raw.ReadValue(w.rawPaths[DeviceAt(step++)], kReadName, out));
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(ReadThroughputMember)->Name("ReadThroughput/member")->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(ReadThroughputFloor)->Name("ReadThroughput/floor_sqlite")->Threads(1)->Threads(2)->UseRealTime();

// ---- SetDeviceValue ------------------------------------------------------

void SetDeviceValueMember(benchmark::State& state) {
    World& w = *g_world;
    static int64_t step = 0;  // runs on across repetitions, so that the texts keep alternating
    for (auto _ : state) {
        const int d = DeviceAt(step++);
        HSTRING text = (step / bench::kDevices) % 2 == 0 ? w.writeText.get() : w.writeText2.get();
        bench::Check(w.statics->SetDeviceValue(w.ids[d].get(), w.writeName.get(), text), "SetDeviceValue");
    }
}

void SetDeviceValueFloor(benchmark::State& state) {
    World& w = *g_world;
    static int64_t step = 0;
    for (auto _ : state) {
        const int d = DeviceAt(step++);
        const char16_t* text = (step / bench::kDevices) % 2 == 0 ? kWriteText : kWriteText2;
        benchmark::DoNotOptimize(w.raw->Upsert(w.keyIds[d], kFloorWriteName, text));
    }
}

void SetDeviceValueFloorTouch(benchmark::State& state) {
    World& w = *g_world;
    static int64_t step = 0;
    for (auto _ : state) {
        const int d = DeviceAt(step++);
        const char16_t* text = (step / bench::kDevices) % 2 == 0 ? kWriteText : kWriteText2;
        benchmark::DoNotOptimize(w.raw->UpsertAndTouch(w.keyIds[d], kFloorWriteName, text));
    }
}

BENCHMARK(SetDeviceValueMember)->Name("SetDeviceValue/member");
BENCHMARK(SetDeviceValueFloor)->Name("SetDeviceValue/floor_sqlite");
BENCHMARK(SetDeviceValueFloorTouch)->Name("SetDeviceValue/floor_sqlite_touch");

// ---- GetDeviceValues, GetDeviceIds, DeviceExists -------------------------

void GetDeviceValuesMember(benchmark::State& state) {
    World& w = *g_world;
    int64_t step = 0;
    for (auto _ : state) {
        const int d = DeviceAt(step++);
        platform::ComPtr<IMap_String_String> map;
        bench::Check(w.statics->GetDeviceValues(w.ids[d].get(), map.put()), "GetDeviceValues");
    }
}

void GetDeviceValuesFloor(benchmark::State& state) {
    World& w = *g_world;
    int64_t step = 0;
    std::vector<std::pair<std::u16string, std::u16string>> out;
    for (auto _ : state) benchmark::DoNotOptimize(w.raw->EnumValues(w.rawPaths[DeviceAt(step++)], out));
}

BENCHMARK(GetDeviceValuesMember)->Name("GetDeviceValues/member");
BENCHMARK(GetDeviceValuesFloor)->Name("GetDeviceValues/floor_sqlite");

void GetDeviceIdsMember(benchmark::State& state) {
    World& w = *g_world;
    for (auto _ : state) {
        platform::ComPtr<IVector_String> ids;
        bench::Check(w.statics->GetDeviceIds(ids.put()), "GetDeviceIds");
    }
}

void GetDeviceIdsFloor(benchmark::State& state) {
    World& w = *g_world;
    std::vector<std::u16string> out;
    for (auto _ : state) benchmark::DoNotOptimize(w.raw->EnumSubkeys(bench::kDevicesKey, out));
}

BENCHMARK(GetDeviceIdsMember)->Name("GetDeviceIds/member");
BENCHMARK(GetDeviceIdsFloor)->Name("GetDeviceIds/floor_sqlite");

void DeviceExistsMember(benchmark::State& state) {
    World& w = *g_world;
    int64_t step = 0;
    for (auto _ : state) {
        boolean exists = 0;
        bench::Check(w.statics->DeviceExists(w.ids[DeviceAt(step++)].get(), &exists), "DeviceExists");
        benchmark::DoNotOptimize(exists);
    }
}

// The raw floor finds the key by its folded name (one walk) and then compares
// the stored spelling, as an exact-name test must.
void DeviceExistsFloor(benchmark::State& state) {
    World& w = *g_world;
    int64_t step = 0;
    for (auto _ : state) benchmark::DoNotOptimize(w.raw->KeyId(w.rawPaths[DeviceAt(step++)]));
}

BENCHMARK(DeviceExistsMember)->Name("DeviceExists/member");
BENCHMARK(DeviceExistsFloor)->Name("DeviceExists/floor_sqlite");

// ---- SetDisconnectionLoggingNeeded with 0, 1 and 10 handlers -------------

void SetLoggingMember(benchmark::State& state) {
    World& w = *g_world;
    const int handlers = static_cast<int>(state.range(0));
    std::atomic<int64_t> calls{0};
    std::vector<EventRegistrationToken> tokens;
    for (int i = 0; i < handlers; ++i) {
        GPSLoggingSettingsCallback* handler = nullptr;
        bench::Check(MakeGPSLoggingSettingsCallback(
                         [&calls](bool) { calls.fetch_add(1, std::memory_order_relaxed); }, &handler),
                     "MakeGPSLoggingSettingsCallback");
        EventRegistrationToken token{};
        bench::Check(w.statics->add_GPSLoggingSettingsChanged(handler, &token), "add_GPSLoggingSettingsChanged");
        handler->Release();
        tokens.push_back(token);
    }
    bool value = false;
    for (auto _ : state) {
        boolean written = 0;
        bench::Check(w.statics->SetDisconnectionLoggingNeeded(value, &written), "SetDisconnectionLoggingNeeded");
        value = !value;
        benchmark::DoNotOptimize(written);
    }
    for (EventRegistrationToken token : tokens) w.statics->remove_GPSLoggingSettingsChanged(token);
    if (calls.load() != state.iterations() * handlers) state.SkipWithError("a handler was not called");
}

// The member's registry write alone: open the service's key, set the value, close.
void SetLoggingFloor(benchmark::State& state) {
    DWORD value = 0;
    for (auto _ : state) {
        platform::UniqueHkey key;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, bench::kConnectionServiceKey, 0, KEY_SET_VALUE, key.put());
        benchmark::DoNotOptimize(RegSetValueExW(key.get(), u"DisconnectionLoggingNeeded", 0, REG_DWORD,
                                                reinterpret_cast<const BYTE*>(&value), sizeof value));
        value ^= 1;
    }
}

// The event's own cost, without a write's noise: with the service's key
// missing the write stops at the failed open, and the event is raised all the
// same. The floor is that failed open alone.
class ServiceKeyMissing {
public:
    ServiceKeyMissing() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, bench::kConnectionServiceKey); }
    ~ServiceKeyMissing() {
        platform::UniqueHkey key;
        const DWORD zero = 0;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, bench::kConnectionServiceKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        key.put(), nullptr);
        RegSetValueExW(key.get(), u"DisconnectionLoggingNeeded", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero),
                       sizeof zero);
    }
};

void SetLoggingNoKeyMember(benchmark::State& state) {
    ServiceKeyMissing missing;
    SetLoggingMember(state);
}

void SetLoggingNoKeyFloor(benchmark::State& state) {
    ServiceKeyMissing missing;
    for (auto _ : state) {
        platform::UniqueHkey key;
        benchmark::DoNotOptimize(
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, bench::kConnectionServiceKey, 0, KEY_SET_VALUE, key.put()));
    }
}

BENCHMARK(SetLoggingMember)->Name("SetDisconnectionLoggingNeeded/member/handlers")->Arg(0)->Arg(1)->Arg(10);
BENCHMARK(SetLoggingFloor)->Name("SetDisconnectionLoggingNeeded/floor_regwrite");
BENCHMARK(SetLoggingNoKeyMember)
    ->Name("SetDisconnectionLoggingNeeded[no key]/member/handlers")
    ->Arg(0)
    ->Arg(1)
    ->Arg(10);
BENCHMARK(SetLoggingNoKeyFloor)->Name("SetDisconnectionLoggingNeeded[no key]/floor_failed_open");

// ---- activation ----------------------------------------------------------

using GetFactoryEntry = HRESULT (*)(HSTRING, IActivationFactory**);

GetFactoryEntry ComponentEntry() {
    void* library = ::dlopen(MORVALA_COMPONENT_PATH, RTLD_NOW | RTLD_NOLOAD);
    void* symbol = library != nullptr ? ::dlsym(library, "DllGetActivationFactory") : nullptr;
    if (library != nullptr) ::dlclose(library);  // the loader keeps its own reference
    return reinterpret_cast<GetFactoryEntry>(symbol);
}

void ActivationFactoryMember(benchmark::State& state) {
    GetFactoryEntry entry = ComponentEntry();
    if (entry == nullptr) {
        state.SkipWithError("component not loaded");
        return;
    }
    platform::UniqueHString name = bench::MakeString(RuntimeClass_RpcWrapper);
    for (auto _ : state) {
        IActivationFactory* factory = nullptr;
        bench::Check(entry(name.get(), &factory), "DllGetActivationFactory");
        factory->Release();
    }
}

void ActivateInstanceMember(benchmark::State& state) {
    auto factory = bench::FactoryOf<IActivationFactory>(RuntimeClass_RpcWrapper);
    for (auto _ : state) {
        IInspectable* instance = nullptr;
        bench::Check(factory->ActivateInstance(&instance), "ActivateInstance");
        instance->Release();
    }
}

// The in-memory limit of making and dropping a counted object: one
// allocation, an atomic count up and down, the free.
struct Counted {
    std::atomic<unsigned> count{1};
    void* parts[4] = {};
};

void ActivationFloor(benchmark::State& state) {
    for (auto _ : state) {
        auto* object = new Counted;
        benchmark::DoNotOptimize(object);
        if (object->count.fetch_sub(1, std::memory_order_acq_rel) == 1) delete object;
    }
}

BENCHMARK(ActivationFactoryMember)->Name("DllGetActivationFactory/member");
BENCHMARK(ActivationFloor)->Name("DllGetActivationFactory/floor_alloc");
BENCHMARK(ActivateInstanceMember)->Name("ActivateInstance/member");
BENCHMARK(ActivationFloor)->Name("ActivateInstance/floor_alloc");

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    World world;
    g_world = &world;
    bench::Populate(bench::kDevices, bench::kValuesPerDevice);
    world.statics = bench::FactoryOf<__IRegistryManagerStatics>(RuntimeClass_RegistryManager);
    world.raw = std::make_unique<bench::RawStore>(world.root.StorePath());
    world.map = std::make_unique<bench::MapStore>(*world.raw);
    for (int d = 0; d < bench::kDevices; ++d) {
        world.ids.push_back(bench::MakeString(bench::DeviceName(d)));
        world.paths.push_back(bench::MakeString(bench::DevicePath(d)));
        world.rawPaths.push_back(bench::DevicePath(d));
        world.keyIds.push_back(world.raw->KeyId(bench::DevicePath(d)));
    }
    world.readName = bench::MakeString(kReadName);
    world.writeName = bench::MakeString(kWriteName);
    world.writeText = bench::MakeString(kWriteText);
    world.writeText2 = bench::MakeString(kWriteText2);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    world.statics.reset();
    return 0;
}
