#pragma once

#include "loganalysis/LogParser.h"

#include <string>
#include <vector>

namespace velth::test {

// The log scan written the slow, literal way: std::string copies, a fresh
// search for every pattern, a linear search over the team rows. The real
// parser must give exactly the same result for every input.
ScanResult referenceParse(const std::vector<std::string>& lines);

} // namespace velth::test
