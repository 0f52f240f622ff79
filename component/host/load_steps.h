// The library's load sequence as a list of steps, each in a stage. At process
// attach the steps run in stage order; each sets up one piece of module state
// and registers its teardown with RegisterExitHandler, so that unload tears
// down in the reverse order. A step that fails makes the library refuse to
// load: the teardowns registered so far run at once.
//
// A step is declared where its state lives, as a (non-const) namespace-scope
// object:
//
//   component::LoadStep eventStorageStep{component::LoadStage::StaticEventStorage, [] {
//       InitializeEventStorage();
//       component::RegisterExitHandler([] { TeardownEventStorage(); });
//       return true;
//   }};
#pragma once

namespace component {

// Stages in load order. Two steps of one stage run in no fixed order.
enum class LoadStage : int {
    PerModuleData = 100,       // the runtime support's per-module data (host)
    ModuleObject = 200,        // the module object: live count, lock, factory cache (host)
    StaticEventStorage = 300,  // the handler list of RegistryManager's static event
};

// Routine of a step: true when its piece is set up (and its teardown
// registered); false, or a thrown exception, when it is not.
using LoadRoutine = bool (*)();

// Registers a step for the load sequence. Objects of this type are made
// during static initialisation of the library (before any attach), live as
// long as the library and are never copied.
class LoadStep {
public:
    LoadStep(LoadStage stage, LoadRoutine routine) noexcept;
    LoadStep(const LoadStep&) = delete;
    LoadStep& operator=(const LoadStep&) = delete;

private:
    friend bool RunLoadSteps() noexcept;

    LoadStage stage_;
    LoadRoutine routine_;
    LoadStep* next_ = nullptr;  // the list, kept in stage order
};

// Runs every registered step in stage order. Returns true when all succeeded;
// otherwise runs the exit handlers registered so far and returns false.
bool RunLoadSteps() noexcept;

}  // namespace component
