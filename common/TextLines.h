#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velth {

// Splits text into lines. A line ends at CR LF, at LF or at a lone CR; the
// terminator is not part of the line. Text after the last terminator is a
// last line; a terminator at the very end adds no empty line.
std::vector<std::string> splitLines(std::string_view text);

// Writes every entry followed by CR LF, the last one too (local list files).
std::string joinLinesCrLf(const std::vector<std::string>& lines);

// Turns every line end (CR LF, LF, lone CR) into CR LF and adds nothing at the
// end: the on-disk form of an editor's text.
std::string toCrLf(std::string_view text);

// The text without the blanks (space, tab, CR, LF) at its start and end.
std::string_view trimmedBlanks(std::string_view text);

} // namespace velth
