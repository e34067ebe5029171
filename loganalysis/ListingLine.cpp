#include "loganalysis/ListingLine.h"

#include <algorithm>
#include <cctype>

namespace velth {
namespace {

struct Field
{
    std::size_t begin;
    std::size_t end;
};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool allDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

// The first `count` space-separated fields of the line (fewer when the line
// has fewer).
std::vector<Field> leadingFields(std::string_view line, std::size_t count)
{
    std::vector<Field> fields;
    std::size_t pos = 0;
    while (fields.size() < count) {
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
        if (pos >= line.size())
            break;
        const std::size_t begin = pos;
        while (pos < line.size() && line[pos] != ' ')
            ++pos;
        fields.push_back({ begin, pos });
    }
    return fields;
}

std::string_view text(std::string_view line, const Field& field)
{
    return line.substr(field.begin, field.end - field.begin);
}

bool isMonth(std::string_view word)
{
    return word.size() == 3 && std::all_of(word.begin(), word.end(), isLetter);
}

bool isDay(std::string_view word)
{
    return (word.size() == 1 || word.size() == 2) && allDigits(word);
}

// "20:13", "9:05" or a year "2003".
bool isTimeOrYear(std::string_view word)
{
    if (word.size() == 4 && allDigits(word))
        return true;
    const auto colon = word.find(':');
    if (colon == std::string_view::npos)
        return false;
    return (colon == 1 || colon == 2) && allDigits(word.substr(0, colon)) && word.size() - colon == 3
        && allDigits(word.substr(colon + 1));
}

// "10-21-03" or "10-21-2003".
bool isDosDate(std::string_view word)
{
    if (word.size() != 8 && word.size() != 10)
        return false;
    return allDigits(word.substr(0, 2)) && word[2] == '-' && allDigits(word.substr(3, 2)) && word[5] == '-'
        && allDigits(word.substr(6));
}

// "08:13PM" or "8:13AM"; also a 24-hour "20:13".
bool isDosTime(std::string_view word)
{
    if (word.size() > 2) {
        const std::string_view suffix = word.substr(word.size() - 2);
        if (suffix == "AM" || suffix == "PM" || suffix == "am" || suffix == "pm")
            word.remove_suffix(2);
    }
    return word.find(':') != std::string_view::npos && isTimeOrYear(word);
}

// The name: everything after the one space that ends the field before it.
std::optional<std::string_view> nameAfter(std::string_view line, const Field& last)
{
    if (last.end + 1 >= line.size())
        return std::nullopt;
    return line.substr(last.end + 1);
}

std::optional<ListingRow> readUnixLine(std::string_view line)
{
    // permissions, links, owner, group, size, month, day, time: the name
    // follows. Without the group column everything from the size on stands
    // one field further left.
    const std::vector<Field> fields = leadingFields(line, 8);
    const std::string_view permissions = text(line, fields[0]);
    if (permissions.size() < 10 || permissions[0] != '-')
        return std::nullopt;
    if (fields.size() < 7 || !allDigits(text(line, fields[1])))
        return std::nullopt;
    for (const std::size_t month : { std::size_t{ 5 }, std::size_t{ 4 } }) {
        if (month + 2 >= fields.size())
            continue;
        if (!allDigits(text(line, fields[month - 1])) || !isMonth(text(line, fields[month]))
            || !isDay(text(line, fields[month + 1])) || !isTimeOrYear(text(line, fields[month + 2])))
            continue;
        const auto name = nameAfter(line, fields[month + 2]);
        if (!name)
            return std::nullopt;
        const std::size_t dateBegin = fields[month].begin;
        return ListingRow{ std::string(*name),
            std::string(line.substr(dateBegin, fields[month + 2].end + 1 - dateBegin)),
            std::string(text(line, fields[month - 1])) };
    }
    return std::nullopt;
}

std::optional<ListingRow> readDosLine(std::string_view line)
{
    const std::vector<Field> fields = leadingFields(line, 3);
    if (fields.size() < 3 || !isDosDate(text(line, fields[0])) || !isDosTime(text(line, fields[1]))
        || !allDigits(text(line, fields[2])))
        return std::nullopt;
    const auto name = nameAfter(line, fields[2]);
    if (!name)
        return std::nullopt;
    return ListingRow{ std::string(*name), std::string(line.substr(0, fields[1].end)),
        std::string(text(line, fields[2])) };
}

} // namespace

std::optional<ListingRow> readListingLine(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.empty())
        return std::nullopt;
    if (line[0] == '-')
        return readUnixLine(line);
    if (isDigit(line[0]))
        return readDosLine(line);
    return std::nullopt;
}

bool isSafeLocalName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return c == '/' || c == '\\' || byte < 0x20 || byte == 0x7f;
    });
}

bool hasLogExtension(std::string_view name)
{
    if (name.size() < 4)
        return false;
    const std::string_view tail = name.substr(name.size() - 4);
    return tail[0] == '.' && std::tolower(static_cast<unsigned char>(tail[1])) == 'l'
        && std::tolower(static_cast<unsigned char>(tail[2])) == 'o'
        && std::tolower(static_cast<unsigned char>(tail[3])) == 'g';
}

std::vector<ListingRow> readLogListing(const std::vector<std::string>& lines)
{
    std::vector<ListingRow> rows;
    for (const std::string& line : lines) {
        auto row = readListingLine(line);
        if (row && hasLogExtension(row->fileName) && isSafeLocalName(row->fileName))
            rows.push_back(std::move(*row));
    }
    return rows;
}

} // namespace velth
