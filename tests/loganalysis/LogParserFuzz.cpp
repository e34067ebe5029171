// libFuzzer target: the parser against its literal twin, and the file reader
// against the line splitter, on arbitrary bytes.
#include "ReferenceParser.h"
#include "common/TextLines.h"
#include "loganalysis/LogParser.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = velth::splitLines(text);
    if (!(velth::parseLog(lines) == velth::test::referenceParse(lines))) {
        std::fputs("parser and reference differ\n", stderr);
        std::abort();
    }

    static const int fd = ::memfd_create("velth-fuzz", 0);
    if (fd < 0 || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)
        || ::lseek(fd, 0, SEEK_SET) != 0)
        std::abort();
    // Small buffers put line ends (CR LF above all) on buffer boundaries.
    velth::LogFileReader reader(fd, "fuzz input", size ? 1 + data[0] % 32 : 1);
    std::vector<std::string> read;
    std::string_view line;
    while (reader.nextLine(line))
        read.emplace_back(line);
    if (read != lines) {
        std::fputs("reader and splitLines differ\n", stderr);
        std::abort();
    }
    return 0;
}
