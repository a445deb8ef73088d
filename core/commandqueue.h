#pragma once
// The commands waiting for a channel's sequencer. The sequencer carries one
// command at a time, and a new Init would replace the one in progress: so a
// command given while another runs waits here, in the order given, and
// starts when the running one has completed. A command has completed when
// the station confirmed or terminated its execute, answered it negatively,
// or when its time-out (the sequencer's AckTimeout from its start) passed.
// Without data transfer nothing waits: the waiting commands, and the running
// one whose execute has not left, could leave only after a reconnect, after
// they were given for a link that is gone, so they are dropped; so is the
// running one whose last frame the link threw away unsent at a disconnect,
// though the sequencer took that frame for gone. Every command the queue
// took is reported once when it ends: executed, refused by the station, left
// without an answer, or dropped. Like the sequencer the queue takes no lock:
// its link's caller serialises every call.

#include "core/command.h"

#include <cstddef>
#include <deque>
#include <optional>
#include <string>

namespace gw {

// One command as the command entry gives it.
struct TTuOrder {
    TTUCommand command = TTUCommand::tuCommand_Empty;
    int CtrlASDUAddr = 0;
    int CtrlObjAddr = 0;
    int type_tu = 0;
    int sstID = 0;   // the commanded tag
    std::string who; // station and signal, as the log lines name them
};

// How a command of the queue ended.
enum class TTuOutcome {
    Executed, // the station confirmed its execute
    Refused,  // the station answered its select or execute negatively
    NoAnswer, // its time-out passed, or the link went, with no answer to what was sent
    Dropped,  // never sent whole: its select or execute did not leave
};

// Where the end of each command the queue took is reported.
class TTuQueueLog {
public:
    virtual ~TTuQueueLog() = default;
    // why says more for NoAnswer and Dropped; empty for the others.
    virtual void TuEnded(const TTuOrder& order, TTuOutcome outcome, const std::string& why) = 0;
};

class TTuQueue {
public:
    // Commands a station holds, the running one included: enough for an
    // operator switching a few points at once, few enough that the last of
    // them still leaves while it means something.
    static constexpr std::size_t MaxQueuedTu = 16;

    // log may be null (no lines).
    TTuQueue(TElemTU& sequencer, TClock& clock, TTuQueueLog* log);

    // Appends a command; false when the station holds MaxQueuedTu already.
    bool Push(TTuOrder order);

    // The per-pass step, after the sequencer's: ends the running command
    // once it has completed and starts the next waiting one with layout;
    // true when it started one, whose first step the sequencer may take at
    // once. Without dataTransfer the waiting commands are dropped.
    bool Service(bool dataTransfer, const TAsduLayout& layout);

    // A received ASDU: the station's answer to the running command's execute,
    // which mirrors it (an answer to a select of the object is not one), or a
    // negative answer to its select.
    void OnAsdu(const TIEC_ASDUt& asdu);

    // The link threw away the running command's select or execute before it
    // was written to the socket: the command ends, dropped, at the next
    // Service, and nothing of it goes out again.
    void StepNotSent();

    // A command of the queue runs: started, not yet completed nor dropped.
    bool Running() const { return running_.has_value(); }

    // The channel ends for good: every command whose execute has not left,
    // the running one included, is dropped with why; a running one whose
    // execute left ends without an answer.
    void DropAll(const std::string& why);

private:
    // The running command's outcome once it has completed.
    std::optional<TTuOutcome> RunningCompleted(bool dataTransfer);
    bool ExecuteSent() const;
    bool SelectSent() const; // of the running command
    bool StartNext(const TAsduLayout& layout);
    void End(const TTuOrder& order, TTuOutcome outcome, const std::string& why = {});

    TElemTU& tu_;
    TTuQueueLog* log_;
    std::deque<TTuOrder> waiting_;
    std::optional<TTuOrder> running_;
    bool answered_ = false; // the station answered the running command's execute
    bool refused_ = false;  // ...or its select or execute, negatively
    bool notSent_ = false;  // the running command's last frame was thrown away unsent
    TTimeCheckPause started_;
};

} // namespace gw
