// The counting half of fault injection, shared by posix.cpp and win32.cpp so
// both platforms fail the same calls. Internal to src/platform/.
#ifndef TOLVEX_PLATFORM_FAULT_PLAN_INTERNAL_H
#define TOLVEX_PLATFORM_FAULT_PLAN_INTERNAL_H

namespace tvx::platform::internal {

// Counts one mutating call (File::Write, File::SetEndHere, MoveReplacing),
// tells the plan's observer, and returns true when the plan says this call
// must fail. The caller then fails without touching the OS.
bool CountMutatingCall();

// Counts one File::Read; true when the plan says it must fail.
bool CountReadCall();

}  // namespace tvx::platform::internal

#endif
