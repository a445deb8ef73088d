#include "core/commandqueue.h"

namespace gw {

namespace {

constexpr int kCauseActCon = 7;
constexpr int kCauseActTerm = 10;
constexpr int kNegative = 0x40; // P/N bit of the cause byte
constexpr int kCauseMask = 0x3F;

} // namespace

TTuQueue::TTuQueue(TElemTU& sequencer, TClock& clock, TTuQueueLog* log) : tu_(sequencer), log_(log), started_(clock) {}

bool TTuQueue::Push(TTuOrder order)
{
    if (waiting_.size() + (running_ ? 1 : 0) >= MaxQueuedTu)
        return false;
    waiting_.push_back(std::move(order));
    return true;
}

bool TTuQueue::Service(bool dataTransfer, const TAsduLayout& layout)
{
    if (running_) {
        if (const std::optional<TTuOutcome> outcome = RunningCompleted(dataTransfer)) {
            const char* why = !dataTransfer                     ? "нет связи с"
                              : *outcome == TTuOutcome::Dropped ? "команда не отправлена,"
                                                                : "время ожидания ответа истекло,";
            End(*running_, *outcome, why);
            running_.reset();
        }
    }
    // A command whose execute has not left would otherwise go out on the
    // next connection, a select or execute nobody asked for any more.
    if (running_ && (!dataTransfer || notSent_)) {
        tu_.Cancel();
        End(*running_, TTuOutcome::Dropped, "нет связи с");
        running_.reset();
    }
    if (!dataTransfer) {
        while (!waiting_.empty()) {
            End(waiting_.front(), TTuOutcome::Dropped, "нет связи с");
            waiting_.pop_front();
        }
        return false;
    }
    // The sequencer is free once idle, or once the execute of its command
    // went out: that command needs it no more.
    const bool free = tu_.Idle() || tu_.step1 == TStepTU::stuSendExecute;
    bool started = false;
    while (!running_ && free && !waiting_.empty())
        started = StartNext(layout);
    return started;
}

bool TTuQueue::SelectSent() const
{
    // A direct command counts its select as done without one.
    const bool withSelect = running_->type_tu == 0 || running_->type_tu == 2;
    return withSelect && tu_.fl.Op(TFlagOperation::FYes, TBitTuExecute::btue_TU_SendSelect);
}

bool TTuQueue::ExecuteSent() const { return tu_.fl.Op(TFlagOperation::FYes, TBitTuExecute::btue_TU_SendExecute); }

std::optional<TTuOutcome> TTuQueue::RunningCompleted(bool dataTransfer)
{
    // Its frame never left: it is dropped, not completed.
    if (notSent_)
        return std::nullopt;
    // Ended before its execute left: refused by the station, timed out
    // waiting for the select's confirmation, or never sent (no window, no
    // frame that could be built).
    if (!ExecuteSent()) {
        if (!tu_.Idle())
            return std::nullopt;
        if (refused_)
            return TTuOutcome::Refused;
        return SelectSent() ? TTuOutcome::NoAnswer : TTuOutcome::Dropped;
    }
    // The execute is out: the station's answer completes it; without one the
    // time-out does, or at once a stopped transfer, which no answer crosses.
    if (answered_)
        return refused_ ? TTuOutcome::Refused : TTuOutcome::Executed;
    if (!dataTransfer || started_.CheckExpire(tu_.AckTimeout, false))
        return TTuOutcome::NoAnswer;
    return std::nullopt;
}

bool TTuQueue::StartNext(const TAsduLayout& layout)
{
    TTuOrder order = std::move(waiting_.front());
    waiting_.pop_front();
    if (!tu_.Init(order.command, order.CtrlASDUAddr, order.CtrlObjAddr, layout, true, order.type_tu)) {
        End(order, TTuOutcome::Dropped, "команда не инициализирована,");
        return false;
    }
    answered_ = false;
    refused_ = false;
    notSent_ = false;
    started_.Start();
    running_ = std::move(order);
    return true;
}

void TTuQueue::OnAsdu(const TIEC_ASDUt& rx)
{
    if (!running_ || rx.ptid == nullptr || rx.nelem < 1)
        return;
    if (rx.ptid->Name != TuTypeIdent(running_->type_tu) || rx.ASDUAddress != running_->CtrlASDUAddr
        || rx.ObjAddress != running_->CtrlObjAddr)
        return;
    const bool negative = (rx.COT & kNegative) != 0;
    if (!ExecuteSent()) {
        // Before its execute only a refusal of its select tells anything.
        if (negative && AnswersTuElement(rx, running_->type_tu, TuElement(running_->type_tu, running_->command, true)))
            refused_ = true;
        return;
    }
    if (!AnswersTuElement(rx, running_->type_tu, TuElement(running_->type_tu, running_->command, false)))
        return;
    const int cause = rx.COT & kCauseMask;
    if (negative || cause == kCauseActCon || cause == kCauseActTerm)
        answered_ = true;
    if (negative)
        refused_ = true;
}

void TTuQueue::StepNotSent()
{
    if (running_)
        notSent_ = true;
}

void TTuQueue::DropAll(const std::string& why)
{
    if (running_)
        End(*running_, RunningCompleted(false).value_or(TTuOutcome::Dropped), why);
    running_.reset();
    for (const TTuOrder& order : waiting_)
        End(order, TTuOutcome::Dropped, why);
    waiting_.clear();
}

void TTuQueue::End(const TTuOrder& order, TTuOutcome outcome, const std::string& why)
{
    if (log_ != nullptr)
        log_->TuEnded(order, outcome, outcome == TTuOutcome::NoAnswer || outcome == TTuOutcome::Dropped ? why : "");
}

} // namespace gw
