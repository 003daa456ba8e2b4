#include "api/Records.h"

#include <nlohmann/json.hpp>

namespace quorral::api {
namespace {

using nlohmann::json;

// Reads the fields of one record, with the rules every record shares: unknown keys are
// ignored, a required field must be present, non-null and of its type, an optional one
// may be absent or null.
class Reader {
public:
    Reader(const json &body, const char *record) : m_body(body), m_record(record)
    {
        if (!body.is_object())
            throw DecodeError(std::string("cannot decode ") + record + ": the body is not a JSON object");
    }

    std::int64_t integer(const char *key) const { return required(key, "an integer", &json::is_number_integer).get<std::int64_t>(); }
    double number(const char *key) const { return required(key, "a number", &json::is_number).get<double>(); }
    bool boolean(const char *key) const { return required(key, "a boolean", &json::is_boolean).get<bool>(); }
    std::string string(const char *key) const { return required(key, "a string", &json::is_string).get<std::string>(); }

    std::optional<std::int64_t> optionalInteger(const char *key) const
    {
        const json *v = optional(key, "an integer", &json::is_number_integer);
        return v ? std::optional(v->get<std::int64_t>()) : std::nullopt;
    }
    std::optional<bool> optionalBoolean(const char *key) const
    {
        const json *v = optional(key, "a boolean", &json::is_boolean);
        return v ? std::optional(v->get<bool>()) : std::nullopt;
    }
    std::optional<std::string> optionalString(const char *key) const
    {
        const json *v = optional(key, "a string", &json::is_string);
        return v ? std::optional(v->get<std::string>()) : std::nullopt;
    }
    std::optional<std::vector<std::string>> optionalStrings(const char *key) const
    {
        const json *v = optional(key, "an array of strings", &json::is_array);
        if (!v)
            return std::nullopt;
        std::vector<std::string> out;
        for (const auto &element : *v) {
            if (!element.is_string())
                wrongType(key, "an array of strings");
            out.push_back(element.get<std::string>());
        }
        return out;
    }
    const json *optionalObject(const char *key) const { return optional(key, "an object", &json::is_object); }

private:
    using Test = bool (json::*)() const noexcept;

    const json &required(const char *key, const char *kind, Test test) const
    {
        const auto it = m_body.find(key);
        if (it == m_body.end() || it->is_null())
            throw DecodeError(std::string("cannot decode ") + m_record + ": \"" + key + "\" is missing");
        if (!((*it).*test)())
            wrongType(key, kind);
        return *it;
    }

    const json *optional(const char *key, const char *kind, Test test) const
    {
        const auto it = m_body.find(key);
        if (it == m_body.end() || it->is_null())
            return nullptr;
        if (!((*it).*test)())
            wrongType(key, kind);
        return &*it;
    }

    [[noreturn]] void wrongType(const char *key, const char *kind) const
    {
        throw DecodeError(std::string("cannot decode ") + m_record + ": \"" + key + "\" is not " + kind);
    }

    const json &m_body;
    const char *m_record;
};

} // namespace

template <>
TodayStats decode<TodayStats>(const json &body)
{
    const Reader r(body, "TodayStats");
    return {r.integer("recalls"), r.integer("ingests"), r.integer("new_memories")};
}

template <>
StatsResponse decode<StatsResponse>(const json &body)
{
    const Reader r(body, "StatsResponse");
    StatsResponse s{r.integer("total_memories"), r.integer("total_conversations"), r.integer("tokens_saved"),
                    r.number("saved_usd"),       r.integer("optimize_calls"),      r.integer("ingest_calls"),
                    std::nullopt};
    if (const json *today = r.optionalObject("today"))
        s.today = decode<TodayStats>(*today);
    return s;
}

template <>
ProfileResponse decode<ProfileResponse>(const json &body)
{
    const Reader r(body, "ProfileResponse");
    ProfileResponse p;
    p.displayName = r.string("display_name");
    p.email = r.optionalString("email");
    p.qoId = r.optionalString("qo_id");
    p.avatarUrl = r.optionalString("avatar_url");
    p.plan = r.string("plan");
    p.proExpiresAt = r.optionalString("pro_expires_at");
    p.level = r.integer("level");
    p.levelLabel = r.string("level_label");
    p.xp = r.integer("xp");
    p.xpCurrentLevel = r.integer("xp_current_level");
    p.xpNextLevel = r.optionalInteger("xp_next_level");
    p.isMaxLevel = r.boolean("is_max_level");
    p.memoryCount = r.integer("memory_count");
    p.referralCode = r.optionalString("referral_code");
    p.isPioneer = r.boolean("is_pioneer");
    p.pioneerSince = r.optionalString("pioneer_since");
    return p;
}

template <>
SettingsResponse decode<SettingsResponse>(const json &body)
{
    const Reader r(body, "SettingsResponse");
    return {r.optionalBoolean("incognito_global"), r.optionalStrings("incognito_sources"),
            r.optionalString("budget_preset"), r.optionalString("email")};
}

template <>
DeviceLoginResponse decode<DeviceLoginResponse>(const json &body)
{
    const Reader r(body, "DeviceLoginResponse");
    return {r.string("device_code"), r.string("login_url"), r.integer("expires_in")};
}

template <>
DeviceVerifyResponse decode<DeviceVerifyResponse>(const json &body)
{
    const Reader r(body, "DeviceVerifyResponse");
    return {r.string("status"), r.optionalString("api_key")};
}

template <>
MagicLoginResponse decode<MagicLoginResponse>(const json &body)
{
    const Reader r(body, "MagicLoginResponse");
    return {r.string("login_url")};
}

template <>
ImportResponse decode<ImportResponse>(const json &body)
{
    const Reader r(body, "ImportResponse");
    return {r.boolean("accepted"), r.optionalInteger("files_queued"), r.optionalBoolean("skipped_incognito")};
}

template <>
IngestResponse decode<IngestResponse>(const json &body)
{
    const Reader r(body, "IngestResponse");
    return {r.boolean("accepted")};
}

template <typename Record>
Record decodeBody(const std::string &body)
{
    json parsed = json::parse(body, nullptr, false);
    if (parsed.is_discarded())
        throw DecodeError("the response body is not valid JSON");
    return decode<Record>(parsed);
}

template TodayStats decodeBody<TodayStats>(const std::string &);
template StatsResponse decodeBody<StatsResponse>(const std::string &);
template ProfileResponse decodeBody<ProfileResponse>(const std::string &);
template SettingsResponse decodeBody<SettingsResponse>(const std::string &);
template DeviceLoginResponse decodeBody<DeviceLoginResponse>(const std::string &);
template DeviceVerifyResponse decodeBody<DeviceVerifyResponse>(const std::string &);
template MagicLoginResponse decodeBody<MagicLoginResponse>(const std::string &);
template ImportResponse decodeBody<ImportResponse>(const std::string &);
template IngestResponse decodeBody<IngestResponse>(const std::string &);

} // namespace quorral::api
