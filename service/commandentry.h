#pragma once
// The command entry: an OPC DA item write or an OPC UA variable write
// becomes On or Off for the tag sstID. The entry finds the tag's signal
// record and station and appends the command to the command queue of the
// link object of that station's channel (station row i, channel i - 1),
// under the station's channel lock, so it never races the tick or the receive
// path. The queue hands the commands of a station to its sequencer one after
// the other, each once the previous one has completed. Called from any
// thread.

#include "core/command.h"
#include "service/tables.h"

namespace gw {

// What the entry decided about a command.
enum class TTuDecision {
    Accepted,       // queued for sending
    NoDataTransfer, // no data transfer with the station (or no service run, no channel)
    QueueFull,      // the station holds TTuQueue::MaxQueuedTu commands already
    NoCommand,      // neither On nor Off
    NotCommandable, // no such signal, no command addresses, an unknown command type
};

// Accepted when the command was accepted for sending: it leaves unless the
// data transfer stops before its turn, and "log_iec104.txt" records how it
// ended. When not accepted, a line in "log_iec104.txt" says why, naming the
// station and signal where known. With Save_Obmen_v_File the entry also
// traces to "TU.txt".
TTuDecision DecideTU(TServiceContext& ctx, int sstID, TTUCommand TUCommand);

// True when DecideTU accepted the command.
bool ExecuteTU(TServiceContext& ctx, int sstID, TTUCommand TUCommand);

} // namespace gw
