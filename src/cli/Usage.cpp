#include "cli/Usage.h"

#include <iostream>

namespace quorral::cli {

std::string_view usageText()
{
    return "usage: quorral scan [--json]      show what a full scan of your AI tools would find\n"
           "       quorral scan --show PATH   print the transcript that would be uploaded for one file\n";
}

int usageError(std::string_view problem)
{
    std::cerr << "quorral: " << problem << "\n" << usageText();
    return usageExitStatus;
}

} // namespace quorral::cli
