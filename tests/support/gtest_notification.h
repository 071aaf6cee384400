// Forced into every GoogleTest compilation of the Windows builds (see
// cmake/TolvexTests.cmake). The Win32-thread MinGW compilers have no
// std::mutex or std::condition_variable, and GoogleTest builds its
// Notification on them; everything else of its thread support it does with
// Win32 calls. Notification only makes GoogleTest's own thread helper wait
// until it may start, and these tests start no threads, so a flag will do.
#ifndef TOLVEX_TESTS_SUPPORT_GTEST_NOTIFICATION_H
#define TOLVEX_TESTS_SUPPORT_GTEST_NOTIFICATION_H

#ifdef __cplusplus
namespace testing {
namespace internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  void Notify() { notified_ = true; }
  // Never waits: nothing here notifies from another thread.
  void WaitForNotification() {}

 private:
  bool notified_ = false;
};

}  // namespace internal
}  // namespace testing
#endif

#endif
