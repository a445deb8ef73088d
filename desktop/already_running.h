#pragma once
// What a second start of opcstation tells before it ends.

namespace gw::desktop {

class TPrompts;

// The message goes to standard error always, and into a message box where a
// screen can show one: on a headless platform nobody could answer the box,
// and the refused start would never end.
void ReportAlreadyRunning(TPrompts& prompts);

} // namespace gw::desktop
