// The controlled-station side of one 104 connection, without sockets: it
// takes the received bytes, answers U-frames, keeps the sequence numbers,
// acknowledges by w and t2, holds back I-frames beyond k, supervises t1,
// answers the requests and commands and generates the spontaneous changes.
// The caller writes out what TakeOutput returns.
#pragma once

#include "apci.h"
#include "asdu.h"
#include "event_log.h"
#include "options.h"
#include "signal_set.h"

#include <chrono>
#include <deque>
#include <string>

namespace kpsim {

using SteadyTime = std::chrono::steady_clock::time_point;

// The spontaneous changes of a station over all its connections, so a load
// test can tell a slow gateway's lost values from a lower rate.
struct SpontaneousStats {
    std::uint64_t values = 0;  // changes queued for sending
    std::uint64_t asdus = 0;   // ASDUs they were packed into
    std::uint64_t dropped = 0; // changes skipped because the queue was full
};

// What outlives a connection: the points, the switches set by control lines
// and the counts of what was sent.
struct StationState {
    SignalSet signals;
    double rate = 0;
    bool refuse = false;
    bool hold = false; // commands are taken and left unanswered
    bool silent = false;
    SpontaneousStats stats;
};

class Session {
public:
    // The I-frames sent last that "repeat" can send again.
    static constexpr int kRepeatableFrames = 64;

    Session(int number, const StationConfig& config, StationState& state, EventLog& log);

    // False when the connection has to be dropped; CloseReason says why.
    bool Receive(const std::uint8_t* data, std::size_t size, SteadyTime now);
    bool Tick(SteadyTime now);
    // Sends the point's current value as a spontaneous change; with a time
    // given, time-tagged with it whatever --time says.
    void SendSpontaneous(const Point& point, const std::optional<LocalTime>& time = std::nullopt);

    // Faults of the link asked for by control lines.
    // Sends again, with its old N(S), the I-frame sent `back` frames ago (1:
    // the last one); false when that frame is no longer kept.
    bool RepeatSent(int back);
    // The next I-frame sent carries an N(R) half the sequence space beyond
    // the frames received: an acknowledgement of frames the peer never sent,
    // whatever its window.
    void AckBeyondReceivedOnce() { ackBeyondReceived_ = true; }
    // STOPDT act: the station stops its own data transfer, as no controlled
    // station should; it sends nothing more until a STARTDT act.
    void StopDataTransfer();
    // End of initialisation (M_EI_NA_1, cause 4) with the cause of initialisation.
    void EndOfInitialisation(std::uint8_t coi);

    Bytes TakeOutput();
    const std::string& CloseReason() const { return closeReason_; }

private:
    struct Request;
    using Handler = void (Session::*)(const Request&);
    struct Route {
        TypeId type;
        Handler handler;
        bool broadcastAllowed;
    };
    static const Route kRoutes[];

    bool Fail(const std::string& reason);
    bool OnFrame(const Frame& frame, SteadyTime now);
    void OnUFrame(std::uint8_t function);
    bool AcceptAck(std::uint16_t recvSeq);
    void OnAsdu(const Bytes& asdu);

    void OnInterrogation(const Request& r);
    void OnCounterInterrogation(const Request& r);
    void OnClockSync(const Request& r);
    void OnCommand(const Request& r);

    void Reply(const Request& r, std::uint8_t cause, bool negative);
    void QueueAll(PointKind kind, std::uint8_t cause, bool timed);
    void Spontaneous(SteadyTime now);
    void Flush(SteadyTime now);
    void Emit(const Bytes& frame) { out_.insert(out_.end(), frame.begin(), frame.end()); }
    std::string Tag() const { return "station=" + std::to_string(number_); }

    const int number_;
    const StationConfig& config_;
    StationState& state_;
    EventLog& log_;

    FrameReader reader_;
    Bytes out_;
    std::deque<Bytes> queued_;         // ASDUs waiting for the window
    std::deque<SteadyTime> sentTimes_; // send time of every unacknowledged I-frame
    struct SentFrame {
        std::uint16_t sendSeq;
        Bytes asdu;
    };
    std::deque<SentFrame> history_; // the last I-frames sent, newest last, for "repeat"
    bool started_;
    bool ackBeyondReceived_ = false;
    std::uint16_t sendSeq_ = 0;
    std::uint16_t recvSeq_ = 0;
    std::uint16_t ackedByPeer_ = 0;
    int unackedReceived_ = 0;
    SteadyTime firstUnackedReceived_;

    double spontaneousRate_ = -1;
    SteadyTime spontaneousSince_;
    std::uint64_t spontaneousDone_ = 0;
    std::string closeReason_;
};

} // namespace kpsim
