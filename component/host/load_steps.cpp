#include "load_steps.h"

#include "exit_handlers.h"

namespace component {
namespace {

// Head of the step list. Steps register during static initialisation, which
// the dynamic loader runs on one thread before the library is attached.
LoadStep* firstStep = nullptr;

bool RunStep(LoadRoutine routine) noexcept {
    try {
        return routine();
    } catch (...) {
        return false;
    }
}

}  // namespace

LoadStep::LoadStep(LoadStage stage, LoadRoutine routine) noexcept : stage_(stage), routine_(routine) {
    LoadStep** link = &firstStep;
    while (*link != nullptr && (*link)->stage_ <= stage_) link = &(*link)->next_;
    next_ = *link;
    *link = this;
}

bool RunLoadSteps() noexcept {
    for (const LoadStep* step = firstStep; step != nullptr; step = step->next_) {
        if (!RunStep(step->routine_)) {
            RunExitHandlers();
            return false;
        }
    }
    return true;
}

}  // namespace component
