#include "fault_vfs.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>

namespace reliability {

namespace {

struct State {
    std::atomic<uint64_t> writes{0}, syncs{0}, truncates{0};
    std::atomic<int> kind{-1};  // FaultKind, -1 when disarmed
    std::atomic<uint64_t> at{0};
    std::atomic<bool> persistent{false};
    std::atomic<uint64_t> injected{0};
};

State& Faults() {
    static State state;
    return state;
}

sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_shim{};

// Our file: the methods pointer SQLite sees, then the real file in the rest.
struct ShimFile {
    sqlite3_file base;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

ShimFile* Shim(sqlite3_file* file) { return reinterpret_cast<ShimFile*>(file); }
sqlite3_file* Real(sqlite3_file* file) { return Shim(file)->real(); }

// Counts one operation of `kind` and answers whether it is to fail.
bool Fails(FaultKind kind, std::atomic<uint64_t>& counter) {
    uint64_t n = counter.fetch_add(1) + 1;
    State& state = Faults();
    if (state.kind.load() != static_cast<int>(kind)) return false;
    uint64_t at = state.at.load();
    bool fail = n == at || (state.persistent.load() && n > at);
    if (fail) state.injected.fetch_add(1);
    return fail;
}

int Close(sqlite3_file* f) {
    int rc = Real(f)->pMethods != nullptr ? Real(f)->pMethods->xClose(Real(f)) : SQLITE_OK;
    return rc;
}
int Read(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
    return Real(f)->pMethods->xRead(Real(f), buffer, amount, offset);
}
int Write(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
    if (Fails(FaultKind::Write, Faults().writes)) return SQLITE_IOERR_WRITE;
    return Real(f)->pMethods->xWrite(Real(f), buffer, amount, offset);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
    if (Fails(FaultKind::Truncate, Faults().truncates)) return SQLITE_IOERR_TRUNCATE;
    return Real(f)->pMethods->xTruncate(Real(f), size);
}
int Sync(sqlite3_file* f, int flags) {
    if (Fails(FaultKind::Sync, Faults().syncs)) return SQLITE_IOERR_FSYNC;
    return Real(f)->pMethods->xSync(Real(f), flags);
}
int FileSize(sqlite3_file* f, sqlite3_int64* size) { return Real(f)->pMethods->xFileSize(Real(f), size); }
int Lock(sqlite3_file* f, int level) { return Real(f)->pMethods->xLock(Real(f), level); }
int Unlock(sqlite3_file* f, int level) { return Real(f)->pMethods->xUnlock(Real(f), level); }
int CheckReservedLock(sqlite3_file* f, int* out) { return Real(f)->pMethods->xCheckReservedLock(Real(f), out); }
int FileControl(sqlite3_file* f, int op, void* arg) {
    // The file pointers SQLite hands out must be the ones whose methods it
    // knows: ours. Everything else goes to the real file.
    return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int DeviceCharacteristics(sqlite3_file* f) { return Real(f)->pMethods->xDeviceCharacteristics(Real(f)); }
int ShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
    return Real(f)->pMethods->xShmMap(Real(f), page, size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
    return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
int ShmUnmap(sqlite3_file* f, int deleteFlag) { return Real(f)->pMethods->xShmUnmap(Real(f), deleteFlag); }
int Fetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
    return Real(f)->pMethods->xFetch(Real(f), offset, amount, out);
}
int Unfetch(sqlite3_file* f, sqlite3_int64 offset, void* page) {
    return Real(f)->pMethods->xUnfetch(Real(f), offset, page);
}

const sqlite3_io_methods kMethods = {3,        Close,     Read,          Write,       Truncate,          Sync,
                                     FileSize, Lock,      Unlock,        CheckReservedLock, FileControl,
                                     SectorSize, DeviceCharacteristics, ShmMap, ShmLock, ShmBarrier, ShmUnmap,
                                     Fetch,    Unfetch};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    ShimFile* shim = Shim(file);
    shim->base.pMethods = nullptr;
    int rc = g_real->xOpen(g_real, name, shim->real(), flags, outFlags);
    if (shim->real()->pMethods != nullptr) shim->base.pMethods = &kMethods;
    return rc;
}

int Delete(sqlite3_vfs*, const char* name, int syncDir) { return g_real->xDelete(g_real, name, syncDir); }
int Access(sqlite3_vfs*, const char* name, int flags, int* out) { return g_real->xAccess(g_real, name, flags, out); }
int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    return g_real->xFullPathname(g_real, name, size, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) { return g_real->xDlOpen(g_real, name); }
void DlError(sqlite3_vfs*, int size, char* out) { g_real->xDlError(g_real, size, out); }
void (*DlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) { return g_real->xDlSym(g_real, handle, symbol); }
void DlClose(sqlite3_vfs*, void* handle) { g_real->xDlClose(g_real, handle); }
int Randomness(sqlite3_vfs*, int size, char* out) { return g_real->xRandomness(g_real, size, out); }
int Sleep(sqlite3_vfs*, int micro) { return g_real->xSleep(g_real, micro); }
int CurrentTime(sqlite3_vfs*, double* out) { return g_real->xCurrentTime(g_real, out); }
int GetLastError(sqlite3_vfs*, int size, char* out) { return g_real->xGetLastError(g_real, size, out); }
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return g_real->xCurrentTimeInt64(g_real, out); }

}  // namespace

bool FaultVfs::Install() {
    if (g_real != nullptr) return true;
    sqlite3_vfs* real = sqlite3_vfs_find("unix");
    if (real == nullptr || real->iVersion < 2) return false;
    g_real = real;
    g_shim.iVersion = 2;
    g_shim.szOsFile = static_cast<int>(sizeof(ShimFile)) + real->szOsFile;
    g_shim.mxPathname = real->mxPathname;
    g_shim.zName = "morvala-fault";
    g_shim.xOpen = Open;
    g_shim.xDelete = Delete;
    g_shim.xAccess = Access;
    g_shim.xFullPathname = FullPathname;
    g_shim.xDlOpen = DlOpen;
    g_shim.xDlError = DlError;
    g_shim.xDlSym = DlSym;
    g_shim.xDlClose = DlClose;
    g_shim.xRandomness = Randomness;
    g_shim.xSleep = Sleep;
    g_shim.xCurrentTime = CurrentTime;
    g_shim.xGetLastError = GetLastError;
    g_shim.xCurrentTimeInt64 = CurrentTimeInt64;
    return sqlite3_vfs_register(&g_shim, 1) == SQLITE_OK;
}

void FaultVfs::Arm(FaultKind kind, uint64_t n, FaultMode mode) {
    State& state = Faults();
    state.kind = -1;
    state.writes = 0;
    state.syncs = 0;
    state.truncates = 0;
    state.injected = 0;
    state.at = n;
    state.persistent = mode == FaultMode::Persistent;
    state.kind = static_cast<int>(kind);
}

void FaultVfs::Disarm() {
    State& state = Faults();
    state.kind = -1;
    state.writes = 0;
    state.syncs = 0;
    state.truncates = 0;
}

FaultCounts FaultVfs::Seen() {
    State& state = Faults();
    return FaultCounts{state.writes.load(), state.syncs.load(), state.truncates.load()};
}

uint64_t FaultVfs::Injected() { return Faults().injected.load(); }

}  // namespace reliability
