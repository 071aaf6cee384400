// Fault-injection state. Plain globals: Tolvex runs single-threaded, and the
// plug-in itself never sets a plan, so the cost is one counter increment.
#include "platform/fault_plan_internal.h"
#include "platform/platform.h"

namespace tvx::platform {
namespace {

FaultPlan g_plan;
bool g_planActive = false;
uint64_t g_mutatingCalls = 0;
uint64_t g_readCalls = 0;

bool FailsAt(uint64_t index, uint64_t failAt) {
  if (failAt == 0) return false;
  return g_plan.failOnce ? index == failAt : index >= failAt;
}

}  // namespace

void SetFaultPlan(const FaultPlan& plan) {
  g_plan = plan;
  g_planActive = true;
  g_mutatingCalls = 0;
  g_readCalls = 0;
}

// Counting goes on without a plan; only SetFaultPlan resets the counters.
void ClearFaultPlan() {
  g_plan = FaultPlan();
  g_planActive = false;
}

uint64_t MutatingCallCount() { return g_mutatingCalls; }
uint64_t ReadCallCount() { return g_readCalls; }

namespace internal {

bool CountMutatingCall() {
  const uint64_t index = ++g_mutatingCalls;
  if (!g_planActive) return false;
  if (g_plan.beforeWrite != nullptr) g_plan.beforeWrite(index);
  return FailsAt(index, g_plan.failWriteAt);
}

bool CountReadCall() {
  const uint64_t index = ++g_readCalls;
  if (!g_planActive) return false;
  return FailsAt(index, g_plan.failReadAt);
}

}  // namespace internal
}  // namespace tvx::platform
