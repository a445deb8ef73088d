#pragma once
// The text of a station's host as every tag and signal record of the host
// holds it: one copy for the whole process, pointed to. There are a few
// hundred stations and one tag and one record per signal.

#include <string>

namespace gw {

// The one copy of host; the same pointer for equal texts, valid for the
// rest of the process.
const std::string* SharedHost(std::string host);

} // namespace gw
