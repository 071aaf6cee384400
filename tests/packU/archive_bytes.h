// The archive core's tests: archives as bytes (from the test support library)
// and a guard that always switches fault injection off again.
#ifndef TOLVEX_TESTS_PACKU_ARCHIVE_BYTES_H
#define TOLVEX_TESTS_PACKU_ARCHIVE_BYTES_H

#include "platform/platform.h"
#include "support/archive_bytes.h"

namespace tvx::test {

// Installs a fault plan for one scope; the plan is always cleared again, also
// when an assertion leaves the test early.
class FaultPlanGuard {
 public:
  explicit FaultPlanGuard(const platform::FaultPlan& plan) { platform::SetFaultPlan(plan); }
  ~FaultPlanGuard() { platform::ClearFaultPlan(); }
  FaultPlanGuard(const FaultPlanGuard&) = delete;
  FaultPlanGuard& operator=(const FaultPlanGuard&) = delete;
};

}  // namespace tvx::test

#endif
