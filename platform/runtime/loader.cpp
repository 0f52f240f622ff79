// The loader's table of loaded libraries. One recursive lock (the loader
// lock) guards the table and is held while a library's DllMain runs, as the
// platform's loader does; calls into DllGetActivationFactory run outside it,
// counted as "in flight" so that no unload closes a library under them.
#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "class_registrations.h"
#include "platform/activation.h"
#include "platform/comptr.h"
#include "platform/winstring.h"

namespace platform::loader {
namespace {

struct Library {
    std::string path;  // as registered; the table's key
    void* handle = nullptr;
    PFN_DllGetActivationFactory getActivationFactory = nullptr;
    PFN_DllCanUnloadNow canUnloadNow = nullptr;
    PFN_DllMain main = nullptr;
    unsigned inFlight = 0;             // activations running outside the lock
    bool threadCallsDisabled = false;  // recorded; no thread notifications are sent anyway
    bool detachedForExit = false;

    HINSTANCE Instance() { return reinterpret_cast<HINSTANCE>(this); }
};

class LibraryTable {
public:
    // The loaded library at path, loading it when needed, with its in-flight
    // count raised; the caller lowers it with Done(). On failure returns null
    // and sets *status.
    Library* Acquire(const std::string& path, HRESULT* status);
    void Done(Library* library);

    HRESULT CanUnloadNow(const std::string& path);
    HRESULT Unload(const std::string& path);
    void FreeUnused();
    void DetachAllForExit();
    BOOL DisableThreadCalls(HMODULE module);

private:
    Library* Find(const std::string& path);
    Library* Load(const std::string& path, HRESULT* status);
    HRESULT UnloadLocked(Library* library);
    void Erase(Library* library);

