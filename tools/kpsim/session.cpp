#include "session.h"

#include <cmath>
#include <map>
#include <utility>

namespace kpsim {
namespace {

std::uint16_t SeqDistance(std::uint16_t from, std::uint16_t to)
{
    return static_cast<std::uint16_t>((to + kSequenceModulo - from) % kSequenceModulo);
}

std::uint16_t SeqNext(std::uint16_t seq) { return static_cast<std::uint16_t>((seq + 1) % kSequenceModulo); }

// Backlog beyond which spontaneous changes are dropped rather than queued.
constexpr std::size_t kMaxQueuedAsdus = 256;
// Upper bound of changes generated in one pass, so a long stall cannot flood.
constexpr std::uint64_t kMaxChangesPerPass = 4096;

// Packs objects of several types into ASDUs, one open ASDU per type, each
// with at most maxObjects objects (0: as many as fit).
class Packer {
public:
    Packer(const Widths& widths, std::uint32_t ca, std::uint8_t cause, std::deque<Bytes>& out, int maxObjects = 0)
        : widths_(widths), ca_(ca), cause_(cause), out_(out), maxObjects_(static_cast<std::size_t>(maxObjects))
    {
    }
    ~Packer()
    {
        for (auto& [type, builder] : open_)
            out_.push_back(builder.Finish());
    }

    void Add(TypeId type, std::uint32_t ioa, const Bytes& element)
    {
        auto it = open_.find(type);
        if (it != open_.end() && (!it->second.HasRoom(element.size()) || Full(it->second))) {
            out_.push_back(it->second.Finish());
            open_.erase(it);
            it = open_.end();
        }
        if (it == open_.end())
            it = open_.emplace(type, AsduBuilder(widths_, type, cause_, ca_)).first;
        it->second.AddObject(ioa, element);
    }

private:
    bool Full(const AsduBuilder& builder) const { return maxObjects_ > 0 && builder.Count() >= maxObjects_; }

