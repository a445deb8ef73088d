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

#include <clocale>
#include <cstdio>

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
        std::fprintf(stderr, "opcstation: %s\nusage: opcstation [--configurator] [--dir DIR]\n",
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
