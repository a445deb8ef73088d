#pragma once
// The command entry: an OPC DA item write or an OPC UA variable write
// becomes On or Off for the tag sstID. The entry finds the tag's signal
// record and station, and starts the command sequencer of the link object of
// that station's channel (station row i, channel i - 1), under the station's
// ChannelLock, so it never races the tick or the receive path. Called from
// any thread.

#include "core/command.h"
#include "service/tables.h"

namespace gw {

// True when a command was started; when not, a line in "log_iec104.txt"
// says why. With Save_Obmen_v_File the entry also traces to "TU.txt".
bool ExecuteTU(TServiceContext& ctx, int sstID, TTUCommand TUCommand);

} // namespace gw
