#include "core/link104.h"

#include "core/asdu.h"
#include "core/iec104codes.h"
#include "core/logcategories.h"
#include "core/messbuff.h"
#include "core/text.h"

#include <algorithm>
#include <cstdio>

namespace gw {

namespace {

constexpr int ReceiveQueueSize = 250;
// The clock synchronisation leaves a little after it was stamped.
constexpr double ClockSyncLeadMs = 20.0;

// More frames than 15-bit numbers cannot be told apart when acknowledged,
// whatever the parameter record says.
constexpr int MaxWindow = 32767;

int SendWindowCapacity(int kMax) { return std::clamp(kMax, 0, MaxWindow); }

int ReceiveQueueCapacity(int kMax)
{
    const int k = SendWindowCapacity(kMax);
    return k >= ReceiveQueueSize ? k * 3 + 24 : ReceiveQueueSize;
}

std::string Hex2(int value)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", value & 0xFF);
    return buf;
}

} // namespace

std::string LongTimeText(TDateTime dt)
{
    TDateTimeParts p;
    if (!TryDecodeDateTime(dt, p))
        return "00:00:00";
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
    return buf;
}

TSubj104::TSubj104(const TPrmn& aprm, TLinkEnv aenv)
    : prm(aprm), s_APDUBuf(SendWindowCapacity(aprm.kMax)), r_APDUBuf(ReceiveQueueCapacity(aprm.kMax)), env(aenv),
      t1_Response(*aenv.clock), t1_TestFr(*aenv.clock), t2_AckReseiveI(*aenv.clock), t3_TestSending(*aenv.clock)
{
}

TAsduLayout TSubj104::Layout() const
{
    return TAsduLayout::Make(prm.sz_COT, prm.sz_ASDUAddress, prm.sz_InfObjAddress, prm.OriginatorAddress);
}

bool TSubj104::Logs(std::uint32_t category) const { return env.log != nullptr && env.log->Keeps(category); }

void TSubj104::Log(std::uint32_t category, const std::string& text) const
{
    if (env.log)
        env.log->Put(category, text, Clock().Now());
}

void TSubj104::Trace(bool Save_Obmen, int nomer_socket, const std::string& line) const
{
    if (Save_Obmen && env.trace)
        env.trace->TraceLine(nomer_socket, line);
}

std::string TSubj104::str_vsvrCnt() const
{
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about
    // a literal put before a temporary string.
    std::string s(1, '(');
    s += std::to_string(Fvs);
    s += ',';
    s += std::to_string(Fvr);
    s += ',';
    s += std::to_string(Ack);
    s += ",k=";
    s += std::to_string(k);
    s += ") ";
    return s;
}

std::string TSubj104::str_AddrPort() const { return FIpPort; }

void TSubj104::ResetLink()
{
    OnDiscardingFrames();
    s_APDUBuf.Reset(true);
    r_APDUBuf.Reset(true);
    // A tail from the previous connection would spoil the first frame of the next.
    area.Clear();
    t1_Response.Stop();
    t1_TestFr.Stop();
    t2_AckReseiveI.Stop();
}

void TSubj104::DoOnConnect()
{
    Fvs = Fvr = FVrAck = k = Ack = 0;
    flag.Reset();
    ResetLink();
    t3_TestSending.Start();
    Log(LogLink, "(iec5) DoOnConnect (сбросить все счетчики,STARTDT)" + flag.ToString());
}

void TSubj104::DoOnDisconnect()
{
    flag.Reset();
    Set(TBit104Subj::bsb_ClearValid);
    Date_Time_Disconnect = Clock().Now();
    ResetLink();
    Log(LogLink, "(iec5) DoOnDisconnect():" + FIpPort + "(сбросить STARTDT)" + flag.ToString());
}

