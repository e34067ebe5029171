#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velth {

// One row of the remote log list: the three texts as the server wrote them.
struct ListingRow
{
    std::string fileName;
    std::string date;
    std::string size;

    bool operator==(const ListingRow&) const = default;
};

// Reads one line of a long directory listing by its fields.
//
// Unix layout (ls -l as vsftpd, proftpd, pure-ftpd, pyftpdlib write it):
// permissions, links, owner, group, size, three date fields, then the name as
// everything after the single space that follows the date (spaces included).
// The date is the three date fields as written plus that one space
// ("Oct 20 20:13 "). A listing without the group column is read as well.
// DOS layout (Windows servers): "10-21-03  08:13PM  70 name"; the date is the
// date and time fields as written.
//
// Lines that are no plain file entry (a "total" line, a folder, a link, an
// empty or short line, anything else) give nothing. A trailing CR is ignored.
std::optional<ListingRow> readListingLine(std::string_view line);

// Whether a name the server listed can be written into the logs folder as it
// stands: not empty, not "." or "..", and no '/', '\' or control character.
bool isSafeLocalName(std::string_view name);

// Whether the name ends in ".log" in any letter case.
bool hasLogExtension(std::string_view name);

// The rows of a listing of the remote logs folder, in listing order: only plain
// files whose name ends in ".log" (any case) and is safe to write locally.
std::vector<ListingRow> readLogListing(const std::vector<std::string>& lines);

} // namespace velth