    Widths widths_;
    std::uint32_t ca_;
    std::uint8_t cause_;
    std::deque<Bytes>& out_;
    std::size_t maxObjects_;
    std::map<TypeId, AsduBuilder> open_;
};

// With `timed` the object carries `time`, or the time of now when none is given.
void AddPoint(Packer& packer, const Point& p, bool timed, const std::optional<LocalTime>& time = std::nullopt)
{
    const KindInfo& kind = InfoOf(p.kind);
    Bytes element = EncodeElement(p);
    timed = timed || kind.timeOnly;
    if (timed) {
        const Bytes cp56 = EncodeCp56(time ? *time : NowLocal());
        element.insert(element.end(), cp56.begin(), cp56.end());
    }
    packer.Add(timed ? kind.timed : kind.untimed, p.ioa, element);
}

} // namespace

struct Session::Request {
    ParsedAsdu asdu;
    const TypeInfo* type;
};

const Session::Route Session::kRoutes[] = {
    {C_IC_NA_1, &Session::OnInterrogation, true}, {C_CI_NA_1, &Session::OnCounterInterrogation, true},
    {C_CS_NA_1, &Session::OnClockSync, true},     {C_SC_NA_1, &Session::OnCommand, false},
    {C_DC_NA_1, &Session::OnCommand, false},      {C_SC_TA_1, &Session::OnCommand, false},
    {C_DC_TA_1, &Session::OnCommand, false},
};

Session::Session(int number, const StationConfig& config, StationState& state, EventLog& log)
    : number_(number), config_(config), state_(state), log_(log), started_(config.startedAtConnect)
{
}

bool Session::Fail(const std::string& reason)
{
    closeReason_ = reason;
    return false;
}

bool Session::Receive(const std::uint8_t* data, std::size_t size, SteadyTime now)
{
    reader_.Append(data, size);
    Frame frame;
    for (;;) {
        const FrameReader::Result result = reader_.Next(frame);
        if (result == FrameReader::Result::NeedMore)
            break;
        if (result == FrameReader::Result::Broken)
            return Fail("bad-frame");
        if (!OnFrame(frame, now))
            return false;
    }
    Flush(now);
    if (unackedReceived_ >= config_.w) {
        Emit(BuildSFrame(recvSeq_));
        unackedReceived_ = 0;
    }
    return true;
}

bool Session::OnFrame(const Frame& frame, SteadyTime now)
{
    switch (frame.format) {
    case FrameFormat::U: OnUFrame(frame.uFunction); return true;
    case FrameFormat::S: return AcceptAck(frame.recvSeq) || Fail("bad-ack");
    case FrameFormat::I:
        if (!AcceptAck(frame.recvSeq))
            return Fail("bad-ack");
        if (frame.sendSeq != recvSeq_)
            return Fail("bad-sequence");
        recvSeq_ = SeqNext(recvSeq_);
        if (unackedReceived_++ == 0)
            firstUnackedReceived_ = now;
        OnAsdu(frame.asdu);
        return true;
    }
    return true;
}

void Session::OnUFrame(std::uint8_t function)
{
    switch (static_cast<UFunction>(function)) {
    case UFunction::StartDtAct:
        started_ = true;
        Emit(BuildUFrame(UFunction::StartDtCon));
        log_.Line("startdt " + Tag());
        break;
    case UFunction::StopDtAct:
        if (unackedReceived_ > 0) {
            Emit(BuildSFrame(recvSeq_));
            unackedReceived_ = 0;
        }
        started_ = false;
        Emit(BuildUFrame(UFunction::StopDtCon));
        log_.Line("stopdt " + Tag());
        break;
    case UFunction::TestFrAct:
        Emit(BuildUFrame(UFunction::TestFrCon));
        log_.Line("testfr " + Tag());
        break;
    case UFunction::StopDtCon: log_.Line("stopdt-con " + Tag()); break;
    default: break; // confirmations of frames this side never sends
    }
}

bool Session::AcceptAck(std::uint16_t recvSeq)
{
    const std::uint16_t acked = SeqDistance(ackedByPeer_, recvSeq);
    if (acked > sentTimes_.size())
        return false;
    for (std::uint16_t i = 0; i < acked; ++i)
        sentTimes_.pop_front();
    ackedByPeer_ = recvSeq;
    return true;
}

void Session::OnAsdu(const Bytes& bytes)
{
    const std::optional<ParsedAsdu> asdu = ParseAsdu(bytes, config_.widths);
    if (!asdu) {
        log_.Line("error " + Tag() + " short ASDU");
        return;
    }
    Request r{*asdu, FindType(asdu->type)};
    const Route* route = nullptr;
    for (const Route& candidate : kRoutes)
        if (candidate.type == asdu->type)
            route = &candidate;

    const auto refuse = [&](std::uint8_t cause, const char* what) {
        log_.Line("refused " + Tag() + " type=" + std::to_string(asdu->type) + " reply=" + what);
        Reply(r, cause, true);
    };
    if (route == nullptr || asdu->element.size() < r.type->elementSize)
        return refuse(kCauseUnknownType, "unknown-type");
    if (asdu->cause != kCauseActivation)
        return refuse(kCauseUnknownCause, "unknown-cause");
    const bool broadcast = route->broadcastAllowed && asdu->ca == config_.widths.BroadcastCa();
    if (asdu->ca != config_.ca && !broadcast)
        return refuse(kCauseUnknownCommonAddress, "unknown-ca");
    (this->*route->handler)(r);
}

void Session::Reply(const Request& r, std::uint8_t cause, bool negative)
{
    // Refusals of an unknown common address keep the address asked for.
    const bool ownAddress = cause != kCauseUnknownCommonAddress;
    AsduBuilder b(config_.widths, static_cast<TypeId>(r.asdu.type),
                  static_cast<std::uint8_t>(cause | (negative ? kNegativeBit : 0)), ownAddress ? config_.ca : r.asdu.ca,
                  r.asdu.originator);
    b.AddObject(r.asdu.ioa, r.asdu.element);
    queued_.push_back(b.Finish());
}

void Session::QueueAll(PointKind kind, std::uint8_t cause, bool timed)
{
    Packer packer(config_.widths, config_.ca, cause, queued_);
    for (const Point& p : state_.signals.Points())
        if (p.kind == kind)
            AddPoint(packer, p, timed);
}

void Session::OnInterrogation(const Request& r)
{
    const std::uint8_t qoi = r.asdu.element[0];
    log_.Line("interrogation " + Tag() + " ca=" + std::to_string(r.asdu.ca) + " qoi=" + std::to_string(qoi));
    if (qoi < 20 || qoi > 36)
        return Reply(r, kCauseActCon, true);
    Reply(r, kCauseActCon, false);
    if (qoi == kCauseInterrogated)
        for (const KindInfo& kind : Kinds())
            if (kind.kind != PointKind::Counter)
                QueueAll(kind.kind, kCauseInterrogated, false);
    Reply(r, kCauseActTerm, false);
}

void Session::OnCounterInterrogation(const Request& r)
{
    const std::uint8_t qcc = r.asdu.element[0];
    const int request = qcc & 0x3F;
    log_.Line("counter-interrogation " + Tag() + " ca=" + std::to_string(r.asdu.ca) + " qcc=" + std::to_string(qcc));
    if (request < 1 || request > 5)
        return Reply(r, kCauseActCon, true);
    Reply(r, kCauseActCon, false);
    if (request == 5) { // general request; the simulator has no counter groups
        state_.signals.AdvanceCounters();
        QueueAll(PointKind::Counter, kCauseCounterGeneral, false);
    }
    Reply(r, kCauseActTerm, false);
}

void Session::OnClockSync(const Request& r)
{
    const std::optional<LocalTime> t = DecodeCp56(r.asdu.element.data());
    log_.Line("clock-sync " + Tag() + " ca=" + std::to_string(r.asdu.ca) + " time="
              + (t ? FormatTime(*t) : std::string("invalid")) + (config_.ignoreClockSync ? " reply=none" : ""));
    if (!config_.ignoreClockSync)
        Reply(r, kCauseActCon, !t);
}

void Session::OnCommand(const Request& r)
{
    const bool single = r.asdu.type == C_SC_NA_1 || r.asdu.type == C_SC_TA_1;
    const std::uint8_t octet = r.asdu.element[0];
    const int state = single ? (octet & 0x01) : (octet & 0x03);
    const bool select = (octet & 0x80) != 0;
    const int qu = (octet >> 2) & 0x1F;

    Point* point = r.asdu.ioa >= config_.cmdOffset ? state_.signals.Find(r.asdu.ioa - config_.cmdOffset) : nullptr;
    const PointKind wanted = single ? PointKind::Single : PointKind::Double;
    const char* reply = "con";
    if (point == nullptr || point->kind != wanted)
        reply = "unknown-ioa";
    else if (state_.refuse || (!single && (state == 0 || state == 3)))
        reply = "negative";
    if (state_.hold)
        reply = "none";

    log_.Line("command " + Tag() + " type=" + r.type->name + " ca=" + std::to_string(r.asdu.ca)
              + " ioa=" + std::to_string(r.asdu.ioa) + " value=" + std::to_string(state)
              + " select=" + (select ? "1" : "0") + " qu=" + std::to_string(qu) + " reply=" + reply);
    if (state_.hold)
        return;

    if (point == nullptr || point->kind != wanted)
        return Reply(r, kCauseUnknownObjectAddress, true);
    if (std::string(reply) == "negative")
        return Reply(r, kCauseActCon, true);
    Reply(r, kCauseActCon, false);
    if (select)
        return;
    point->value = state;
    SendSpontaneous(*point);
    Reply(r, kCauseActTerm, false);
}

void Session::SendSpontaneous(const Point& point, const std::optional<LocalTime>& time)
{
    Packer packer(config_.widths, config_.ca, kCauseSpontaneous, queued_);
    AddPoint(packer, point, config_.timeTags || time, time);
}

void Session::Spontaneous(SteadyTime now)
{
    if (state_.rate != spontaneousRate_) {
        spontaneousRate_ = state_.rate;
        spontaneousSince_ = now;
        spontaneousDone_ = 0;
    }
    if (!started_ || spontaneousRate_ <= 0)
        return;
    const double seconds = std::chrono::duration<double>(now - spontaneousSince_).count();
    const auto due = static_cast<std::uint64_t>(std::floor(seconds * spontaneousRate_));
    if (due <= spontaneousDone_)
        return;
    std::uint64_t changes = due - spontaneousDone_;
    spontaneousDone_ = due;
    if (queued_.size() >= kMaxQueuedAsdus) {
        state_.stats.dropped += changes; // the peer does not keep up: skip rather than pile up
        return;
    }
    if (changes > kMaxChangesPerPass) {
        state_.stats.dropped += changes - kMaxChangesPerPass;
        changes = kMaxChangesPerPass;
    }
    const std::size_t queuedBefore = queued_.size();
    {
        Packer packer(config_.widths, config_.ca, kCauseSpontaneous, queued_, config_.maxObjects);
        for (std::uint64_t i = 0; i < changes; ++i) {
            const Point* p = state_.signals.StepNext();
            if (p == nullptr)
                break;
            AddPoint(packer, *p, config_.timeTags);
            state_.stats.values += 1;
        }
    }
    state_.stats.asdus += queued_.size() - queuedBefore;
}

bool Session::Tick(SteadyTime now)
{
    using std::chrono::milliseconds;
    if (!sentTimes_.empty() && now - sentTimes_.front() >= milliseconds(config_.t1Ms))
        return Fail("t1");
    Spontaneous(now);
    Flush(now);
    if (unackedReceived_ > 0 && now - firstUnackedReceived_ >= milliseconds(config_.t2Ms)) {
        Emit(BuildSFrame(recvSeq_));
        unackedReceived_ = 0;
    }
    return true;
}

void Session::Flush(SteadyTime now)
{
    while (started_ && !queued_.empty() && sentTimes_.size() < static_cast<std::size_t>(config_.k)) {
        std::uint16_t ack = recvSeq_;
        if (std::exchange(ackBeyondReceived_, false)) {
            ack = static_cast<std::uint16_t>((recvSeq_ + kSequenceModulo / 2) % kSequenceModulo);
            log_.Line("bad-nr " + Tag() + " ns=" + std::to_string(sendSeq_) + " nr=" + std::to_string(ack));
        }
        Emit(BuildIFrame(sendSeq_, ack, queued_.front()));
        history_.push_back({sendSeq_, std::move(queued_.front())});
        if (history_.size() > static_cast<std::size_t>(kRepeatableFrames))
            history_.pop_front();
        queued_.pop_front();
        sendSeq_ = SeqNext(sendSeq_);
        sentTimes_.push_back(now);
        unackedReceived_ = 0;
    }
}

bool Session::RepeatSent(int back)
{
    if (back < 1 || static_cast<std::size_t>(back) > history_.size())
        return false;
    const SentFrame& old = history_[history_.size() - static_cast<std::size_t>(back)];
    Emit(BuildIFrame(old.sendSeq, recvSeq_, old.asdu));
    log_.Line("repeated " + Tag() + " ns=" + std::to_string(old.sendSeq));
    return true;
}

void Session::StopDataTransfer()
{
    started_ = false;
    Emit(BuildUFrame(UFunction::StopDtAct));
}

void Session::EndOfInitialisation(std::uint8_t coi)
{
    AsduBuilder b(config_.widths, M_EI_NA_1, kCauseInitialised, config_.ca);
    b.AddObject(0, Bytes{coi});
    queued_.push_back(b.Finish());
}

Bytes Session::TakeOutput()
{
    Bytes out;
    out.swap(out_);
    return out;
}

} // namespace kpsim
