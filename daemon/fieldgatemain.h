#pragma once
// The production wiring of fieldgate: the real watcher parts, the detaching,
// the service on its files, and the end of the process with _exit.

#include "core/clock.h"
#include "daemon/fieldgatehome.h"
#include "daemon/watcher.h"

#include <memory>

namespace gw {

class TServiceLog;

// "reboot", or for tests (TFieldgateHome::RebootIsNoOp) a line in
// "log_service.txt" and nothing else.
std::unique_ptr<TRebootAction> MakeRebootAction(const TFieldgateHome& home, TServiceLog& events, TClock& clock);

// Runs fieldgate and ends the process: 0 for every orderly end, 217 after
// reporting a failure that nothing caught.
[[noreturn]] void FieldgateMain(int argc, char** argv);

} // namespace gw
