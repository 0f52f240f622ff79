// Store lifecycle: opening and checking the file, the connection per process
// (remade in a child after fork), transactions, and flushing to disk.
#include "store.h"

#include <pthread.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "connection.h"
#include "read_cache.h"

namespace platform::registry {

namespace {

std::atomic<unsigned> g_forkGeneration{0};
std::atomic<uint64_t> g_storeSerial{0};

// Size of the WAL-index's first region, as SQLite maps it.
constexpr int kWalIndexRegionBytes = 32768;
// The WAL-index header: two copies of 48 bytes at the start of the -shm
// file. A writer stores the second copy, then the first; byte 12 of a copy
// (isInit) is 1 once the header has been initialised.
constexpr size_t kStampWords = 12;
constexpr size_t kIsInitByte = 12;

// Sets the calling thread's read mode for one scope.
class ReadModeScope {
public:
    ReadModeScope(ReadCache* cache, bool cacheOnly) noexcept : mode_(ThreadReadMode()), saved_(mode_) {
        mode_ = ReadMode{cache, cacheOnly};
    }
    ~ReadModeScope() { mode_ = saved_; }
    ReadModeScope(const ReadModeScope&) = delete;
    ReadModeScope& operator=(const ReadModeScope&) = delete;

private:
    ReadMode& mode_;
    ReadMode saved_;
};

// A child after fork() must not use its parent's SQLite connections.
[[maybe_unused]] const bool g_atforkRegistered =
    pthread_atfork(nullptr, nullptr, [] { g_forkGeneration.fetch_add(1, std::memory_order_relaxed); }) == 0;

// Ticks of 100 ns since 1601-01-01 (FILETIME), now.
int64_t NowFileTime() noexcept {
    constexpr int64_t kUnixEpochAsFileTime = 116444736000000000;
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return kUnixEpochAsFileTime + std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
}

// Runs a statement that returns nothing needed; a SQLite result code.
int Exec(sqlite3* db, const char* sql) noexcept { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

// What an open failure means to the caller: a store that is not there and
// cannot be made, one it may not read, or another failure.
LONG OpenFailure(int rc, const std::string& path) noexcept {
    if ((rc & 0xFF) != SQLITE_CANTOPEN) return ErrorFromSqlite(rc);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return errno == ENOENT ? kStoreAbsent : ERROR_ACCESS_DENIED;
    return ERROR_ACCESS_DENIED;
}

// A store of this build's layout, one of an older layout this build reads
// and upgrades, or an empty file.
enum class Identity { Ours, Older, Fresh };

// Reads the file's marks without writing anything. ERROR_BADDB for a file
// that is damaged, another program's database, or a newer layout.
LONG CheckIdentity(sqlite3* db, Identity& identity) noexcept {
    Statement probe;
    int rc = probe.Prepare(db,
                           "SELECT (SELECT application_id FROM pragma_application_id),"
                           " (SELECT user_version FROM pragma_user_version),"
                           " (SELECT count(*) FROM sqlite_master)");
    if (rc != SQLITE_OK) return ErrorFromSqlite(rc);
    Query query(probe);
    rc = query.Step();
    if (rc != SQLITE_ROW) return ErrorFromSqlite(rc);
    int64_t application = query.Int(0), version = query.Int(1), objects = query.Int(2);
    if (application == kApplicationId && version == kSchemaVersion) {
        identity = Identity::Ours;
        return ERROR_SUCCESS;
    }
    if (application == kApplicationId && version >= kOldestSchemaVersion && version < kSchemaVersion) {
        identity = Identity::Older;
        return ERROR_SUCCESS;
    }
    if (application == 0 && version == 0 && objects == 0) {
        identity = Identity::Fresh;
        return ERROR_SUCCESS;
    }
    return ERROR_BADDB;
}

LONG EnableWal(sqlite3* db) noexcept {
    Statement pragma;
    int rc = pragma.Prepare(db, "PRAGMA journal_mode=WAL");
    if (rc != SQLITE_OK) return ErrorFromSqlite(rc);
    Query query(pragma);
    rc = query.Step();
    if (rc != SQLITE_ROW) return ErrorFromSqlite(rc);
    const unsigned char* mode = sqlite3_column_text(pragma.get(), 0);
    return mode != nullptr && std::strcmp(reinterpret_cast<const char*>(mode), "wal") == 0
               ? ERROR_SUCCESS
               : ERROR_REGISTRY_IO_FAILED;
}

// Creates the tables in a fresh file, unless another process did meanwhile.
LONG CreateSchema(sqlite3* db) noexcept {
    if (int rc = Exec(db, "BEGIN IMMEDIATE"); rc != SQLITE_OK) return ErrorFromSqlite(rc);
    Identity identity = Identity::Fresh;
    LONG status = CheckIdentity(db, identity);
    if (status == ERROR_SUCCESS && identity == Identity::Fresh) {
        char* sql = sqlite3_mprintf(kCreateSchemaSql, static_cast<long long>(NowFileTime()));
        status = sql != nullptr ? ErrorFromSqlite(Exec(db, sql)) : ERROR_OUTOFMEMORY;
        sqlite3_free(sql);
    }
    if (status == ERROR_SUCCESS) status = ErrorFromSqlite(Exec(db, "COMMIT"));
    if (status != ERROR_SUCCESS && sqlite3_get_autocommit(db) == 0) Exec(db, "ROLLBACK");
    return status;
}

// Brings a store of an older layout to this build's, unless another process
// did meanwhile. Layout 1 differs only in having no time rows among the
// values, which layout 2 reads as keys whose values were never written since,
// so the upgrade only marks the file; builds that know layout 1 alone then
// refuse it instead of showing time rows as values.
LONG UpgradeSchema(sqlite3* db) noexcept {
    if (int rc = Exec(db, "BEGIN IMMEDIATE"); rc != SQLITE_OK) return ErrorFromSqlite(rc);
    Identity identity = Identity::Fresh;
    LONG status = CheckIdentity(db, identity);
    if (status == ERROR_SUCCESS && identity == Identity::Older) {
        char* sql = sqlite3_mprintf("PRAGMA user_version=%d", kSchemaVersion);
        status = sql != nullptr ? ErrorFromSqlite(Exec(db, sql)) : ERROR_OUTOFMEMORY;
        sqlite3_free(sql);
    }
    if (status == ERROR_SUCCESS) status = ErrorFromSqlite(Exec(db, "COMMIT"));
    if (status != ERROR_SUCCESS && sqlite3_get_autocommit(db) == 0) Exec(db, "ROLLBACK");
    return status;
}

}  // namespace

unsigned ForkGeneration() noexcept { return g_forkGeneration.load(std::memory_order_relaxed); }

Store::Store(std::string path) : path_(std::move(path)), serial_(++g_storeSerial) {}

Store::~Store() = default;

LONG Store::Open(const std::string& path, std::shared_ptr<Store>& out) {
    std::shared_ptr<Store> store(new Store(path));
    std::lock_guard lock(store->mutex_);
    if (LONG status = store->Connect()) return status;
    out = std::move(store);
    return ERROR_SUCCESS;
}

std::shared_ptr<Store> Store::EmptyReadOnly() {
    std::shared_ptr<Store> store(new Store(":memory:"));
    store->memory_ = true;
    std::lock_guard lock(store->mutex_);
    // An in-memory database fails only when memory runs out; the store then
    // stays unconnected and every call on it reports that failure.
    store->Connect();
    return store;
}

LONG Store::Connect() {
    auto connection = std::make_unique<StoreConnection>();
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | (memory_ ? SQLITE_OPEN_MEMORY : 0);
    int rc = sqlite3_open_v2(path_.c_str(), &connection->db, flags, nullptr);
    if (rc != SQLITE_OK) return OpenFailure(rc, path_);
    sqlite3* db = connection->db;
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);

