#pragma once

#include <string>
#include <string_view>

namespace quorral::text {

// Text from logs or from the service made safe to print on a terminal: every control
// character except line feed and tab is written out as "\u00XX" (ESC as "\u001b", the C1
// controls U+0080 to U+009F and DEL too), and every byte that is not part of valid UTF-8
// as "\xNN". So a log cannot move the cursor, retitle the window, write the clipboard
// or switch the terminal's character set. A carriage return right before a line feed is
// kept: it cannot overwrite anything, and Windows line ends stay readable.
//
// The "\u00XX" form is also a JSON escape meaning the same character, so JSON text passed
// through stays valid JSON with the same value. Backslashes themselves are not doubled:
// the result is for reading, not for parsing back.
std::string escapeForTerminal(std::string_view text);

} // namespace quorral::text
