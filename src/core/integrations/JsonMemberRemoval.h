#pragma once

#include <string>
#include <string_view>

namespace quorral::integrations {

// `json` without the members named `member` of the object that is the value of the
// top-level member `parent`. Only those members, their separating comma and the white
// space that led up to them are cut out; every other byte of the file stays as it was,
// so a user's own layout, order and number formatting survive. `json` must be valid JSON
// (callers parse it first); a text without such a member comes back unchanged. Keys are
// compared after their escapes are decoded.
std::string withoutNestedMember(std::string_view json, std::string_view parent, std::string_view member);

} // namespace quorral::integrations
