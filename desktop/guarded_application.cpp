#include "desktop/guarded_application.h"

#include "desktop/exception_log.h"

namespace gw::desktop {

TGuardedApplication::TGuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TGuardedApplication::notify(QObject* receiver, QEvent* event)
{
    // No std::function here: this runs for every event of the program.
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        LogCurrentException(logDir_);
    }
    return false;
}

} // namespace gw::desktop
