// Path arithmetic on plain strings; nothing here touches the file system.
#ifndef TOLVEX_COMMONSU_PATH_TEXT_H
#define TOLVEX_COMMONSU_PATH_TEXT_H

#include <string>

namespace tvx {

// Everything from the last '.' of the whole path on (also a '.' in a folder
// name) replaced by tail; tail appended when there is no '.':
// C:\a\b.dat -> C:\a\b___, C:\a.d\b -> C:\a___.
std::string ReplaceExtension(const std::string& path, const std::string& tail);

// The text after the last separator (as isSeparator decides), or the whole
// path when there is none; empty when the path ends in a separator.
std::string FileNamePart(const std::string& path, bool (*isSeparator)(char));

// folder and name joined with exactly one separator between them: "out" +
// "a.txt" -> "out/a.txt" (with the separator given), "out/" + "a.txt" and
// "out" + "/a.txt" as they are. An empty folder or name leaves the other
// alone, and where isSeparator takes ':' so does a drive ("C:" + "a.txt" is
// a.txt in C:'s current folder).
std::string JoinPath(const std::string& folder, const std::string& name, char separator,
                     bool (*isSeparator)(char));

// The path without the separators at its end: "out/sub/" -> "out/sub". A root
// ("/", and where isSeparator takes ':' a drive: "C:\", "C:") stays whole.
std::string WithoutTrailingSeparators(std::string path, bool (*isSeparator)(char));

}  // namespace tvx

#endif
