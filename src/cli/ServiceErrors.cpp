#include "cli/ServiceErrors.h"

#include "api/APIError.h"

namespace quorral::cli {

std::string describeServiceFailure(const std::exception &error, const std::string &baseURL)
{
    if (const auto *api = dynamic_cast<const api::APIError *>(&error)) {
        if (api->kind() == api::APIError::Kind::invalidResponse)
            return "the service at " + baseURL + " gave an answer that is not the memory service's";
        const int status = api->statusCode();
        if (status == 401 || status == 403)
            return "the service refused the stored key (" + std::to_string(status)
                   + "); run `quorral login` to sign in again";
        if (status == 404) {
            std::string text = "the service has no page at " + (api->url().empty() ? baseURL : api->url()) + " (404)";
            const auto path = baseURL.substr(std::min(baseURL.size(), baseURL.find("://") + 3));
            const auto slash = path.find('/');
            const std::string basePath = slash == std::string::npos ? "" : path.substr(slash);
            if (basePath.find("/api") == std::string::npos)
                text += "; the API address usually ends in /api: check QUORRAL_API_URL";
            return text;
        }
        if (status >= 500)
            return "the service at " + baseURL + " failed with " + std::to_string(status)
                   + (api->body().empty() ? std::string() : ": " + api->body()) + "; try again later";
        return "the service at " + baseURL + " answered " + std::to_string(status)
               + (api->body().empty() ? std::string() : ": " + api->body());
    }
    if (dynamic_cast<const api::TransportError *>(&error))
        return "cannot reach the memory service at " + baseURL + " (" + error.what() + ")";
    return std::string(error.what()) + " (service " + baseURL + ")";
}

std::string describeServiceFailure(std::exception_ptr error, const std::string &baseURL)
{
    if (!error)
        return "cannot reach the memory service at " + baseURL;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &caught) {
        return describeServiceFailure(caught, baseURL);
    } catch (...) {
    }
    return "cannot reach the memory service at " + baseURL;
}

} // namespace quorral::cli
