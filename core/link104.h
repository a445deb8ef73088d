#pragma once
// The IEC 60870-5-104 link layer of one channel, without any socket: it cuts
// the received bytes into frames, keeps the sequence numbers, acknowledges by
// the w and t2 rules, supervises t1 and t3, answers STARTDT and TESTFR,
// drops a connection on which the station stops the data transfer or breaks
// the sequence, and sends the I-frames of its send window. No frame is lost
// or sent twice: a frame the socket side refuses stays queued for the next
// pass, and an unacknowledged frame or unanswered act at t1 drops the
// connection (IEC 60870-5-104, 5.2) instead of being sent again.

#include "core/apdu.h"
#include "core/asdu_layout.h"
#include "core/clock.h"
#include "core/flags.h"
#include "core/linkport.h"
#include "core/prmn.h"
#include "core/stopwatch.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace gw {

class TMessBuff;

enum class TBit104Subj {
    bsb_SOCK_EMPTY,
    bsb_SOCK_SERVICE,
    bsb_PROC_OPROS,
    bsb_STARTDT_Want,
    bsb_STARTDT_Act,
    bsb_STARTDT_Ok,
    bsb_ERRSEQAPDU,
    bsb_DoTESTFR,
    bsb_ClearValid,
    bsb_CallDoDisconnect,
    bsb_PROC_OPROS_101,
    bsb_PROC_CLOCK_SYNC_103,
    // U-frames waiting for a free mailbox, and the test frame awaiting its con.
    bsb_STARTDT_ConWant,
    bsb_TESTFR_ConWant,
    bsb_TESTFR_Want,
    bsb_TESTFR_Act,
    // The connection is being dropped: nothing more goes out on it.
    bsb_Dropping,
    // The station stopped the data transfer: the connection is dropped and
    // made again, since a controlled station has no business stopping it.
    bsb_STOPDT_FromKP,
};
using TFl104Subj = TFlagOf<TBit104Subj>;

// One received chunk and the peer it came from.
struct TSocket_temp {
    std::span<const std::uint8_t> ReceiveBuf_str;
    std::string_view RemoteAddress;
    int RemotePort = 0;
};

// What every link is handed by its owner.
struct TLinkEnv {
    TClock* clock = nullptr;
    TMessBuff* log = nullptr;    // no log-queue lines when null (fieldgate)
    TLinkTrace* trace = nullptr; // no exchange trace when null
    bool nameSentFrames = true;  // opcstation names each sent I-frame in the trace
};

// "hh:mm:ss" of a local date-time, as trace lines show it.
std::string LongTimeText(TDateTime dt);

class TSubj104 {
public:
    TSubj104(const TPrmn& aprm, TLinkEnv aenv);
    virtual ~TSubj104() = default;
    TSubj104(const TSubj104&) = delete;
    TSubj104& operator=(const TSubj104&) = delete;

    // The socket side, implemented by the controlling-station link.
    virtual bool GetConnected() const = 0;
    virtual bool SendToSocket(const T104APDU& papdu, bool Save_Obmen, int nomer_socket) = 0;
    virtual void StopConnect() = 0;
    bool Connected() const { return GetConnected(); }

    virtual void DoOnConnect();
    void DoOnDisconnect();

    // Takes one chunk and cuts it into the receive queue.
    void Receive(const TSocket_temp& Socket, bool Save_Obmen, int nomer_socket);
    // Cuts what a full receive queue left uncut; true when it queued a frame.
    bool CutFrames(bool Save_Obmen, int nomer_socket);
    // Acts on one frame's control field; true when it is an I-frame whose
    // ASDU is to be parsed.
    bool RaspakAPDU(const T104APDU& papdu, bool Save_Obmen, int nomer_socket);
    // The service pass: acknowledgements, timers, waiting U-frames (STARTDT
    // act among them), send loop.
    void ConnectService(bool Save_Obmen, int nomer_socket);
    // The same with the timers read at nowMs: the pass right after a
    // receive takes the instant of that receive (ReceivedMs).
    void ConnectServiceAt(std::int64_t nowMs, bool Save_Obmen, int nomer_socket);
    // The monotonic instant of the last Receive.
    std::int64_t ReceivedMs() const { return receivedMs_; }

