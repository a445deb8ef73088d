// opcstation: the desktop gateway. One instance per user session; the
// program folder (--dir, else the executable's folder) holds every file.

#include "desktop/already_running.h"
#include "desktop/app_options.h"
#include "desktop/desktop_service.h"
#include "desktop/guarded_application.h"
#include "desktop/instance_lock.h"
#include "desktop/main_window.h"
#include "desktop/opcda_in_process.h"
#include "desktop/prompts.h"
#include "desktop/termination_signals.h"
#include "desktop/texts.h"

#include <QDir>

#include <exception>

#include <clocale>
#include <cstdio>

namespace {

// "REGSERVER" and "UNREGSERVER" runs: the server's entries go into (or out
// of) the registry store and the program ends without showing its window.
// The store here lives in this process only, which the line on standard
// error says, so that a script is not led to think something was kept.
int RunRegistrationSwitch(gw::desktop::TStartMode mode, gw::desktop::TOpcDaRegistration& registration)
{
    using gw::desktop::TStartMode;
    try {
        if (mode == TStartMode::RegServer)
            registration.RegisterOPCServer();
        else
            registration.UnRegisterOPCServer();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "opcstation: the registry store refused the OPC DA server's entries: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "opcstation: OPC DA server %s in the in-process registry store, which ends with the program\n",
                 mode == TStartMode::RegServer ? "registered" : "unregistered");
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    using namespace gw::desktop;
    TGuardedApplication app(argc, argv);
    // QApplication takes the user's locale; numbers are '.' everywhere here.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QString::fromUtf8(texts::AppTitle));

    std::vector<std::string> args;
    for (const QString& a : QApplication::arguments().mid(1))
        args.push_back(a.toStdString());
    const TAppOptions options = ParseAppOptions(args, QApplication::applicationDirPath().toStdString());
    if (!options.error.empty()) {
        std::fprintf(stderr,
                     "opcstation: %s\nusage: opcstation [--configurator] [--dir DIR] [/REGSERVER | /UNREGSERVER]\n",
                     options.error.c_str());
        return 2;
    }

    app.SetLogDir(options.dir);
    TQtPrompts prompts;
    TInstanceLock lock;
    if (!lock.TryTake()) {
        ReportAlreadyRunning(prompts);
        return 1;
    }

    TDesktopService service(options.dir, options.configurator);
    TOpcDaInProcess opcDa(service.Context(), QApplication::applicationFilePath().toStdString());
    opcDa.Init(texts::OpcProgId, texts::AppTitle, true, false);
    if (options.startMode == TStartMode::RegServer || options.startMode == TStartMode::UnRegServer)
        return RunRegistrationSwitch(options.startMode, opcDa.Registration());
    QDir::setCurrent(QString::fromStdString(options.dir));

    TOPCForm form(service, opcDa, prompts, options.configurator);
    form.SetRegistration(opcDa.Registration());
    form.FormCreate();
    try {
        opcDa.Start();
    } catch (const std::exception&) {
        // The program serves OPC UA and the grids without it.
    }
    CloseOnTermination(form);
    // For scripts that start it: from here a second start is refused.
    std::printf("opcstation: running in %s\n", options.dir.c_str());
    std::fflush(stdout);
    return TGuardedApplication::exec();
}