void TSubj104::Receive(const TSocket_temp& Socket, bool Save_Obmen, int nomer_socket)
{
    receivedMs_ = Clock().MonotonicMs();
    const auto n = Socket.ReceiveBuf_str.size();
    // A connection being dropped lost its framing or its sequence: what still
    // arrives on it before the socket closes is not taken for frames.
    if (Yes(TBit104Subj::bsb_Dropping)) {
        Trace(Save_Obmen, nomer_socket,
              "Соединение разрывается, принятые байты пропущены. Count =" + std::to_string(n));
        return;
    }
    if (Traces(Save_Obmen))
        Trace(Save_Obmen, nomer_socket,
              BufToHex(Socket.ReceiveBuf_str, n, "From KP " + LongTimeText(Clock().Now()) + " ")
                  + "  Count =" + std::to_string(n));
    if (Traces(Save_Obmen) || Logs(LogExchange))
        peerText = " \"\"" + std::string(Socket.RemoteAddress) + "=" + std::to_string(Socket.RemotePort) + "\"\" ";
    area.Add(Socket.ReceiveBuf_str);
    t3_TestSending.StartAt(receivedMs_);
    CutFrames(Save_Obmen, nomer_socket);
}

bool TSubj104::CutFrames(bool Save_Obmen, int nomer_socket)
{
    bool queued = false;
    while (T104APDU* slot = r_APDUBuf.NextFree()) {
        T104APDU& frame = *slot;
        const auto pending = area.Pending();
        const auto cut = area.Cut(frame);
        if (cut == TReceiveArea::TCut::NeedMore)
            break;
        if (cut != TReceiveArea::TCut::Frame) {
            // The stream has lost its framing: nothing after this byte can be
            // trusted, so the connection is dropped at the next pass.
            const std::string text =
                cut == TReceiveArea::TCut::BadStart
                    ? "ERROR: 1-й байт APDU не равен 68H. Байт=" + Hex2(area.Current())
                    : "ERROR: длина APDU=" + std::to_string(area.Uncut()[1]) + " вне 4..253. Разрыв соедин!";
            Trace(Save_Obmen, nomer_socket, text);
            Trace(Save_Obmen, nomer_socket,
                  BufToHex(area.Uncut(), pending, "Data " + LongTimeText(Clock().Now()) + " ")
                      + "  Count =" + std::to_string(pending));
            Log(LogError, text);
            area.Clear();
            Set(TBit104Subj::bsb_ERRSEQAPDU);
            break;
        }
        r_APDUBuf.Added();
        queued = true;
        if (Traces(Save_Obmen))
            Trace(Save_Obmen, nomer_socket, frame.toString(" Data >         ") + " " + peerText);
        if (Logs(LogExchange))
            Log(LogExchange, ">(iec0)" + peerText + frame.toString(" Receive: "));
    }
    return queued;
}

bool TSubj104::RaspakAPDU(const T104APDU& papdu, bool Save_Obmen, int nomer_socket)
{
    // After its STOPDT the station's frames are not taken, also those that
    // came in the same chunk: the connection is dropped at the next pass.
    if (Yes(TBit104Subj::bsb_STOPDT_FromKP))
        return false;
    switch (papdu.Format()) {
    case TApduFormat::S: {
        int ns = 0, nr = 0;
        papdu.GetFromAPCI(1, ns, nr);
        if (papdu.Data[1] != 4) {
            Log(LogAlways, "Формат S ошибка в длине");
            return false;
        }
        DoAckSend(nr);
        if (Logs(LogLink))
            Log(LogLink, ">(iec5) " + str_vsvrCnt() + papdu.toString("S!!!: "));
        return false;
    }
    case TApduFormat::U: AcceptUFrame(papdu, Save_Obmen, nomer_socket); return false;
    case TApduFormat::I: break;
    }
    if (!AcceptIFrame(papdu, Save_Obmen, nomer_socket))
        return false;
    const TAsduLayout layout = Layout();
    const int headerBytes = layout.FixedLen() + layout.szIoa;
    if (static_cast<int>(papdu.Asdu().size()) < headerBytes) {
        Log(LogAlways, "Error: ASDU короче заголовка, длина=" + std::to_string(papdu.Asdu().size()));
        return false;
    }
    return true;
}

