#pragma once

#include "settings/DefaultsStore.h"

#include <QSettings>

#include <memory>
#include <mutex>

namespace quorral::settings {

// The user defaults store on QSettings: organisation "Quorral", application "Quorral"
// in production, or an INI file of the caller's choosing (tests).
class QSettingsDefaultsStore final : public DefaultsStore {
public:
    QSettingsDefaultsStore();
    explicit QSettingsDefaultsStore(const QString &iniFile);

    std::optional<nlohmann::json> value(const std::string &key) const override;
    void setValue(const std::string &key, const nlohmann::json &value) override;
    void remove(const std::string &key) override;

    // Writes pending changes to disk now (QSettings otherwise does so lazily).
    void sync();

private:
    mutable std::mutex m_mutex;
    std::unique_ptr<QSettings> m_settings;
};

} // namespace quorral::settings
