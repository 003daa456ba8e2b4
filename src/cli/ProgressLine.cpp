#include "cli/ProgressLine.h"

#include <iostream>
#include <unistd.h>

namespace quorral::cli {

ProgressLine ProgressLine::forStandardError()
{
    return ProgressLine(std::cerr, ::isatty(STDERR_FILENO) == 1);
}

void ProgressLine::show(std::string_view text)
{
    if (m_terminal)
        m_out << "\r\x1b[K" << text << std::flush;
    else
        m_out << text << "\n" << std::flush;
    m_shown = true;
}

void ProgressLine::clear()
{
    if (m_terminal && m_shown)
        m_out << "\r\x1b[K" << std::flush;
    m_shown = false;
}

} // namespace quorral::cli
