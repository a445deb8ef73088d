#pragma once
// The link parameter dialog's fields as text, and the record they make:
// time-outs in whole seconds where the record holds milliseconds, the field
// sizes always those this system speaks (2, 3, 2, 0).

#include "core/prmn.h"

#include <optional>
#include <string>

namespace gw::desktop {

struct TLinkFields {
    std::string name, host, port;
    std::string k, w, t0, t1, t2, t3;
    std::string retryCount, retryDelay, confirmation, termination;
    std::string commonAddress, originatorAddress, receiveBufferLength, clockMinutes;
};

TLinkFields LinkFieldsOf(const TPrmn& record);
// The 104 defaults as fields ("Client104", "127.0.0.1", 2404, ...).
TLinkFields DefaultLinkFields();
// The confirmed record: every field an integer in the range "iec104.cfg"
// holds, or nothing (and the name of the first field that is not, for the
// focus). Fields without an edit (link address, polling cycle, clock check,
// enable flag) come out 0.
std::optional<TPrmn> LinkRecordOf(const TLinkFields& fields, std::string* badField = nullptr);

} // namespace gw::desktop
