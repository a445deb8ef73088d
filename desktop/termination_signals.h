#pragma once
// SIGTERM and SIGINT (the end of the session, a service manager, Ctrl+C in a
// terminal) close the main window the way its close box does: the closing
// steps run, the channel threads end and the program exits with 0 instead of
// being cut off in the middle of a write.

class QWidget;

namespace gw::desktop {

// Once per process, after the window exists.
void CloseOnTermination(QWidget& window);

} // namespace gw::desktop
