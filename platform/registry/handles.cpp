#include "handles.h"

#include <mutex>
#include <vector>

#include "store_cache.h"

namespace platform::registry {

namespace {

static_assert(sizeof(uintptr_t) == 8, "handle values are laid out for 64-bit pointers");

// Handle value: bit 52 set, generation in bits 20..51, slot index + 1 in bits
// 0..19. Never 0, never equal to a predefined root's value.
constexpr uint64_t kTag = uint64_t{1} << 52;
constexpr unsigned kIndexBits = 20;
constexpr uint64_t kIndexMask = (uint64_t{1} << kIndexBits) - 1;
constexpr size_t kMaxSlots = kIndexMask - 1;

struct Slot {
    KeyRef ref;
    uint32_t generation = 0;
    bool used = false;
};

struct Table {
    std::mutex mutex;
    std::vector<Slot> slots;
    std::vector<uint32_t> free;
    uint32_t open = 0;
};

Table& TheTable() {
    static Table* table = new Table;  // never destroyed: handles may be closed during exit
    return *table;
}

HKEY Encode(uint32_t index, uint32_t generation) noexcept {
    uint64_t value = kTag | (uint64_t{generation} << kIndexBits) | (uint64_t{index} + 1);
    return reinterpret_cast<HKEY>(static_cast<uintptr_t>(value));
}

// The slot a handle names while it is open, else nullptr. Needs the table's lock.
Slot* Find(Table& table, HKEY key) noexcept {
    uint64_t value = reinterpret_cast<uintptr_t>(key);
    if ((value & ~((uint64_t{0xFFFFFFFF} << kIndexBits) | kIndexMask)) != kTag) return nullptr;
    uint64_t index = (value & kIndexMask);
    if (index == 0 || index > table.slots.size()) return nullptr;
    Slot& slot = table.slots[index - 1];
    uint32_t generation = static_cast<uint32_t>(value >> kIndexBits);
    return slot.used && slot.generation == generation ? &slot : nullptr;
}

}  // namespace

LONG ResolveKey(HKEY key, KeyRef& out) {
    if (IsRootHandle(key)) {
        out.id = kRootKeyId;
        out.access = KEY_ALL_ACCESS;
        return CurrentStore(out.store);
    }
    Table& table = TheTable();
    std::lock_guard lock(table.mutex);
    Slot* slot = Find(table, key);
    if (slot == nullptr) return ERROR_INVALID_HANDLE;
    out = slot->ref;
    return ERROR_SUCCESS;
}

LONG OpenHandle(KeyRef ref, HKEY& out) {
    Table& table = TheTable();
    std::lock_guard lock(table.mutex);
    uint32_t index;
    if (!table.free.empty()) {
        index = table.free.back();
        table.free.pop_back();
    } else {
        if (table.slots.size() >= kMaxSlots) return ERROR_NOT_ENOUGH_MEMORY;
        table.slots.emplace_back();
        table.free.reserve(table.slots.size());  // so that closing never allocates
        index = static_cast<uint32_t>(table.slots.size() - 1);
    }
    Slot& slot = table.slots[index];
    slot.ref = std::move(ref);
    slot.used = true;
    ++table.open;
    out = Encode(index, slot.generation);
    return ERROR_SUCCESS;
}

LONG CloseHandle(HKEY key) {
    Table& table = TheTable();
    std::shared_ptr<Store> released;  // dropped after the lock is let go
    std::lock_guard lock(table.mutex);
    Slot* slot = Find(table, key);
    if (slot == nullptr) return ERROR_INVALID_HANDLE;
    released = std::move(slot->ref.store);
    slot->used = false;
    ++slot->generation;
    --table.open;
    table.free.push_back(static_cast<uint32_t>(slot - table.slots.data()));
    return ERROR_SUCCESS;
}

uint32_t OpenHandleCount() noexcept {
    Table& table = TheTable();
    std::lock_guard lock(table.mutex);
    return table.open;
}

}  // namespace platform::registry