bool TSubj104::AcceptIFrame(const T104APDU& papdu, bool Save_Obmen, int nomer_socket)
{
    // Data flowing means the transfer runs: no STARTDT con is awaited any more.
    Set(TBit104Subj::bsb_STARTDT_Ok);
    Clear(TBit104Subj::bsb_STARTDT_Act);
    int ns = 0, nr = 0;
    papdu.GetFromAPCI(0, ns, nr);
    // A frame that acknowledges frames never sent is as much out of step as
    // one with a gap in N(S): the connection drops and nothing of it is taken.
    if (!DoAckSend(nr))
        return false;
    const bool inSequence = ns == Fvr;
    if (inSequence) {
        // t2 runs from the oldest frame not yet acknowledged.
        if (GetW() == 0)
            t2_AckReseiveI.Start();
        Fvr = IncSeq(Fvr);
    } else {
        // Frames lost (ahead) or sent again (behind): either way the stream
        // is out of step, and a repeated old value must not overwrite a newer one.
        const std::string text = "Error Нарушена последовательность APDU_I. vr=" + std::to_string(Fvr * 2)
                                 + (DiffSeq(ns, Fvr) > 0 ? " меньше" : " больше")
                                 + " vsSecond=" + std::to_string(ns * 2) + " Разрыв соедин!";
        Trace(Save_Obmen, nomer_socket, text);
        Log(LogAlways, text);
        Set(TBit104Subj::bsb_ERRSEQAPDU);
    }
    if (Logs(LogExchange))
        Log(LogExchange,
            ">(iec0)" + FIpPort + " I(" + std::to_string(ns) + "," + std::to_string(nr) + ") " + str_vsvrCnt());
    return inSequence;
}

void TSubj104::AcceptUFrame(const T104APDU& papdu, bool Save_Obmen, int nomer_socket)
{
    if (papdu.Data[1] != 4 || papdu.Data[3] != 0 || papdu.Data[4] != 0 || papdu.Data[5] != 0) {
        Log(LogAlways, "Формат U ошибка в длине или байты 3,4,5<>0");
        return;
    }
    switch (papdu.UFunction()) {
    case UFn_STARTDT_Act: Set(TBit104Subj::bsb_STARTDT_ConWant); break;
    case UFn_STARTDT_Con:
        Set(TBit104Subj::bsb_STARTDT_Ok);
        Clear(TBit104Subj::bsb_STARTDT_Act);
        Set(TBit104Subj::bsb_PROC_CLOCK_SYNC_103);
        break;
    case UFn_STOPDT_Act: AcceptStopdtAct(Save_Obmen, nomer_socket); break;
    case UFn_STOPDT_Con: break;
    case UFn_TESTFR_Act: Set(TBit104Subj::bsb_TESTFR_ConWant); break;
    case UFn_TESTFR_Con: Clear(TBit104Subj::bsb_TESTFR_Act); break;
    default: Log(LogAlways, "Одновременно несколько функций? actcon=" + Hex2(papdu.UFunction())); return;
    }
    Log(LogLink, ">(iec5) U " + FIpPort + papdu.toString(" ") + flag.ToString());
    // Answers go out at once when the mailbox is free, else at the next pass.
    if (Connected())
        SendWaitingU(Save_Obmen, nomer_socket);
}

void TSubj104::AcceptStopdtAct(bool Save_Obmen, int nomer_socket)
{
    // Only the controlling station stops the data transfer. A station that
    // does would leave the link up and silent, commands refused; a new
    // connection brings it back with a fresh start-up. So no con: the
    // connection is dropped at the next pass and the channel connects again.
    Clear(TBit104Subj::bsb_STARTDT_Ok);
    Clear(TBit104Subj::bsb_STARTDT_Act);
    Set(TBit104Subj::bsb_STOPDT_FromKP);
    const std::string text = "(iec5) STOPDT act от КП: разрыв соединения, новое соединение";
    Trace(Save_Obmen, nomer_socket, text);
    Log(LogAlways, text);
}

bool TSubj104::DoAckSend(int vrSecond)
{
    const int unacked = SeqDistance(Fvs, Ack);
    const int covered = SeqDistance(vrSecond, Ack);
    if (covered > unacked) {
        // An acknowledgement of frames never sent: the peer is out of step.
        Log(LogAlways, "Error N(R)=" + std::to_string(vrSecond) + " вне окна (" + std::to_string(Ack) + ".."
                           + std::to_string(Fvs) + "). Разрыв соедин!");
        Set(TBit104Subj::bsb_ERRSEQAPDU);
        return false;
    }
    if (covered == 0)
        return true;
    s_APDUBuf.FreeSent(covered);
    Ack = vrSecond;
    k = DiffSeq(Fvs, Ack);
    return true;
}

