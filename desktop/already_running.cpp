#include "desktop/already_running.h"

#include "desktop/prompts.h"
#include "desktop/texts.h"

#include <QGuiApplication>

#include <cstdio>

namespace gw::desktop {

void ReportAlreadyRunning(TPrompts& prompts)
{
    std::fprintf(stderr, "%s\n", texts::AlreadyRunning);
    std::fflush(stderr);
    const QString platform = QGuiApplication::platformName();
    if (platform != "offscreen" && platform != "minimal")
        prompts.Info(texts::AlreadyRunning);
}

} // namespace gw::desktop
