#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorral::scan {

// Every entry at any depth below `directory` (hidden ones included, directories too)
// whose path relative to `directory` ends with `suffix`, as `directory + "/" + relative`.
// Pre-order, in directory order, unsorted. Symbolic links are reported but never
// followed, so link loops cannot trap the walk; unreadable folders are passed over.
// A missing or unreadable `directory` gives an empty list.
std::vector<std::string> globFiles(const std::string &directory, std::string_view suffix);

} // namespace quorral::scan