bool TSubj104::SendWaitingU(bool Save_Obmen, int nomer_socket)
{
    // Answers to the station first, then our own acts; an act is awaited
    // (t1) only once it really went out, and an act sent again while the
    // first still awaits its con keeps the first one's t1: repeating it
    // must not keep a station that never answers connected.
    struct TWaitingU {
        TBit104Subj want;
        U_Func func;
        UActCon actcon;
        TBit104Subj awaited;           // the act's outstanding bit; unused for answers
        TTimeCheckPause TSubj104::*t1; // the act's t1; unused for answers
    };
    static constexpr TWaitingU waiting[] = {
        {TBit104Subj::bsb_STARTDT_ConWant, U_Func::U_STARTDT, UActCon::UCON, TBit104Subj::bsb_STARTDT_Act, nullptr},
        {TBit104Subj::bsb_TESTFR_ConWant, U_Func::U_TESTFR, UActCon::UCON, TBit104Subj::bsb_TESTFR_Act, nullptr},
        {TBit104Subj::bsb_STARTDT_Want, U_Func::U_STARTDT, UActCon::UACT, TBit104Subj::bsb_STARTDT_Act,
         &TSubj104::t1_Response},
        {TBit104Subj::bsb_TESTFR_Want, U_Func::U_TESTFR, UActCon::UACT, TBit104Subj::bsb_TESTFR_Act,
         &TSubj104::t1_TestFr},
    };
    for (const TWaitingU& u : waiting) {
        if (!Yes(u.want))
            continue;
        if (!SendUCommand1(u.func, u.actcon, Save_Obmen, nomer_socket))
            return false;
        Clear(u.want);
        if (u.actcon == UActCon::UACT) {
            if (!Yes(u.awaited))
                (this->*u.t1).Start();
            Set(u.awaited);
        } else if (u.func == U_Func::U_STARTDT) {
            // The station started the transfer and heard our con.
            Set(TBit104Subj::bsb_STARTDT_Ok);
            Clear(TBit104Subj::bsb_STARTDT_Act);
            Set(TBit104Subj::bsb_PROC_CLOCK_SYNC_103);
        }
    }
    return true;
}

bool TSubj104::T1Expired(std::int64_t nowMs)
{
    const std::int64_t t1 = prm.t1;
    if (s_APDUBuf.Send() > 0 && nowMs - s_APDUBuf.OldestSentMs() > t1) {
        Log(LogLink, "(iec5) t1(вышел таймаут! Нет подтверждения I-кадра. Разрыв соединения)");
        return true;
    }
    const bool startdtLate = Yes(TBit104Subj::bsb_STARTDT_Act) && t1_Response.CheckExpireAt(nowMs, t1, false);
    const bool testfrLate = Yes(TBit104Subj::bsb_TESTFR_Act) && t1_TestFr.CheckExpireAt(nowMs, t1, false);
    if (startdtLate || testfrLate) {
        Log(LogLink, "(iec5) t1(вышел таймаут! Нет ответа на U-кадр. Разрыв соединения)");
        return true;
    }
    return false;
}

void TSubj104::ConnectService(bool Save_Obmen, int nomer_socket)
{
    ConnectServiceAt(Clock().MonotonicMs(), Save_Obmen, nomer_socket);
}

