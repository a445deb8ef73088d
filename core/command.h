#pragma once
// The command sequencer of a channel: carries one single or double command
// through select, the station's confirmation and execute, or through execute
// alone. The command entry starts it (Init), the link's tick advances it
// (TuService1) and its receive path reports confirmations (OnConfirmation).
// A command not completed within AckTimeout ms of Init is abandoned. The
// sequencer takes no lock: its link's caller serialises every call.

#include "core/asdu.h"
#include "core/flags.h"
#include "core/stopwatch.h"

#include <optional>
#include <string>

namespace gw {

class TMessBuff;

enum class TStepTU { stuNone, stuInit, stuFormSelect, stuSendSelect, stuActSelect, stuFormExecute1, stuSendExecute };

enum class TTUCommand { tuCommand_Empty = 0, tuCommand_On = 1, tuCommand_Off = 2 };

// What the current command went through; nothing branches on it.
enum class TBitTuExecute {
    btue_TU_Init,
    btue_TU_TimeOut1,
    btue_TU_FormSelect,
    btue_TU_SendSelect,
    btue_TU_ActSelect,
    btue_TU_FormExecute1,
    btue_TU_SendExecute,
    btue_TU_Start,
};
using TFlagTuExecute = TFlagOf<TBitTuExecute>;

// Command kinds (type_tu): 0 single with select, 1 single direct, 2 double
// with select, 3 double direct.
bool IsKnownTuType(int type_tu);
// The type of a kind's ASDUs: C_SC_NA for single, C_DC_NA for double commands.
NameTypeIdent TuTypeIdent(int type_tu);
// The element (SCO or DCO) of a kind's select or execute for command: its
// state, qualifier 1 (short pulse) and S/E.
std::uint8_t TuElement(int type_tu, TTUCommand command, bool select);
// Whether a received command ASDU of a kind answers the frame whose element
// was sent: a station mirrors the command in its answers, so an answer with
// another S/E or state is one to another command for the same object (the
// late answer to an execute whose time-out passed, say), not to this one.
// The qualifier is not compared.
bool AnswersTuElement(const TIEC_ASDUt& rx, int type_tu, std::uint8_t sent);

// The link side of a command: queue a frame made from asdu in the send
// window when the data transfer runs and the window has room (true, and the
// link logs "(iec3) TU: Send" with its flags), or refuse it for now (false:
// the sequencer offers it again next pass).
class TTuSender {
public:
    virtual bool QueueTuAsdu(const TIEC_ASDUt& asdu) = 0;

protected:
    ~TTuSender() = default;
};

class TElemTU {
public:
    // log may be null (fieldgate writes no line).
    TElemTU(TClock& clock, const TTypeIdentList& types, TMessBuff* log, int timeout = 6000);

    // Starts a command, replacing one in progress. type_tu3: 0 single with
    // select, 1 single direct, 2 double with select, 3 double direct. Without
    // both addresses or with an unknown kind nothing changes, an error is
    // logged and the result is false.
    bool Init(TTUCommand ATUCommand, int ACtrlASDUAddr, int ACtrlObjAddr, const TAsduLayout& layout, bool prDoExec,
              int type_tu3);

    // The per-pass step: completes a sent execute, abandons an expired
    // command, builds the next ASDU and offers it to the channel.
    void TuService1(TTuSender& channel);

    // A received ASDU. A confirmation of this command's type, common address
    // and object address that mirrors the frame of the current step advances
    // a pending select (cause 7) or ends the command as failed (P/N = 1);
    // true when it did either.
    bool OnConfirmation(const TIEC_ASDUt& asdu);

    bool Idle() const { return step1 == TStepTU::stuNone; }
    // Ends the command in progress without a line: its caller reports it.
    void Cancel();
    // Counts the commands Init started: a frame queued for one is told from
    // the frames of the next, however alike.
    int CommandNo() const { return commandNo_; }
    // The time-out of the command Init started last has passed.
    bool TimeOutPassed() const { return tmCommand.TimeFromStart() > AckTimeout; }

    TStepTU step1 = TStepTU::stuNone;
    TFlagTuExecute fl;
    bool prDoExecute = false;
    TTUCommand TUCommand = TTUCommand::tuCommand_Empty;
    int CtrlASDUAddr = 0;
    int CtrlObjAddr = 0;
    TAsduLayout layout;
    std::optional<TIEC_ASDUt> asdu; // the ASDU of the current step
    int type_tu_ElemTU = 0;
    int AckTimeout;

private:
    void ExecuteNextStep();
    // Enters step (select or execute formed) and builds its ASDU; a build
    // that fails aborts the command.
    void FormStep(TStepTU step, TBitTuExecute done, const char* text);
    // The select or execute ASDU of the command; an error text when none can be built.
    std::string CreateAsduTUCommand(TStepTU step);
    void Abort(const std::string& why);
    void Log(std::uint32_t category, const std::string& text);

    TTimeCheckPause tmCommand;
    bool sent_ = false; // a frame of this command was queued
    int commandNo_ = 0;
    const TTypeIdentList& types_;
    TMessBuff* log_;
    TClock& clock_;
};

} // namespace gw
