#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velth {

// The entries of a map cycle file: a byte 0 ends the text; lines end at CR LF,
// LF or a lone CR; every line, empty ones too, is one entry; a line end at the
// very end adds no empty entry.
std::vector<std::string> readMapcycle(std::string_view bytes);

// The file form of a map cycle: every entry followed by CR LF, the last too.
std::string writeMapcycle(const std::vector<std::string>& entries);

// Reads a local copy; throws velth::Error naming the file when it cannot be
// opened or read (a missing file too).
std::vector<std::string> loadMapcycleFile(const std::string& path);

// Replaces a local copy as a whole through a temporary file; on failure the
// previous file is untouched and velth::Error names the file.
void saveMapcycleFile(const std::string& path, const std::vector<std::string>& entries);

} // namespace velth
