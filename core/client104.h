#pragma once
// The link object of a channel on which the gateway is the controlling
// station: it hands frames to the channel's one-frame mailbox, asks the
// socket side to connect and disconnect, sends STARTDT act, queues the
// station-wide requests (clock synchronisation, general and counter
// interrogation) and parses the received ASDUs into the tags.
//
// The client takes no lock: the tick, the receive path, the connect and
// disconnect hand-overs and the command entry come from different threads,
// and whoever drives one client serialises every call into it (the service
// by the channel's lock).

#include "core/command.h"
#include "core/commandqueue.h"
#include "core/link104.h"

namespace gw {

class TTagSignalList;

enum class TBitClient { bclb_Work, bclb_AutoConnect, bclb_ConnectingOk, bclb_Connect, bclb_DisConnect };
using TClSFlag = TFlagOf<TBitClient>;

// What every client of one service start shares.
struct TClientContext {
    TLinkEnv link;
    const TTypeIdentList* types = nullptr;
    TTagSignalList* tags = nullptr; // where received values are stored
    bool prOprosSend = true;        // general interrogations are sent at all
    TTuQueueLog* tuLog = nullptr;   // where the end of every command is reported
};

class T104Client : public TSubj104, private TTuSender {
public:
    static constexpr std::int64_t ConnectPauseMs = 2000;
    static constexpr int MaxConnectAttempts = 6000;
    // How long the interrogation of a start-up waits for the station to
    // confirm its clock synchronisation.
    static constexpr std::int64_t ClockSyncAnswerWaitMs = 5000;

    T104Client(const TLinkSocket& psock, const TPrmn& aprm, const TClientContext& actx);

    bool GetConnected() const override;
    bool SendToSocket(const T104APDU& papdu, bool Save_Obmen, int nomer_socket) override;
    void StopConnect() override;
    void DoOnConnect() override;

    void setWork(bool onoff);
    bool Work() { return ClSFlag.Op(TFlagOperation::FYes, TBitClient::bclb_Work); }
    const TLinkSocket& PSocket() const { return psock; }
    bool WaitConnect() const { return FWaitConnect; }

    // The per-tick connection and request handling.
    void Connecting(bool Save_Obmen, int nomer_socket);
    // Interprets the queued frames and stores the values of their ASDUs.
    void RaspakReceiveBufferAPDU(bool Save_Obmen, int nomer_socket);

    // The per-tick step of the command queue and sequencer.
    void TuService1();

    // The command's select or execute can leave no more (the data transfer
    // stopped, the connection is gone): still in the send window or in the
    // mailbox, taken back from there, it counts as not sent, and the command
    // queue ends that command as one not sent.
    void SettleTuFrame();

    void Opros();
    void Opros_Counters_101();
    void Opros_CLOCK_SYNC_103();
    void OnTestFr();

    TClSFlag ClSFlag;
    TElemTU ElemTU;
    TTuQueue TuQueue; // the commands waiting for ElemTU
    // Requests of the service's period timers, taken at the next Connecting.
    bool OPROS_KP_ = false;
    bool opros_counters_101_ = false;
    bool PROC_CLOCK_SYNC_103_ = false;
    bool is_CLOCK_SYNC_103_ = false;
    bool First_CLOCK_SYNC_103_ = false;
    bool Is_Rezerv_IP = false;
    int nClConnAtt = 0;

private:
    // Where the frame of the running command's current step is until it is
    // written: the sequencer takes it for gone once the window holds it.
    enum class TTuFrameAt { None, Window, Mailbox };

    // The sequencer's frames: queued while the data transfer runs and the window has room.
    bool QueueTuAsdu(const TIEC_ASDUt& asdu) override;
    // A frame the mailbox took: the command's frame moved there, or, when
    // it was there, the channel has taken it for writing.
    void FollowTuFrame(const T104APDU& offered);
    // Whether the step that queued the followed frame still runs: a select
    // until it is confirmed or ends, an execute until its command ends.
    bool TuFrameStepRuns() const;
    // The step of the followed frame ended while the frame was not written:
    // it is taken out of the window or back from the mailbox, so a command
    // reported ended (or given again since) never reaches the station.
    void WithdrawEndedTuFrame();
    void OnDiscardingFrames() override;
    // Queues a station-wide request; dropped when the window is full.
    void QueueStationRequest(const TIEC_ASDUt& asdu, const std::string& what);
    void ParseAsdu(const T104APDU& frame, int nomer_socket);
    // The number of the connection's address in the tag list, found at its
    // first ASDU: the address stays for as long as the connection.
    int TagConn();
    // The start-up's requests after what the station sent: the interrogation
    // on the first clock synchronisation's confirmation, the whole start-up
    // again after its end of initialisation.
    void OnStartUpAnswer(const TIEC_ASDUt& asdu);
    // The first clock synchronisation of a start-up left unconfirmed: the
    // interrogation goes out without it.
    void CheckClockSyncAnswer(bool Save_Obmen, int nomer_socket);

    TLinkSocket psock;
    TClientContext ctx;
    TTimeCheckPause tWaitConnect;
    TTimeCheckPause tClockSyncAnswer; // runs while the first clock synchronisation awaits its con
    bool FWaitConnect = false;
    int tagConn_ = -1;
    std::uint64_t tagConnOf_ = 0; // the tag list's Generation() tagConn_ was found in; 0: none on this connection
    TTuFrameAt tuFrameAt_ = TTuFrameAt::None;
    T104APDU tuFrame_;         // the command's frame as queued, its control field zero
    int tuCommandNo_ = 0;      // ElemTU's command that queued it
    bool tuSelect_ = false;    // it is that command's select
    bool tuFromQueue_ = false; // that command was the queue's running one
};

} // namespace gw
