#pragma once

// Command texts written for the embedded engine, as the server must read them to mean the same.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velmora::data {

// The names of a database's catalogue that adapting a command text reads.
struct CatalogueSnapshot
{
    // The tables and views visible without a schema name, as the database spells them.
    std::vector<std::string> tables;
    // Lower-case table name -> its columns, as the database spells them, in table order.
    std::unordered_map<std::string, std::vector<std::string>> columnsByTable;

    // The table spelled exactly so, else the first spelled so in another letter case; null when there is none.
    const std::string* findTable(std::string_view name) const;
};

// The command text as the server must read it to mean what the embedded engine reads: a name of the catalogue
// that the server would fold to another letter case, or that is bracketed, in double quotes as the catalogue
// spells it; a double-quoted text that names nothing, as a string. Everything else, blanks and comments included,
// stays as written. Pure.
std::string adaptCommand(std::string_view commandText, const CatalogueSnapshot& catalogue);

} // namespace velmora::data
