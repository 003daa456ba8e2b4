#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace quorral::scan {

// The state of one tool in a coordinated scan.
struct ScanStatus {
    struct Found {
        std::int64_t count = 0;
        friend bool operator==(const Found &, const Found &) = default;
    };
    struct Error {
        std::string message;
        friend bool operator==(const Error &, const Error &) = default;
    };
    struct Waiting {
        friend bool operator==(const Waiting &, const Waiting &) = default;
    };
    struct Scanning {
        friend bool operator==(const Scanning &, const Scanning &) = default;
    };
    struct NotInstalled {
        friend bool operator==(const NotInstalled &, const NotInstalled &) = default;
    };

    std::variant<Waiting, Scanning, NotInstalled, Found, Error> state;

    static ScanStatus found(std::int64_t count) { return {Found{count}}; }
    static ScanStatus error(std::string message) { return {Error{std::move(message)}}; }
    static ScanStatus waiting() { return {Waiting{}}; }
    static ScanStatus scanning() { return {Scanning{}}; }
    static ScanStatus notInstalled() { return {NotInstalled{}}; }

    friend bool operator==(const ScanStatus &, const ScanStatus &) = default;
};

} // namespace quorral::scan