    Identity identity = Identity::Fresh;
    if (LONG status = CheckIdentity(db, identity)) return status;
    bool readOnly = sqlite3_db_readonly(db, "main") == 1;
    if (!readOnly && !memory_) {
        if (LONG status = EnableWal(db)) return status;
    }
    if (int r = Exec(db, "PRAGMA synchronous=NORMAL"); r != SQLITE_OK) return ErrorFromSqlite(r);
    // Keep the -wal and -shm files when the last connection closes, so that a
    // process that may only read the folder can still open the store.
    int persist = 1;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    if (identity == Identity::Fresh) {
        if (readOnly) return kStoreAbsent;
        if (LONG status = CreateSchema(db)) return status;
    }
    // A store of an older layout that this process may only read is read as
    // it is.
    if (identity == Identity::Older && !readOnly) {
        if (LONG status = UpgradeSchema(db)) return status;
    }
    if (int r = connection->PrepareAll(); r != SQLITE_OK) return ErrorFromSqlite(r);

    struct stat info {};
    if (!memory_ && ::stat(path_.c_str(), &info) == 0) {
        device_ = info.st_dev;
        inode_ = info.st_ino;
    }
    readOnly_ = readOnly || memory_;
    connection_ = std::move(connection);
    forkGeneration_ = ForkGeneration();
    MapWalIndex();
    return ERROR_SUCCESS;
}

void Store::MapWalIndex() {
    // Only a store this process writes keeps a WAL index that every commit
    // updates in place; read-only opens may read a private copy of it.
    walIndex_.store(nullptr, std::memory_order_release);
    if (readOnly_ || memory_) return;
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(connection_->db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK ||
        file == nullptr || file->pMethods == nullptr || file->pMethods->iVersion < 2 ||
        file->pMethods->xShmMap == nullptr) {
        return;
    }
    // The connection has read the database (the identity check), so its
    // shared memory exists; the mapping lives as long as the connection.
    void volatile* region = nullptr;
    if (file->pMethods->xShmMap(file, 0, kWalIndexRegionBytes, 0, &region) != SQLITE_OK || region == nullptr) return;
    walIndex_.store(const_cast<const uint32_t*>(static_cast<volatile uint32_t*>(region)), std::memory_order_release);
}

bool Store::ReadStamp(WalStamp& out) const noexcept {
    const uint32_t* index = walIndex_.load(std::memory_order_acquire);
    if (index == nullptr) return false;
    // The first copy, then the second (acquire loads keep that order): equal
    // copies were not being written.
    for (size_t i = 0; i < kStampWords; ++i) out.words[i] = __atomic_load_n(index + i, __ATOMIC_ACQUIRE);
    for (size_t i = 0; i < kStampWords; ++i) {
        if (__atomic_load_n(index + kStampWords + i, __ATOMIC_RELAXED) != out.words[i]) return false;
    }
    unsigned char isInit = 0;
    std::memcpy(&isInit, reinterpret_cast<const unsigned char*>(out.words) + kIsInitByte, 1);
    return isInit == 1;
}

LONG Store::EnsureConnected() {
    if (connection_ != nullptr && forkGeneration_ == ForkGeneration()) return ERROR_SUCCESS;
    // A connection inherited through fork() belongs to the parent: closing it
    // here could disturb the parent's locks, so it is abandoned, not closed.
    if (connection_ != nullptr) static_cast<void>(connection_.release());
    return Connect();
}

bool Store::StillAt(const std::string& path) const noexcept {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && info.st_dev == device_ && info.st_ino == inode_;
}

LONG Store::Transact(bool write, FunctionRef<LONG()> body) {
    WalStamp stamp;
    if (write || !ReadStamp(stamp)) {
        ReadModeScope uncached(nullptr, false);
        return TransactLocked(write, body);
    }
    ReadCache& cache = ThreadReadCache(serial_);
    cache.Sync(stamp);
    {
        ReadModeScope mode(&cache, true);
        LONG result = kCacheMiss;
        try {
            result = body();
        } catch (...) {
            // Only allocation can throw; the locked run below reports it.
        }
        if (result != kCacheMiss) return result;
    }
    // The stamp was taken before this transaction starts, so what it puts in
    // the cache is never older than the stamp the cache is kept under.
    ReadModeScope mode(&cache, false);
    return TransactLocked(false, body);
}

LONG Store::TransactLocked(bool write, FunctionRef<LONG()> body) {
    std::lock_guard lock(mutex_);
    if (LONG status = EnsureConnected()) return status == kStoreAbsent ? ERROR_FILE_NOT_FOUND : status;
    if (write && readOnly_) return ERROR_ACCESS_DENIED;
    StoreConnection& connection = *connection_;
    {
        Query begin(write ? connection.beginWrite : connection.beginRead);
        if (int rc = begin.Step(); rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    }
    now_ = write ? NowFileTime() : 0;
    liveKey_ = 0;
    LONG result = ERROR_OUTOFMEMORY;
    try {
        result = body();
    } catch (...) {
        // Only allocation can throw in a body; the transaction is rolled back below.
    }
    if (result == ERROR_SUCCESS) {
        Query commit(connection.commit);
        int rc = commit.Step();
        if (rc == SQLITE_DONE) return ERROR_SUCCESS;
        result = ErrorFromSqlite(rc);
    }
    if (sqlite3_get_autocommit(connection.db) == 0) {
        Query rollback(connection.rollback);
        rollback.Step();
    }
    return result;
}

LONG Store::Sync() {
    std::lock_guard lock(mutex_);
    if (LONG status = EnsureConnected()) return status;
    if (memory_) return ERROR_SUCCESS;
    // Committed transactions live in the WAL until a checkpoint copies them;
    // syncing the WAL and then the database file makes all of them durable.
    for (int op : {SQLITE_FCNTL_JOURNAL_POINTER, SQLITE_FCNTL_FILE_POINTER}) {
        sqlite3_file* file = nullptr;
        if (sqlite3_file_control(connection_->db, "main", op, &file) != SQLITE_OK) continue;
        if (file == nullptr || file->pMethods == nullptr) continue;
        if (int rc = file->pMethods->xSync(file, SQLITE_SYNC_NORMAL); rc != SQLITE_OK) return ErrorFromSqlite(rc);
    }
    return ERROR_SUCCESS;
}

}  // namespace platform::registry
