#pragma once

#include <exception>
#include <string>

namespace quorral::cli {

// What went wrong talking to the service at `baseURL`, in words that say what to do:
// a refused key asks to sign in again, a 404 names the address that was tried.
std::string describeServiceFailure(const std::exception &error, const std::string &baseURL);
std::string describeServiceFailure(std::exception_ptr error, const std::string &baseURL);

} // namespace quorral::cli
