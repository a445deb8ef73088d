#include "core/client104.h"

#include "core/asdu.h"
#include "core/logcategories.h"
#include "core/tags.h"

#include <algorithm>
#include <utility>

namespace gw {

namespace {

constexpr int EndOfInitCode = 70, ClockSyncCode = 103;

} // namespace

T104Client::T104Client(const TLinkSocket& apsock, const TPrmn& aprm, const TClientContext& actx)
    : TSubj104(aprm, actx.link), ElemTU(*actx.link.clock, *actx.types, actx.link.log),
      TuQueue(ElemTU, *actx.link.clock, actx.tuLog), psock(apsock), ctx(actx), tWaitConnect(*actx.link.clock),
      tClockSyncAnswer(*actx.link.clock)
{
    if (prm.prWork1 == 1)
        setWork(true);
    FIpPort = " \"\"" + prm.Host.Text() + "=" + std::to_string(prm.Port) + "\"\" ";
}

bool T104Client::GetConnected() const { return psock.port != nullptr && psock.port->IsConnected(); }

bool T104Client::SendToSocket(const T104APDU& papdu, bool Save_Obmen, int nomer_socket)
{
    if (!Connected() || !psock.port->OfferFrame(papdu.Bytes()))
        return false;
    FollowTuFrame(papdu);
    if (Traces(Save_Obmen))
        Trace(Save_Obmen, nomer_socket, "То KP " + LongTimeText(Clock().Now()) + "  " + papdu.toString(" "));
    return true;
}

void T104Client::StopConnect()
{
    Log(LogLink, "(iec5) !!! Вызвана процедура StopConnect()! ClSFlag=" + ClSFlag.ToString());
    DoOnDisconnect();
    if (psock.port)
        psock.port->RequestDisconnect();
    Clear(TBit104Subj::bsb_ERRSEQAPDU);
}

void T104Client::DoOnConnect()
{
    TSubj104::DoOnConnect();
    tagConnOf_ = 0;
    tClockSyncAnswer.Stop();
    // The commands of the lost connection end with it, also when no pass saw
    // it gone: a station back at once, its transfer started by itself, would
    // otherwise get their select or execute on its new connection.
    TuQueue.Service(false, Layout());
    Log(LogLink,
        "(iec5) T104Client.DoOnConnect() Соед.установлено! Флаг Connecting." + flag.ToString() + ClSFlag.ToString());
    ClSFlag.Op(TFlagOperation::FSet, TBitClient::bclb_ConnectingOk);
}

void T104Client::setWork(bool onoff)
{
    ClSFlag.Op(onoff ? TFlagOperation::FSet : TFlagOperation::FClear, TBitClient::bclb_Work);
    prm.prWork1 = onoff ? 1 : 0;
    if (!onoff && Connected())
        ClSFlag.Op(TFlagOperation::FSet, TBitClient::bclb_DisConnect);
}

void T104Client::Connecting(bool Save_Obmen, int nomer_socket)
{
    auto cl = [this](TBitClient b) { return ClSFlag.Op(TFlagOperation::FYes, b); };
    auto clClear = [this](TBitClient b) { ClSFlag.Op(TFlagOperation::FClear, b); };
    const bool active = psock.port != nullptr && psock.port->HasThread();

    if (Yes(TBit104Subj::bsb_CallDoDisconnect))
        DoOnDisconnect();

    if (cl(TBitClient::bclb_Work) && cl(TBitClient::bclb_AutoConnect) && active && !Connected()
        && tWaitConnect.CheckExpire(ConnectPauseMs, true)) {
        nClConnAtt = nClConnAtt >= MaxConnectAttempts ? 0 : nClConnAtt + 1;
        ClSFlag.Op(TFlagOperation::FSet, TBitClient::bclb_Connect);
        FWaitConnect = true;
    }
    if (cl(TBitClient::bclb_Connect)) {
        clClear(TBitClient::bclb_Connect);
        clClear(TBitClient::bclb_ConnectingOk);
        Log(LogLink, "(iec5) sock.Open  Запуск соединения! prm.Host=" + prm.Host.Text()
                         + " prm.Port=" + std::to_string(prm.Port) + flag.ToString() + ClSFlag.ToString());
        if (active && !Connected())
            psock.port->RequestConnect(prm.Host.Text(), prm.Port);
    }

    if (std::exchange(PROC_CLOCK_SYNC_103_, false))
        Set(TBit104Subj::bsb_PROC_CLOCK_SYNC_103);
    if (std::exchange(OPROS_KP_, false))
        Set(TBit104Subj::bsb_PROC_OPROS);
    if (std::exchange(opros_counters_101_, false))
        Set(TBit104Subj::bsb_PROC_OPROS_101);

    if (cl(TBitClient::bclb_ConnectingOk)) {
        clClear(TBitClient::bclb_ConnectingOk);
        if (!psock.Passive_ || psock.send_start_DT_passiv_)
            Set(TBit104Subj::bsb_STARTDT_Want); // sent by the service pass once the mailbox takes it
        Log(LogLink, "(iec5) Cоединение Ок! Host=" + prm.Host.Text() + "Port=" + std::to_string(prm.Port)
                         + " Посылаем STARTDT_ACT" + flag.ToString() + ClSFlag.ToString());
    }

    if (Yes(TBit104Subj::bsb_PROC_CLOCK_SYNC_103)) {
        if (is_CLOCK_SYNC_103_)
            Opros_CLOCK_SYNC_103();
        else
            Set(TBit104Subj::bsb_PROC_OPROS);
        Clear(TBit104Subj::bsb_PROC_CLOCK_SYNC_103);
    }
    CheckClockSyncAnswer(Save_Obmen, nomer_socket);
    if (Yes(TBit104Subj::bsb_PROC_OPROS))
        Opros();
    if (Yes(TBit104Subj::bsb_PROC_OPROS_101))
        Opros_Counters_101();
    if (Yes(TBit104Subj::bsb_DoTESTFR))
        OnTestFr();

    if (cl(TBitClient::bclb_DisConnect)) {
        clClear(TBitClient::bclb_DisConnect);
        if (Connected())
            psock.port->RequestDisconnect();
    }
}

void T104Client::QueueStationRequest(const TIEC_ASDUt& asdu, const std::string& what)
{
    T104APDU frame;
    if (s_APDUBuf.Full())
        return;
    if (!frame.FromAsdu(asdu)) {
        Log(LogError, "Error: кадр не сформирован! " + what + std::to_string(prm.CommonAsduAddress));
        return;
    }
    if (!QueueIFrame(frame))
        return;
    Log(LogLink, what + std::to_string(prm.CommonAsduAddress));
}

void T104Client::TuService1()
{
    // The sequencer first, so a command it ends this pass (a time-out) makes
    // room for the next one at once, whose first frame then leaves now.
    ElemTU.TuService1(*this);
    WithdrawEndedTuFrame();
    const bool dataTransfer = Connected() && StartDT();
    // A transfer stops only with its connection: the command's frame not yet
    // out stays so, and the queue must know it before it ends the command.
    if (!dataTransfer)
        SettleTuFrame();
    const bool started = TuQueue.Service(dataTransfer, Layout());
    // Before the next command queues its frame, the ended one's frame goes.
    WithdrawEndedTuFrame();
    if (started)
        ElemTU.TuService1(*this);
}

bool T104Client::QueueTuAsdu(const TIEC_ASDUt& asdu)
{
    // Queued only while it can leave now: a command kept in the window until
    // the station starts (again) its data transfer would go out any time later.
    WithdrawEndedTuFrame();
    T104APDU frame;
    if (!Connected() || !StartDT() || s_APDUBuf.Full() || !frame.FromAsdu(asdu) || !QueueIFrame(frame))
        return false;
    tuFrame_ = frame;
    tuFrameAt_ = TTuFrameAt::Window;
    tuCommandNo_ = ElemTU.CommandNo();
    tuSelect_ = ElemTU.step1 == TStepTU::stuFormSelect;
    tuFromQueue_ = TuQueue.Running();
    Log(LogCommand, "(iec3) TU: Send" + flag.ToString() + ClSFlag.ToString());
    return true;
}

void T104Client::FollowTuFrame(const T104APDU& offered)
{
    // The mailbox holds one frame: taking another, it gave the last one to
    // be written.
    if (tuFrameAt_ == TTuFrameAt::Mailbox)
        tuFrameAt_ = TTuFrameAt::None;
    else if (tuFrameAt_ == TTuFrameAt::Window && offered.Format() == TApduFormat::I
             && std::ranges::equal(offered.Asdu(), tuFrame_.Asdu()))
        tuFrameAt_ = TTuFrameAt::Mailbox;
}

bool T104Client::TuFrameStepRuns() const
{
    if (ElemTU.CommandNo() != tuCommandNo_)
        return false;
    if (tuSelect_)
        return ElemTU.step1 == TStepTU::stuSendSelect;
    // The sequencer is done with an execute one pass after queueing it; its
    // command runs on until answered or timed out.
    return !ElemTU.TimeOutPassed() && (!tuFromQueue_ || TuQueue.Running());
}

void T104Client::WithdrawEndedTuFrame()
{
    if (tuFrameAt_ == TTuFrameAt::None || TuFrameStepRuns())
        return;
    // As at a disconnect: while the frame is in the mailbox no other frame
    // went there, and once the channel took it from there it is written.
    // Taken back, it is the last I-frame numbered, whose number the next
    // frame then gets: the station sees no gap. One the station acknowledged
    // is no more in the window: it counts as received.
    bool withdrawn = false;
    if (tuFrameAt_ == TTuFrameAt::Mailbox) {
        const int last = s_APDUBuf.Send() - 1;
        withdrawn = last >= 0 && std::ranges::equal(s_APDUBuf.FrameAt(last).Asdu(), tuFrame_.Asdu())
                    && psock.port != nullptr && psock.port->WithdrawFrame();
        if (withdrawn)
            TakeBackLastIFrame();
    } else
        for (int i = s_APDUBuf.Send(); i < s_APDUBuf.Count() && !withdrawn; ++i)
            withdrawn = std::ranges::equal(s_APDUBuf.FrameAt(i).Asdu(), tuFrame_.Asdu()) && s_APDUBuf.RemoveUnsent(i);
    tuFrameAt_ = TTuFrameAt::None;
    if (withdrawn)
        Log(LogCommand, "(iec3)TU: Кадр завершённой команды ТУ не отправлен и снят с передачи");
}

void T104Client::SettleTuFrame()
{
    if (tuFrameAt_ == TTuFrameAt::None)
        return;
    // While the command's frame is in the mailbox no other frame went there:
    // what the mailbox still holds is that frame. Once taken from it, the
    // frame is being written and may reach the station, so it counts as sent.
    const bool notSent = tuFrameAt_ == TTuFrameAt::Window || (psock.port != nullptr && psock.port->WithdrawFrame());
    tuFrameAt_ = TTuFrameAt::None;
    if (notSent)
        TuQueue.StepNotSent();
}

void T104Client::OnDiscardingFrames() { SettleTuFrame(); }

void T104Client::Opros_CLOCK_SYNC_103()
{
    if (StartDT()) {
        const TDateTime t = Clock().Now() - Popravka_time_103 / 24.0;
        QueueStationRequest(BuildClockSync(prm.CommonAsduAddress, t, Layout(), *ctx.types),
                            "() Команда синхронизации часов: Адрес КП=");
        if (First_CLOCK_SYNC_103_)
            tClockSyncAnswer.Start();
    }
    Clear(TBit104Subj::bsb_PROC_CLOCK_SYNC_103);
}

void T104Client::CheckClockSyncAnswer(bool Save_Obmen, int nomer_socket)
{
    // Without a period of its own the interrogation would wait for ever.
    if (!First_CLOCK_SYNC_103_ || !tClockSyncAnswer.Started()
        || !tClockSyncAnswer.CheckExpire(ClockSyncAnswerWaitMs, false))
        return;
    const std::string text = "(iec5) Нет подтверждения синхронизации часов за "
                             + std::to_string(ClockSyncAnswerWaitMs / 1000)
                             + " с, опрос КП без него: Адрес КП=" + std::to_string(prm.CommonAsduAddress);
    Trace(Save_Obmen, nomer_socket, text);
    Log(LogAlways, text);
    Set(TBit104Subj::bsb_PROC_OPROS);
}

void T104Client::Opros()
{
    if (StartDT() && ctx.prOprosSend) {
        QueueStationRequest(BuildInterrogation(prm.CommonAsduAddress, Layout(), *ctx.types),
                            "(iec5) OprosKP: Адрес КП=");
        First_CLOCK_SYNC_103_ = false;
    }
    Clear(TBit104Subj::bsb_PROC_OPROS);
}

void T104Client::Opros_Counters_101()
{
    if (StartDT())
        QueueStationRequest(BuildCounterInterrogation(prm.CommonAsduAddress, Layout(), *ctx.types),
                            "(iec5) Opros счетчиков: Адрес КП=");
    Clear(TBit104Subj::bsb_PROC_OPROS_101);
}

void T104Client::OnTestFr()
{
    Clear(TBit104Subj::bsb_DoTESTFR);
    if (Yes(TBit104Subj::bsb_STARTDT_Act) && !StartDT())
        Set(TBit104Subj::bsb_STARTDT_Want);
}

void T104Client::RaspakReceiveBufferAPDU(bool Save_Obmen, int nomer_socket)
{
    while (const T104APDU* frame = r_APDUBuf.GetToSend())
        if (RaspakAPDU(*frame, Save_Obmen, nomer_socket))
            ParseAsdu(*frame, nomer_socket);
    r_APDUBuf.Reset(false);
}

void T104Client::OnStartUpAnswer(const TIEC_ASDUt& asdu)
{
    if (asdu.Code() == ClockSyncCode && First_CLOCK_SYNC_103_) {
        tClockSyncAnswer.Stop();
        Set(TBit104Subj::bsb_PROC_OPROS); // the first clock sync answered: interrogate
    } else if (asdu.Code() == EndOfInitCode) {
        // The station has restarted: its values and clock are those of before
        // the restart, so it is synchronised and interrogated as after a connect.
        Log(LogLink, "(iec5) Конец инициализации КП: Адрес КП=" + std::to_string(prm.CommonAsduAddress));
        First_CLOCK_SYNC_103_ = is_CLOCK_SYNC_103_;
        Set(TBit104Subj::bsb_PROC_CLOCK_SYNC_103);
    }
}

void T104Client::ParseAsdu(const T104APDU& frame, int nomer_socket)
{
    TIEC_ASDUt asdu(frame.Bytes(), AsduOffset, frame.lenData - AsduOffset, Layout(), *ctx.types);
    ElemTU.OnConfirmation(asdu);
    TuQueue.OnAsdu(asdu);
    OnStartUpAnswer(asdu);
    asdu.Nomer_sock = nomer_socket;
    if (Logs(LogExchange))
        Log(LogExchange, ">(iec0)" + FIpPort + asdu.ToString());
    if (ctx.tags) {
        asdu.TagConn = TagConn();
        asdu.ReceiveRaspak1({*ctx.tags, Clock(), env.log});
    }
}

int T104Client::TagConn()
{
    if (tagConnOf_ != ctx.tags->Generation()) {
        std::string host;
        int port = 0;
        if (psock.port)
            psock.port->CurrentAddress(host, port);
        tagConn_ = ctx.tags->FindConn(host, port);
        tagConnOf_ = ctx.tags->Generation();
    }
    return tagConn_;
}

} // namespace gw
