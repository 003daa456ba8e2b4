#pragma once

#include <stdexcept>
#include <string>

namespace quorral::api {

// The client's own errors: a non-2xx answer, or an answer that is not HTTP at all.
class APIError : public std::runtime_error {
public:
    enum class Kind { httpError, invalidResponse };

    // `url` is the address that answered, for messages (without user information).
    static APIError httpError(int statusCode, std::string body, std::string url = {});
    static APIError invalidResponse();

    Kind kind() const { return m_kind; }
    int statusCode() const { return m_statusCode; }
    const std::string &body() const { return m_body; }
    const std::string &url() const { return m_url; }

private:
    APIError(Kind kind, int statusCode, std::string body, const std::string &description);

    Kind m_kind;
    int m_statusCode;
    std::string m_body;
    std::string m_url;
};

// The request never got an HTTP answer: connection refused, time-out, TLS failure.
struct TransportError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A flow or request given up on purpose.
struct CancelledError : std::runtime_error {
    CancelledError() : std::runtime_error("cancelled") {}
};

} // namespace quorral::api
