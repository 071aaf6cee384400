// A destination folder with links below it that lead elsewhere: extraction
// must refuse each of them instead of writing through it.
#pragma once

#include <string>

namespace tvx::test {

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