    std::recursive_mutex lock_;
    std::vector<std::unique_ptr<Library>> libraries_;  // in load order
    bool exiting_ = false;
};

// One key per library file: the resolved path when the file exists, so that
// two spellings of one path do not load and attach the library twice.
std::string KeyOf(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

LibraryTable& Table() {
    // Never destroyed: libraries may still be detached by the exit routine
    // after static destructors of this library would have run.
    static LibraryTable* table = new LibraryTable;
    return *table;
}

void RunExitRoutine() { RoUninitializeLibrariesForExit(); }

template <typename Function>
Function Entry(void* handle, const char* name) {
    return reinterpret_cast<Function>(dlsym(handle, name));
}

Library* LibraryTable::Find(const std::string& path) {
    for (auto& library : libraries_) {
        if (library->path == path) return library.get();
    }
    return nullptr;
}

Library* LibraryTable::Load(const std::string& path, HRESULT* status) {
    auto library = std::make_unique<Library>();
    library->path = path;
    library->handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library->handle == nullptr) {
        *status = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    library->getActivationFactory = Entry<PFN_DllGetActivationFactory>(library->handle, "DllGetActivationFactory");
    library->canUnloadNow = Entry<PFN_DllCanUnloadNow>(library->handle, "DllCanUnloadNow");
    library->main = Entry<PFN_DllMain>(library->handle, "DllMain");
    if (library->getActivationFactory == nullptr || library->canUnloadNow == nullptr) {
        dlclose(library->handle);
        *status = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    // In the table before DllMain runs, so that DisableThreadLibraryCalls
    // knows the instance handle.
    Library* loaded = library.get();
    libraries_.push_back(std::move(library));
    if (loaded->main != nullptr && !loaded->main(loaded->Instance(), DLL_PROCESS_ATTACH, nullptr)) {
        void* handle = loaded->handle;
        Erase(loaded);
        dlclose(handle);
        *status = HRESULT_FROM_WIN32(ERROR_DLL_INIT_FAILED);
        return nullptr;
    }
    // Registered after every load: exit handlers run in reverse order of
    // registration, so the detach runs before the static destructors that
    // this load of the library registered (it may use the objects they end).
    // The routine detaches each library once, however often it runs.
    std::atexit(RunExitRoutine);
    return loaded;
}

void LibraryTable::Erase(Library* library) {
    for (auto it = libraries_.begin(); it != libraries_.end(); ++it) {
        if (it->get() == library) {
            libraries_.erase(it);
            return;
        }
    }
}

Library* LibraryTable::Acquire(const std::string& path, HRESULT* status) {
    std::lock_guard guard(lock_);
    if (exiting_) {
        *status = HRESULT_FROM_WIN32(ERROR_PROCESS_ABORTED);
        return nullptr;
    }
    std::string key = KeyOf(path);
    Library* library = Find(key);
    if (library == nullptr) library = Load(key, status);
    if (library != nullptr) ++library->inFlight;
    return library;
}

void LibraryTable::Done(Library* library) {
    std::lock_guard guard(lock_);
    --library->inFlight;
}

HRESULT LibraryTable::CanUnloadNow(const std::string& path) {
    std::lock_guard guard(lock_);
    Library* library = Find(KeyOf(path));
    if (library == nullptr) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    return library->canUnloadNow() == S_OK ? S_OK : S_FALSE;
}

HRESULT LibraryTable::UnloadLocked(Library* library) {
    if (library->inFlight != 0 || library->detachedForExit || library->canUnloadNow() != S_OK) return S_FALSE;
    if (library->main != nullptr) library->main(library->Instance(), DLL_PROCESS_DETACH, nullptr);
    void* handle = library->handle;
    Erase(library);
    dlclose(handle);
    return S_OK;
}

HRESULT LibraryTable::Unload(const std::string& path) {
    std::lock_guard guard(lock_);
    Library* library = Find(KeyOf(path));
    if (library == nullptr) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    return UnloadLocked(library);
}

void LibraryTable::FreeUnused() {
    std::lock_guard guard(lock_);
    // Newest first, so that a library loaded by another one goes before it.
    for (size_t i = libraries_.size(); i > 0; --i) UnloadLocked(libraries_[i - 1].get());
}

void LibraryTable::DetachAllForExit() {
    std::lock_guard guard(lock_);
    exiting_ = true;
    static int processExiting = 1;  // the non-null reserved argument
    for (size_t i = libraries_.size(); i > 0; --i) {
        Library* library = libraries_[i - 1].get();
        if (library->detachedForExit) continue;
        library->detachedForExit = true;
        if (library->main != nullptr) library->main(library->Instance(), DLL_PROCESS_DETACH, &processExiting);
    }
}

BOOL LibraryTable::DisableThreadCalls(HMODULE module) {
    std::lock_guard guard(lock_);
    for (auto& library : libraries_) {
        if (library->Instance() == module) {
            library->threadCallsDisabled = true;
            return 1;
        }
    }
    return 0;
}

// The UTF-8 class name of an HSTRING, or nothing when it cannot name a class.
std::optional<std::string> ClassNameOf(HSTRING activatableClassId) {
    UINT32 length = 0;
    const WCHAR* units = WindowsGetStringRawBuffer(activatableClassId, &length);
    return ClassNameToUtf8(units, length);
}

HRESULT ActivationFactoryFrom(Library* library, HSTRING activatableClassId, REFIID iid, void** factory) {
    ComPtr<IActivationFactory> activationFactory;
    HRESULT hr = library->getActivationFactory(activatableClassId, activationFactory.put());
    if (FAILED(hr)) return hr;
    if (!activationFactory) return E_UNEXPECTED;  // a library that claims success must give a factory
    return activationFactory->QueryInterface(iid, factory);
}

HRESULT GetActivationFactory(HSTRING activatableClassId, REFIID iid, void** factory) {
    if (WindowsGetStringLen(activatableClassId) == 0) return E_INVALIDARG;
    std::optional<std::string> name = ClassNameOf(activatableClassId);
    if (!name) return REGDB_E_CLASSNOTREG;
    std::optional<std::string> path = FindServingLibrary(*name);
    if (!path) return REGDB_E_CLASSNOTREG;
    HRESULT status = S_OK;
    Library* library = Table().Acquire(*path, &status);
    if (library == nullptr) return status;
    HRESULT hr = ActivationFactoryFrom(library, activatableClassId, iid, factory);
    Table().Done(library);
    return hr;
}

}  // namespace
}  // namespace platform::loader

extern "C" {

HRESULT RoGetActivationFactory(HSTRING activatableClassId, REFIID iid, void** factory) {
    if (factory == nullptr) return E_POINTER;
    *factory = nullptr;
    try {
        return platform::loader::GetActivationFactory(activatableClassId, iid, factory);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT RoQueryLibraryCanUnloadNow(const char* libraryPath) {
    if (libraryPath == nullptr) return E_INVALIDARG;
    try {
        return platform::loader::Table().CanUnloadNow(libraryPath);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT RoUnloadLibrary(const char* libraryPath) {
    if (libraryPath == nullptr) return E_INVALIDARG;
    try {
        return platform::loader::Table().Unload(libraryPath);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

void RoFreeUnusedLibraries(void) { platform::loader::Table().FreeUnused(); }

void RoUninitializeLibrariesForExit(void) { platform::loader::Table().DetachAllForExit(); }

BOOL DisableThreadLibraryCalls(HMODULE module) { return platform::loader::Table().DisableThreadCalls(module); }

}  // extern "C"