void TSubj104::ConnectServiceAt(std::int64_t nowMs, bool Save_Obmen, int nomer_socket)
{
    if (Yes(TBit104Subj::bsb_CallDoDisconnect))
        DoOnDisconnect();
    if (!Connected() || Yes(TBit104Subj::bsb_Dropping))
        return;
    if (Yes(TBit104Subj::bsb_ERRSEQAPDU) || Yes(TBit104Subj::bsb_STOPDT_FromKP) || T1Expired(nowMs)) {
        StopConnect();
        Set(TBit104Subj::bsb_Dropping);
        return;
    }
    if (!SendWaitingU(Save_Obmen, nomer_socket))
        return;

    const int w = GetW();
    if (w > 0) {
        const bool wOver = w >= prm.wMax;
        if (wOver || t2_AckReseiveI.CheckExpireAt(nowMs, prm.t2, false)) {
            Log(LogLink, wOver ? "(iec5) Подтверждение приема т.к.(GetW>=wMax)"
                               : "(iec5) Подтверждение приема т.к.(вышел таймаут t2!");
            if (!SendSCommand1(Fvr, wOver, Save_Obmen, nomer_socket))
                return;
        }
    }

    if (t3_TestSending.CheckExpireAt(nowMs, prm.t3, true) && !Yes(TBit104Subj::bsb_TESTFR_Act)) {
        Log(LogLink, "(iec5) t3_(вышел таймаут! Послать проверку связи.)");
        Set(TBit104Subj::bsb_TESTFR_Want);
        if (!SendWaitingU(Save_Obmen, nomer_socket))
            return;
    }

    // I-frames only once the data transfer runs; a refused one stays next in line.
    if (!StartDT())
        return;
    while (T104APDU* frame = s_APDUBuf.NextToSend()) {
        if (!SendICommand(*frame, Save_Obmen, nomer_socket))
            break;
        s_APDUBuf.MarkSent(Clock().MonotonicMs());
    }
}

bool TSubj104::QueueIFrame(const T104APDU& frame) { return s_APDUBuf.Put1(frame); }

void TSubj104::TakeBackLastIFrame()
{
    if (!s_APDUBuf.UnmarkSent())
        return;
    s_APDUBuf.RemoveUnsent(s_APDUBuf.Send());
    Fvs = SeqDistance(Fvs, 1);
    k = DiffSeq(Fvs, Ack);
    FVrAck = FVrAckBeforeI;
}

bool TSubj104::SendUCommand1(U_Func command, UActCon ActCon, bool Save_Obmen, int nomer_socket)
{
    T104APDU frame;
    FormUFrame(frame, command, ActCon);
    if (command == U_Func::U_TESTFR)
        Set(TBit104Subj::bsb_DoTESTFR);
    const bool ok = SendToSocket(frame, Save_Obmen, nomer_socket);
    if (Logs(LogLink))
        Log(LogLink, "<(iec5) " + frame.toString(ok ? "Send_U:" : "Error Send_U:") + flag.ToString());
    return ok;
}

bool TSubj104::SendSCommand1(int vr, bool /*wOver*/, bool Save_Obmen, int nomer_socket)
{
    T104APDU frame;
    FormSFrame(frame, vr);
    const bool ok = SendToSocket(frame, Save_Obmen, nomer_socket);
    if (ok) {
        FVrAck = vr;
        t2_AckReseiveI.Stop();
    }
    if (Logs(LogLink))
        Log(LogLink, "<(iec5) " + frame.toString(ok ? "Send_S: " : "Error Send_S: ") + flag.ToString());
    return ok;
}

bool TSubj104::SendICommand(T104APDU& papdu, bool Save_Obmen, int nomer_socket)
{
    FillIControl(papdu, Fvs, Fvr);
    // A clock synchronisation carries the time of the moment it leaves.
    if (papdu.lenData > AsduOffset) {
        const auto asdu = std::span<std::uint8_t>(papdu.Data)
                              .subspan(AsduOffset, static_cast<std::size_t>(papdu.lenData - AsduOffset));
        StampClockSync(asdu, Layout(), Clock().Now() - Popravka_time_103 / 24.0 + ClockSyncLeadMs / MsPerDay);
    }
    const bool ok = SendToSocket(papdu, Save_Obmen, nomer_socket);
    if (ok) {
        Fvs = IncSeq(Fvs);
        k = DiffSeq(Fvs, Ack);
        FVrAckBeforeI = FVrAck;
        FVrAck = Fvr;
        t2_AckReseiveI.Stop();
    }
    if (Logs(LogExchange))
        Log(LogExchange, "<(iec0)" + std::string(ok ? "" : "Error Send I:") + str_vsvrCnt() + papdu.toString(""));
    if (ok && env.nameSentFrames) {
        const int type = papdu.Data[AsduOffset];
        Trace(Save_Obmen, nomer_socket,
              type == TypeClockSync              ? "Команда синхронизации часов"
              : type == TypeCounterInterrogation ? "Команда опроса счетчиков"
                                                 : "Опрос КП");
    }
    return ok;
}

} // namespace gw
