// The loader: maps a runtime class's full name to the library that serves it,
// loads that library, runs its load sequence and asks it for the class's
// activation factory; unloads libraries that say they may go; and runs every
// loaded library's detach when the process exits.
//
// Registration table. A class is served by the library that a programmatic
// registration (RoRegisterActivatableClass) names, else by the one that the
// manifest file names. The manifest is the text file named by the environment
// variable MORVALA_MANIFEST (read anew on every lookup of a class that has no
// programmatic registration), in UTF-8, one registration a line:
//
//     # comment
//     MorvalaFrameworkUiWinPRT.RegistryManager = /opt/app/lib/libMorvalaFrameworkUiWinPRT.so
//     MorvalaFrameworkUiWinPRT.WinPRTUtils.Utils=lib/libMorvalaFrameworkUiWinPRT.so
//
// Blank lines and lines whose first non-blank character is '#' are skipped;
// blanks around the name and the path are dropped; a line without '=' or with
// an empty name or path is skipped. A relative path is relative to the folder
// of the manifest. Names compare exactly (ordinal, case-sensitive); the first
// line naming a class wins.
//
// Libraries. A library is loaded once (dlopen RTLD_NOW | RTLD_LOCAL) and
// stays loaded until RoUnloadLibrary or RoFreeUnusedLibraries finds that it
// may go. It must export
//     HRESULT DllGetActivationFactory(HSTRING activatableClassId, IActivationFactory** factory);
//     HRESULT DllCanUnloadNow();
// and may export
//     BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
// which the loader calls with DLL_PROCESS_ATTACH (reserved null) right after
// loading (FALSE: the library is closed again and not loaded), with
// DLL_PROCESS_DETACH and reserved null before unloading it, and with
// DLL_PROCESS_DETACH and reserved non-null when the process exits. The loader
// sends no thread notifications. DllMain runs under the loader lock, which is
// recursive: DllMain may call the loader's functions on its own thread.
//
// Every function here may be called from any thread.
#pragma once

#include "platform/abi.h"

// A loaded library's instance handle, as DllMain receives it.
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;

// DllMain reasons.
constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;

// Win32 errors of the loader, as HRESULT_FROM_WIN32 makes them.
constexpr LONG ERROR_MOD_NOT_FOUND = 126;      // the library cannot be opened, or is not loaded
constexpr LONG ERROR_PROC_NOT_FOUND = 127;     // a required entry point is missing
constexpr LONG ERROR_DLL_INIT_FAILED = 1114;   // DllMain refused DLL_PROCESS_ATTACH
constexpr LONG ERROR_PROCESS_ABORTED = 1067;   // the libraries were detached for process exit

// The entry points of a library served by the loader.
using PFN_DllGetActivationFactory = HRESULT (*)(HSTRING activatableClassId, IActivationFactory** factory);
using PFN_DllCanUnloadNow = HRESULT (*)();
using PFN_DllMain = BOOL (*)(HINSTANCE instance, DWORD reason, LPVOID reserved);

extern "C" {

// The activation factory of the class named activatableClassId, queried for
// iid, with one reference for the caller in *factory. Loads the serving
// library first when needed. Returns S_OK; E_POINTER when factory is null;
// E_INVALIDARG for an empty name; REGDB_E_CLASSNOTREG when no registration
// names the class; HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) when the library
// cannot be opened, (ERROR_PROC_NOT_FOUND) when it lacks an entry point,
// (ERROR_DLL_INIT_FAILED) when its DllMain refused to load,
// (ERROR_PROCESS_ABORTED) after RoUninitializeLibrariesForExit; otherwise the
// status of the library's DllGetActivationFactory or of the query for iid.
// *factory is null on every failure.
HRESULT RoGetActivationFactory(HSTRING activatableClassId, REFIID iid, void** factory);

// Registers (or replaces) the library that serves className; both are UTF-8
// and copied. Registrations made here take precedence over the manifest and
// last for the process. S_OK; E_INVALIDARG for a null or empty argument;
// E_OUTOFMEMORY.
HRESULT RoRegisterActivatableClass(const char* className, const char* libraryPath);

// Removes the programmatic registration of className, if any (the manifest
// then decides again). S_OK, or S_FALSE when there was none; E_INVALIDARG for
// a null name.
HRESULT RoRevokeActivatableClass(const char* className);

// The answer of the loaded library's DllCanUnloadNow (S_OK: it may be
// unloaded; S_FALSE: objects of it live), without unloading it.
// HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) when the library at libraryPath is
// not loaded; E_INVALIDARG for a null path.
HRESULT RoQueryLibraryCanUnloadNow(const char* libraryPath);

// Unloads the library at libraryPath when its DllCanUnloadNow answers S_OK and
// no activation is in progress in it: runs DllMain(DLL_PROCESS_DETACH) and
// closes it. S_OK when unloaded; S_FALSE when it is still in use (it stays
// loaded); HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) when it is not loaded.
// The caller must make sure that none of its threads is still executing a
// call that returns into the library (e.g. the last Release of its object).
HRESULT RoUnloadLibrary(const char* libraryPath);

// RoUnloadLibrary for every loaded library; those still in use stay.
void RoFreeUnusedLibraries(void);

// The process-exit routine: runs DllMain(DLL_PROCESS_DETACH, reserved
// non-null) of every loaded library, in the reverse order of loading, without
// closing them (the process is ending). Runs each library's detach at most
// once; later activations fail with HRESULT_FROM_WIN32(ERROR_PROCESS_ABORTED).
// ExitProcess calls it before the process ends; the loader also registers it
// with atexit after each library it loads, so that a normal exit runs it
// before the static destructors of any loaded library.
void RoUninitializeLibrariesForExit(void);

// Called by a library's DllMain on attach: the library wants no per-thread
// notifications. TRUE for the instance handle of a loaded library (the loader
// records the wish; it sends no thread notifications in any case); FALSE for
// any other handle.
BOOL DisableThreadLibraryCalls(HMODULE module);

}  // extern "C"
