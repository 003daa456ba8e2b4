#include "Application.h"

#include "DesktopApplication.h"
#include "async/SignalPipe.h"
#include "instance/SingleInstance.h"
#include "root/ServiceRoot.h"
#include "shortcut/GlobalShortcut.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>

#include <csignal>
#include <iostream>

namespace quorral::app {

int runApplication(int argc, char **argv, const std::string &home, bool quickInput)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorral"));
    QApplication::setOrganizationName(QStringLiteral("Quorral"));
    // The panel and quick input come and go; the application lives in the tray.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance(home);
    switch (instance.start(quickInput ? SingleInstance::quickInput : SingleInstance::showPanel)) {
    case SingleInstance::Role::secondary:
        return 0;
    case SingleInstance::Role::failed:
        std::cerr << "quorral: " << instance.error().toStdString() << "\n";
        return 1;
    case SingleInstance::Role::primary:
        break;
    }

    services::ServiceRoot services(home);
    TrayPanelEnvironment environment;
    environment.openUrl = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    environment.copyText = [](const QString &text) { QGuiApplication::clipboard()->setText(text); };
    DesktopApplication desktop(services, std::move(environment));

    QObject::connect(&instance, &SingleInstance::requestReceived, &desktop, [&desktop](const QByteArray &request) {
        if (request == SingleInstance::quickInput)
            desktop.tray().showQuickInput();
        else
            desktop.tray().showPanel();
    });
    QObject::connect(&desktop, &DesktopApplication::quitRequested, &application, &QApplication::quit);
    async::SignalPipe stop({SIGINT, SIGTERM});
    QObject::connect(&stop, &async::SignalPipe::received, &application, [](int) { QApplication::quit(); });

    GlobalShortcut shortcut;
    QObject::connect(&shortcut, &GlobalShortcut::activated, &desktop, [&desktop] { desktop.tray().showQuickInput(); });

    desktop.launch();
    if (quickInput)
        desktop.tray().showQuickInput();
    const int status = QApplication::exec();
    desktop.shutdown();
    return status;
}

} // namespace quorral::app
