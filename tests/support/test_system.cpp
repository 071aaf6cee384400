#include "support/test_system.h"

namespace tvx::test {
namespace {

bool FailsAt(const FaultPlan& plan, uint64_t index, uint64_t failAt) {
  if (failAt == 0) return false;
  return plan.failOnce ? index == failAt : index >= failAt;
}

class FaultyFile : public platform::SystemFile {
 public:
  FaultyFile(FaultySystem& faults, std::unique_ptr<platform::SystemFile> file)
      : faults_(faults), file_(std::move(file)) {}
  platform::IoError LastError() const override { return injected_.failed() ? injected_ : file_->LastError(); }
  uint32_t Read(void* buffer, uint32_t count) override {
    return Fails(faults_.CountReadCall(), platform::IoErrorKind::kIo) ? 0 : file_->Read(buffer, count);
  }
  uint32_t Write(const void* buffer, uint32_t count) override {
    return Fails(faults_.CountMutatingCall(), platform::IoErrorKind::kDiskFull) ? 0 : file_->Write(buffer, count);
  }
  uint32_t Seek(int32_t offset, platform::SeekOrigin origin) override { return file_->Seek(offset, origin); }
  uint32_t Size() override { return file_->Size(); }
  bool SetEndHere() override {
    return !Fails(faults_.CountMutatingCall(), platform::IoErrorKind::kIo) && file_->SetEndHere();
  }
  bool Flush() override { return !Fails(faults_.CountMutatingCall(), platform::IoErrorKind::kIo) && file_->Flush(); }
  bool TakeAccessOf(const std::string& path) override { return file_->TakeAccessOf(path); }
  bool SetModifiedWallClockTime(int64_t wallClockSeconds) override {
    return file_->SetModifiedWallClockTime(wallClockSeconds);
  }

 private:
  // Notes an injected failure of the given kind; a call passed on clears it.
  bool Fails(bool injected, platform::IoErrorKind kind) {
    injected_ = injected ? platform::IoError{kind, 0} : platform::IoError{};
    return injected;
  }

  FaultySystem& faults_;
  std::unique_ptr<platform::SystemFile> file_;
  platform::IoError injected_;
};

}  // namespace

platform::PathFacts SystemWrapper::FactsOfPath(const std::string& path) {
  platform::PathFacts facts;
  if (DirectoryExists(path)) {
    facts.kind = platform::PathFacts::Kind::kFolder;
  } else if (RegularFileExists(path)) {
    facts.kind = platform::PathFacts::Kind::kRegularFile;
    facts.size = FileSize64(path);
  } else if (FileExists(path)) {
    facts.kind = platform::PathFacts::Kind::kOther;
  }
  return facts;
}

void FaultySystem::SetPlan(const FaultPlan& plan) {
  plan_ = plan;
  mutatingCalls_ = 0;
  readCalls_ = 0;
}

bool FaultySystem::CountMutatingCall() {
  const uint64_t index = ++mutatingCalls_;
  if (plan_.beforeWrite != nullptr) plan_.beforeWrite(index);
  return FailsAt(plan_, index, plan_.failWriteAt);
}

bool FaultySystem::CountReadCall() { return FailsAt(plan_, ++readCalls_, plan_.failReadAt); }

std::unique_ptr<platform::SystemFile> FaultySystem::OpenFile(const std::string& path, platform::File::Mode mode,
                                                             platform::File::Facts* facts, platform::IoError* error) {
  std::unique_ptr<platform::SystemFile> file = SystemWrapper::OpenFile(path, mode, facts, error);
  if (!file) return nullptr;
  return std::make_unique<FaultyFile>(*this, std::move(file));
}

bool FaultySystem::MoveToFreeName(const std::string& from, const std::string& to) {
  return !CountMutatingCall() && SystemWrapper::MoveToFreeName(from, to);
}

platform::MoveOutcome FaultySystem::MoveReplacing(const std::string& from, const std::string& to) {
  if (CountMutatingCall()) return platform::MoveOutcome::kFailed;
  return SystemWrapper::MoveReplacing(from, to);
}

platform::MoveOutcome FaultySystem::MoveReplacingLinkFree(const std::string& from, const std::string& to) {
  if (CountMutatingCall()) return platform::MoveOutcome::kFailed;
  return SystemWrapper::MoveReplacingLinkFree(from, to);
}

}  // namespace tvx::test
