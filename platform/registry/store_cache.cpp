#include "store_cache.h"

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "platform/deviceroot.h"
#include "platform/errors.h"

namespace platform::registry {

namespace {

struct Cache {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<Store>> byPath;
    // The MORVALA_ROOT text of the last lookup and its store: the common case
    // (the same root as last time) costs one string comparison.
    std::string lastRootSetting;
    std::shared_ptr<Store> last;
    // Changes whenever `last` is replaced, so that a thread's lent store is
    // given up when the process's is.
    std::atomic<uint64_t> generation{0};
};

// A thread's lent store, with the root setting and generation it was taken under.
struct ThreadStore {
    std::string setting;
    uint64_t generation = 0;
    std::shared_ptr<Store> store;
    bool reusable = false;  // the process keeps it as its current store
};

Cache& TheCache() {
    // Never destroyed: handles may still use their stores while the process exits.
    static Cache* cache = new Cache;
    return *cache;
}

// Opens the store at path, or finds it open. A file replaced under the same
// path (a root folder deleted and made again) gets a new store.
LONG Lookup(Cache& cache, const std::string& path, std::shared_ptr<Store>& out) {
    auto found = cache.byPath.find(path);
    if (found != cache.byPath.end() && found->second->StillAt(path)) {
        out = found->second;
        return ERROR_SUCCESS;
    }
    try {
        EnsureDeviceRoot();
    } catch (const RuntimeError&) {
        out = Store::EmptyReadOnly();
        return ERROR_SUCCESS;
    }
    std::shared_ptr<Store> store;
    LONG status = Store::Open(path, store);
    if (status == kStoreAbsent) {
        out = Store::EmptyReadOnly();
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) return status;
    cache.byPath[path] = store;
    out = std::move(store);
    return ERROR_SUCCESS;
}

}  // namespace

LONG CurrentStore(std::shared_ptr<Store>& out) {
    Cache& cache = TheCache();
    const char* setting = std::getenv("MORVALA_ROOT");
    std::lock_guard lock(cache.mutex);
    if (setting != nullptr && *setting != '\0' && cache.last != nullptr && cache.lastRootSetting == setting) {
        out = cache.last;
        return ERROR_SUCCESS;
    }
    cache.last.reset();
    cache.lastRootSetting.clear();
    cache.generation.fetch_add(1, std::memory_order_release);
    std::string path = DeviceRoot() + "/registry.db";
    if (LONG status = Lookup(cache, path, out)) return status;
    bool kept = cache.byPath.count(path) != 0 && cache.byPath[path] == out;
    if (setting != nullptr && *setting != '\0' && kept) {
        cache.lastRootSetting = setting;
        cache.last = out;
    }
    return ERROR_SUCCESS;
}

}  // namespace platform::registry

namespace platform::registry {

LONG CurrentStoreForThread(Store*& out) {
    thread_local ThreadStore mine;
    Cache& cache = TheCache();
    const char* setting = std::getenv("MORVALA_ROOT");
    if (mine.reusable && setting != nullptr && mine.setting == setting &&
        mine.generation == cache.generation.load(std::memory_order_acquire)) {
        out = mine.store.get();
        return ERROR_SUCCESS;
    }
    // Taken before the lookup: a replacement meanwhile makes the next call look again.
    const uint64_t generation = cache.generation.load(std::memory_order_acquire);
    std::shared_ptr<Store> store;
    if (LONG status = CurrentStore(store)) return status;
    {
        // Only a store the process keeps as its current one is lent again
        // without a lookup (an absent root's empty store is looked up anew).
        std::lock_guard lock(cache.mutex);
        mine.reusable = cache.last == store;
    }
    mine.store = std::move(store);
    mine.setting = setting != nullptr ? setting : "";
    mine.generation = generation;
    out = mine.store.get();
    return ERROR_SUCCESS;
}

}  // namespace platform::registry
