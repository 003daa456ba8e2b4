#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorral::api {

// A response body that does not hold the expected record: not JSON, not an object,
// or a required field missing, null or of the wrong type.
struct DecodeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct TodayStats {
    std::int64_t recalls = 0;
    std::int64_t ingests = 0;
    std::int64_t newMemories = 0;
};

struct StatsResponse {
    std::int64_t totalMemories = 0;
    std::int64_t totalConversations = 0;
    std::int64_t tokensSaved = 0;
    double savedUSD = 0;
    std::int64_t optimizeCalls = 0;
    std::int64_t ingestCalls = 0;
    std::optional<TodayStats> today;
};

struct ProfileResponse {
    std::string displayName;
    std::optional<std::string> email;
    std::optional<std::string> qoId;
    std::optional<std::string> avatarUrl;
    std::string plan;
    std::optional<std::string> proExpiresAt;
    std::int64_t level = 0;
    std::string levelLabel;
    std::int64_t xp = 0;
    std::int64_t xpCurrentLevel = 0;
    std::optional<std::int64_t> xpNextLevel;
    bool isMaxLevel = false;
    std::int64_t memoryCount = 0;
    std::optional<std::string> referralCode;
    bool isPioneer = false;
    std::optional<std::string> pioneerSince;
};

struct SettingsResponse {
    std::optional<bool> incognitoGlobal;
    std::optional<std::vector<std::string>> incognitoSources;
    std::optional<std::string> budgetPreset;
    std::optional<std::string> email;
};

struct DeviceLoginResponse {
    std::string deviceCode;
    std::string loginUrl;
    std::int64_t expiresIn = 0;
};

struct DeviceVerifyResponse {
    std::string status;
    std::optional<std::string> apiKey;
};

struct MagicLoginResponse {
    std::string loginUrl;
};

struct ImportResponse {
    bool accepted = false;
    std::optional<std::int64_t> filesQueued;
    std::optional<bool> skippedIncognito;
};

struct IngestResponse {
    bool accepted = false;
};

// Decoders from a parsed body; they throw DecodeError naming the record and the field.
template <typename Record>
Record decode(const nlohmann::json &body);

// Parses the raw body first; a body that is not JSON (an empty one included) throws too.
// Instantiated in Records.cpp for every record below.
template <typename Record>
Record decodeBody(const std::string &body);

template <> TodayStats decode<TodayStats>(const nlohmann::json &);
template <> StatsResponse decode<StatsResponse>(const nlohmann::json &);
template <> ProfileResponse decode<ProfileResponse>(const nlohmann::json &);
template <> SettingsResponse decode<SettingsResponse>(const nlohmann::json &);
template <> DeviceLoginResponse decode<DeviceLoginResponse>(const nlohmann::json &);
template <> DeviceVerifyResponse decode<DeviceVerifyResponse>(const nlohmann::json &);
template <> MagicLoginResponse decode<MagicLoginResponse>(const nlohmann::json &);
template <> ImportResponse decode<ImportResponse>(const nlohmann::json &);
template <> IngestResponse decode<IngestResponse>(const nlohmann::json &);

} // namespace quorral::api
