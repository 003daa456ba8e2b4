#include "api/APIError.h"

namespace quorral::api {

APIError::APIError(Kind kind, int statusCode, std::string body, const std::string &description)
    : std::runtime_error(description), m_kind(kind), m_statusCode(statusCode), m_body(std::move(body))
{
}

APIError APIError::httpError(int statusCode, std::string body, std::string url)
{
    const std::string description = "API error " + std::to_string(statusCode) + ": " + body;
    APIError error(Kind::httpError, statusCode, std::move(body), description);
    error.m_url = std::move(url);
    return error;
}

APIError APIError::invalidResponse()
{
    return APIError(Kind::invalidResponse, 0, {}, "Invalid response from Quorral API");
}

} // namespace quorral::api
