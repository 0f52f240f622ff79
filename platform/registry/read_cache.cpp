#include "read_cache.h"

#include <cstring>
#include <memory>
#include <utility>

namespace platform::registry {

void ReadCache::Sync(const WalStamp& stamp) {
    if (valid_ && stamp == stamp_) return;
    Clear();
    stamp_ = stamp;
    valid_ = true;
}

void ReadCache::Clear() {
    children_.clear();
    keys_.clear();
    values_.clear();
    valueLists_.clear();
    subkeyLists_.clear();
    stats_.clear();
    entries_ = 0;
}

const std::string& ReadCache::Compose(int64_t id, const std::string& folded) {
    composed_.resize(sizeof id);
    std::memcpy(composed_.data(), &id, sizeof id);
    composed_.append(folded);
    return composed_;
}

void ReadCache::Admit(size_t entries) {
    if (entries_ + entries > kMaxEntries) Clear();
    entries_ += entries;
}

const int64_t* ReadCache::Child(int64_t parent, const std::string& folded) {
    auto found = children_.find(Compose(parent, folded));
    return found != children_.end() ? &found->second : nullptr;
}

std::optional<bool> ReadCache::KeyExists(int64_t key) const {
    auto found = keys_.find(key);
    return found != keys_.end() ? std::optional<bool>(found->second) : std::nullopt;
}

const std::optional<CachedValue>* ReadCache::Value(int64_t key, const std::string& folded) {
    auto found = values_.find(Compose(key, folded));
    return found != values_.end() ? &found->second : nullptr;
}

const std::vector<CachedValue>* ReadCache::Values(int64_t key) const {
    auto found = valueLists_.find(key);
    return found != valueLists_.end() ? &found->second : nullptr;
}

const std::vector<CachedSubkey>* ReadCache::Subkeys(int64_t key) const {
    auto found = subkeyLists_.find(key);
    return found != subkeyLists_.end() ? &found->second : nullptr;
}

const KeyStats* ReadCache::Stats(int64_t key) const {
    auto found = stats_.find(key);
    return found != stats_.end() ? &found->second : nullptr;
}

void ReadCache::PutChild(int64_t parent, const std::string& folded, int64_t child) {
    Admit(1);
    children_[Compose(parent, folded)] = child;
}

void ReadCache::PutKeyExists(int64_t key, bool exists) {
    Admit(1);
    keys_[key] = exists;
}

void ReadCache::PutValue(int64_t key, const std::string& folded, std::optional<CachedValue> value) {
    Admit(1);
    values_[Compose(key, folded)] = std::move(value);
}

const std::vector<CachedValue>& ReadCache::PutValues(int64_t key, std::vector<CachedValue> list) {
    Admit(1 + list.size());
    return valueLists_[key] = std::move(list);
}

const std::vector<CachedSubkey>& ReadCache::PutSubkeys(int64_t key, std::vector<CachedSubkey> list) {
    Admit(1 + list.size());
    return subkeyLists_[key] = std::move(list);
}

void ReadCache::PutStats(int64_t key, const KeyStats& stats) {
    Admit(1);
    stats_[key] = stats;
}

namespace {

struct ThreadCaches {
    static constexpr size_t kMaxStores = 8;
    std::vector<std::pair<uint64_t, std::unique_ptr<ReadCache>>> byStore;
};

}  // namespace

ReadCache& ThreadReadCache(uint64_t store) {
    thread_local ThreadCaches caches;
    for (auto& [serial, cache] : caches.byStore) {
        if (serial == store) return *cache;
    }
    if (caches.byStore.size() >= ThreadCaches::kMaxStores) caches.byStore.clear();
    caches.byStore.emplace_back(store, std::make_unique<ReadCache>());
    return *caches.byStore.back().second;
}

ReadMode& ThreadReadMode() noexcept {
    thread_local ReadMode mode;
    return mode;
}

}  // namespace platform::registry
