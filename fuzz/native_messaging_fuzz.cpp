// Feeds arbitrary bytes to the host: the first frame becomes the settings cache the host
// reads, every later frame is a request. Nothing may crash, hang or leak.
#include "integrations/NativeMessagingHandler.h"
#include "io/AtomicWrite.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace handler = quorral::integrations::NativeMessagingHandler;

namespace {

std::string home;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char pattern[] = "/tmp/quorral-fuzz-home-XXXXXX";
    if (!::mkdtemp(pattern))
        std::abort();
    home = pattern;
    // A stored key, so the key paths run too.
    quorral::io::createDirectories(home + "/.quorral");
    quorral::io::writeFileAtomically(home + "/.quorral/credentials", "qo_sk_fuzzing_key_0000");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::size_t position = 0;
    const handler::ReadSome read = [&](char *destination, std::size_t length) {
        // Odd chunk sizes exercise the partial reads of a pipe.
        const std::size_t n = std::min({length, size - position, std::size_t{7} + position % 5});
        std::memcpy(destination, data + position, n);
        position += n;
        return n;
    };
    bool first = true;
    while (const auto body = handler::readMessage(read)) {
        if (first) {
            quorral::io::writeFileAtomically(home + "/.quorral/settings-cache.json", *body);
            first = false;
            continue;
        }
        const auto reply = handler::handleMessage(*body, home);
        const auto frame = handler::encodeFrame(reply);
        if (!frame || frame->size() < 4 || !reply.contains("type"))
            std::abort();
    }
    return 0;
}
