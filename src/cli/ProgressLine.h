#pragma once

#include <ostream>
#include <string_view>

namespace quorral::cli {

// Progress on standard error: in a terminal each line replaces the one before and the
// last is wiped when done, so only results stay on screen; elsewhere (a log, a pipe)
// every line is kept.
class ProgressLine {
public:
    ProgressLine(std::ostream &out, bool terminal) : m_out(out), m_terminal(terminal) {}
    // Standard error, overwriting when it is a terminal.
    static ProgressLine forStandardError();
    ~ProgressLine() { clear(); }
    ProgressLine(const ProgressLine &) = delete;
    ProgressLine &operator=(const ProgressLine &) = delete;

    void show(std::string_view text);
    // Wipes the shown line in a terminal (before results or an error are printed).
    void clear();

private:
    std::ostream &m_out;
    bool m_terminal;
    bool m_shown = false;
};

} // namespace quorral::cli
