// The fixture of every test that goes through the module's exports, and what
// it needs: the process's temporary folder redirected, and the module's
// temporary files found.
#ifndef TOLVEX_TESTS_SUPPORT_PLUGIN_TEST_H
#define TOLVEX_TESTS_SUPPORT_PLUGIN_TEST_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/archive_bytes.h"
#include "support/module_driver.h"
#include "support/test_support.h"

namespace tvx::test {

// Points the temporary folder of this process (and so of the module loaded
// into it) at another folder for the object's life.
struct TempFolderRedirect : EnvironmentGuard {
#ifdef _WIN32
  explicit TempFolderRedirect(const std::string& folder) : EnvironmentGuard({"TMP", "TEMP"}, folder) {}
#else
  explicit TempFolderRedirect(const std::string& folder) : EnvironmentGuard({"TMPDIR"}, folder) {}
#endif
};

// Files whose name starts with the module's temporary-file prefix ("tvx",
// in any case: Windows names them TVX1234.tmp or tvx1234.tmp).
std::vector<std::string> TemporaryFilesIn(const std::string& folder);

// Loads the module, gives each test its own scratch folder and temporary
// folder, clears the progress callback, and after each test insists that no
// temporary file of the module was left behind.
class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  cli::PluginModule& module() { return *module_; }
  std::string Path(const std::string& name) const { return work_.File(name); }
  // The folder as the host passes SrcPath: with its trailing separator.
  std::string SrcPath() const { return work_.path() + NativeSeparator(); }
  const std::string& WorkFolder() const { return work_.path(); }

  // Writes an archive of these entries and returns its path.
  std::string WriteArchive(const std::string& name, const std::vector<RawEntry>& entries);
  std::vector<std::string> Names(const std::string& archive) { return ListedNames(*module_, archive); }

 private:
  cli::PluginModule* module_ = nullptr;
  TempDir work_;
  TempDir temp_;
  std::unique_ptr<TempFolderRedirect> redirect_;
};

// A destination folder with links below it that lead elsewhere: extraction
// must refuse each of them instead of writing through it.
struct LinkScene {
  // Creates root/out with out/sub a link to the folder root/elsewhere and
  // out/g.txt a link to root/elsewhere/g.txt (which does not exist). ready is
  // false when links cannot be made here.
  explicit LinkScene(const std::string& root);
  // The archive's entries that lead through a link, a plain one beside them.
  static constexpr const char* kThroughFolderLink = "sub/f.txt";
  static constexpr const char* kOntoFileLink = "g.txt";
  static constexpr const char* kFolderLink = "sub/";
  // The archive: the three entries above and ok.txt ("fine").
  std::string ArchiveBytesOf() const;
  // Nothing reached elsewhere and the file link is still a link.
  bool Untouched() const;

  std::string out;        // without a trailing separator
  std::string elsewhere;
  bool ready = false;
};

}  // namespace tvx::test

#endif
