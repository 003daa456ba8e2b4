#include "platform/LoginItem.h"

#include "io/AtomicWrite.h"

namespace quorral::platform {

namespace {

// The Exec key's quoting: a path with a space or a reserved character is put in double
// quotes with ", `, $ and \ escaped; then every backslash is doubled again and "%" written
// "%%", as the value is itself an escaped string.
std::string execValue(const std::string &executable)
{
    const bool needsQuotes = executable.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
    std::string quoted;
    if (needsQuotes) {
        quoted += '"';
        for (const char c : executable) {
            if (c == '"' || c == '`' || c == '$' || c == '\\')
                quoted += '\\';
            quoted += c;
        }
        quoted += '"';
    } else {
        quoted = executable;
    }
    std::string value;
    for (const char c : quoted) {
        if (c == '\\')
            value += "\\\\";
        else if (c == '%')
            value += "%%";
        else
            value += c;
    }
    return value;
}

} // namespace

std::string autostartEntryPath(const std::string &home, const std::optional<std::string> &xdgConfigHome)
{
    return (xdgConfigHome ? *xdgConfigHome : home + "/.config") + "/autostart/quorral.desktop";
}

std::string autostartEntry(const std::string &executable)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Quorral\n"
           "Comment=Shared memory for your AI tools\n"
           "Exec=" + execValue(executable) + "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::optional<io::WriteError> registerLoginItem(const std::string &home, const std::optional<std::string> &xdgConfigHome,
                                                const std::string &executable)
{
    const std::string path = autostartEntryPath(home, xdgConfigHome);
    if (auto failure = io::createDirectories(io::parentDirectory(path)))
        return failure;
    return io::writeFileAtomically(path, autostartEntry(executable));
}

} // namespace quorral::platform
