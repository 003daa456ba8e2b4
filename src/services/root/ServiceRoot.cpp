#include "root/ServiceRoot.h"

#include "settings/QSettingsDefaultsStore.h"

namespace quorral::services {

ServiceRoot::ServiceRoot(std::string home)
    : ServiceRoot(std::move(home), api::Config::fromEnvironment(), std::make_unique<settings::QSettingsDefaultsStore>())
{
    m_flushDefaults = [store = static_cast<settings::QSettingsDefaultsStore *>(m_defaults.get())] { store->sync(); };
}

ServiceRoot::ServiceRoot(std::string home, api::Config config, std::unique_ptr<settings::DefaultsStore> defaults,
                         std::function<void()> flushDefaults)
    : m_home(std::move(home)),
      m_defaults(std::move(defaults)),
      m_flushDefaults(std::move(flushDefaults)),
      m_keychain(m_home, m_legacy),
      m_client(std::move(config), m_keychain, *m_defaults, m_notifier),
      m_tracker(*m_defaults),
      m_syncState(*m_defaults)
{
}

ServiceRoot::~ServiceRoot()
{
    stopWatcher();
    flush();
}

watch::FileWatcher &ServiceRoot::makeWatcher(watch::DirectoryWatcherOptions options)
{
    stopWatcher();
    m_watcher = std::make_unique<watch::FileWatcher>(toolLocations(), m_client, m_tracker, m_syncState,
                                                     watch::makeDirectoryWatcher(options));
    return *m_watcher;
}

watch::FileWatcher &ServiceRoot::startWatcher(watch::DirectoryWatcherOptions options)
{
    auto &watcher = makeWatcher(options);
    watcher.startWatching();
    return watcher;
}

void ServiceRoot::stopWatcher()
{
    if (m_watcher)
        m_watcher->stopAll();
    m_watcher.reset();
}

void ServiceRoot::flush()
{
    if (m_flushDefaults)
        m_flushDefaults();
}

} // namespace quorral::services
