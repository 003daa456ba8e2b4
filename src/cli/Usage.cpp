#include "cli/Usage.h"

#include <iostream>

namespace quorral::cli {

std::string_view usageText()
{
    return "usage: quorral                    start the tray application (needs a graphical session)\n"
           "       quorral --quick-input      open the quick input of the running application (bind it to a key)\n"
           "       quorral --version\n"
           "       quorral scan [--json]      show what a full scan of your AI tools would find\n"
           "       quorral scan --show PATH   print the transcript that would be uploaded for one file\n"
           "       quorral login              sign in to the memory service in the browser\n"
           "       quorral logout             forget the stored key\n"
           "       quorral status             the account, its statistics and the last sync\n"
           "       quorral remember TEXT      save one memory\n"
           "       quorral sync               upload what is new in your AI tools\n"
           "       quorral daemon [--max-watches N]   keep syncing in the background until stopped\n"
           "       quorral conversations [--source S] [--time today|thisWeek|thisMonth|all] [--search TEXT] [--json]\n"
           "                                  list your local conversations, newest first\n"
           "       quorral conversations show ID [--markdown]   print one conversation\n"
           "       quorral configure          connect your AI tools and browsers to the memory service\n"
           "       quorral unconfigure        take out what configure put in: MCP entries, rules blocks, host manifests\n"
           "       quorral --native-messaging run as the browser extension's host (started by the browser)\n";
}

int usageError(std::string_view problem)
{
    std::cerr << "quorral: " << problem << "\n" << usageText();
    return usageExitStatus;
}

} // namespace quorral::cli
