#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velth {

// Reads a whole file. Throws velth::Error naming the file when it cannot be
// opened or read.
std::string readFile(const std::string& path);

// Reads a whole file, or nothing when it does not exist. Other failures throw.
std::optional<std::string> readFileIfExists(const std::string& path);

// Replaces (or creates) a file as a whole: the bytes go to a temporary file in
// the same folder, which is flushed to disk and then renamed over the target.
// On failure the previous file is untouched, no temporary file is left, and
// velth::Error names the target file. An existing file the user may write in
// a folder the user may not is rewritten in place instead (not atomic).
void writeFileAtomic(const std::string& path, std::string_view bytes);

// A temporary file name beside the target ("<target>.partXXXXXX"), created
// empty with exclusive access. The caller renames or removes it.
std::string makeTempFileBeside(const std::string& target);

// Renames a finished temporary file over the target; throws naming the target.
void commitTempFile(const std::string& temp, const std::string& target);

bool pathExists(const std::string& path);
bool isDirectory(const std::string& path);

// Creates a folder with any missing parents. Returns false on failure.
bool makeFolders(const std::string& path);

} // namespace velth
