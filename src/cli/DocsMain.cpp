// Writes the manual page and the bash completion script from the usage table, at build time.
#include "cli/Usage.h"

#include <fstream>
#include <iostream>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::cerr << "usage: quorral-docs MANPAGE COMPLETION\n";
        return 2;
    }
    std::ofstream manual(argv[1], std::ios::binary);
    manual << quorral::cli::manualPage();
    std::ofstream completion(argv[2], std::ios::binary);
    completion << quorral::cli::bashCompletion();
    manual.close();
    completion.close();
    if (!manual || !completion) {
        std::cerr << "quorral-docs: cannot write " << argv[1] << " or " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