    // Appends an I-frame to the send window; false when the window is full.
    bool QueueIFrame(const T104APDU& frame);
    // The last I-frame sent came back from the mailbox unwritten and goes:
    // its number and the acknowledgement it carried count as never sent.
    void TakeBackLastIFrame();
    bool SendUCommand1(U_Func command, UActCon ActCon, bool Save_Obmen, int nomer_socket);
    bool SendSCommand1(int vr, bool wOver, bool Save_Obmen, int nomer_socket);
    bool SendICommand(T104APDU& papdu, bool Save_Obmen, int nomer_socket);

    int GetW() const { return DiffSeq(Fvr, FVrAck); }
    int Vs() const { return Fvs; }
    int vr() const { return Fvr; }
    int VrAck() const { return FVrAck; }
    int AckNr() const { return Ack; }
    bool StartDT() { return flag.Op(TFlagOperation::FYes, TBit104Subj::bsb_STARTDT_Ok); }
    bool Yes(TBit104Subj b) { return flag.Op(TFlagOperation::FYes, b); }
    void Set(TBit104Subj b) { flag.Op(TFlagOperation::FSet, b); }
    void Clear(TBit104Subj b) { flag.Op(TFlagOperation::FClear, b); }

    std::string str_vsvrCnt() const;
    std::string str_AddrPort() const;
    TAsduLayout Layout() const;
    const TReceiveArea& Area() const { return area; }
    std::int64_t MonotonicMs() const { return Clock().MonotonicMs(); }

    TFl104Subj flag;
    TPrmn prm;
    TBufferAPDU s_APDUBuf;
    TBufferAPDU r_APDUBuf;
    std::string FIpPort;
    TDateTime Date_Time_Disconnect = 0;
    int Popravka_time_103 = 0;
    int k = 0;

protected:
    // Whether a line of that category / the trace would be kept: the lines of
    // every frame are only built when they are.
    bool Logs(std::uint32_t category) const;
    bool Traces(bool Save_Obmen) const { return Save_Obmen && env.trace != nullptr; }
    void Log(std::uint32_t category, const std::string& text) const;
    void Trace(bool Save_Obmen, int nomer_socket, const std::string& line) const;
    TClock& Clock() const { return *env.clock; }
    // Called as a connection's frames are thrown away, those still waiting
    // in the send window among them, before they are.
    virtual void OnDiscardingFrames() {}
    TLinkEnv env;

private:
    // False when vrSecond acknowledges frames never sent (the connection is then dropped).
    bool DoAckSend(int vrSecond);
    // False when the frame is out of sequence: nothing of it is to be stored.
    bool AcceptIFrame(const T104APDU& papdu, bool Save_Obmen, int nomer_socket);
    void AcceptStopdtAct(bool Save_Obmen, int nomer_socket);
    void AcceptUFrame(const T104APDU& papdu, bool Save_Obmen, int nomer_socket);
    // Sends the U-frames waiting for the mailbox; false when one was refused.
    bool SendWaitingU(bool Save_Obmen, int nomer_socket);
    bool T1Expired(std::int64_t nowMs);
    void ResetLink();

    int Fvs = 0;
    int Fvr = 0;
    int FVrAck = 0;
    int FVrAckBeforeI = 0; // FVrAck before the last I-frame sent carried an acknowledgement
    int Ack = 0;
    // t1 of each act awaiting its con, from the first time it went out.
    TTimeCheckPause t1_Response; // STARTDT act
    TTimeCheckPause t1_TestFr;   // TESTFR act
    TTimeCheckPause t2_AckReseiveI;
    TTimeCheckPause t3_TestSending;
    TReceiveArea area;
    std::string peerText;
    std::int64_t receivedMs_ = 0;
};

} // namespace gw
