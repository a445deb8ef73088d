#include "station.h"

#include <Poco/Net/NetException.h>
#include <Poco/Net/SocketAddress.h>

namespace kpsim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long one pass waits for bytes; bounds the delay of control requests,
// spontaneous changes and the stop.
const Poco::Timespan kPassWait(0, 20 * 1000);
const Poco::Timespan kConnectTimeout(2, 0);
const Poco::Timespan kSendTimeout(5, 0);

// Not a frame: no start octet 0x68 in front, then a start octet with a length below 4.
const Bytes kGarbage{0x00, 0xFF, 0x13, 0x37, 0x68, 0x02, 0x01, 0x00};

// The time tag a "set" asks for: the one given, or now when only its IV
// bit is asked for; nothing sends the point as its station is configured.
std::optional<LocalTime> TimeTagOf(const ControlRequest& r)
{
    std::optional<LocalTime> time = r.time;
    if (r.timeInvalid) {
        if (!time)
            time = NowLocal();
        time->invalid = true;
    }
    return time;
}

} // namespace

Station::Station(int number, const StationConfig& config, EventLog& log) : number_(number), config_(config), log_(log)
{
    state_.signals.Build(config_.ranges, config_.widths.ioa);
    state_.rate = config_.rate;
    state_.silent = config_.silent;
}

Station::~Station() { Stop(); }

void Station::Start()
{
    if (config_.mode == StationConfig::Mode::Listen) {
        const Poco::Net::SocketAddress address(config_.host, static_cast<Poco::UInt16>(config_.port));
        server_ = std::make_unique<Poco::Net::ServerSocket>(address, 4);
        log_.Line("listening " + Tag() + " address=" + config_.host
                  + " port=" + std::to_string(server_->address().port()));
    }
    thread_ = std::thread([this] { Run(); });
}

void Station::Stop()
{
    stop_ = true;
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void Station::Post(const ControlRequest& request)
{
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    wake_.notify_all();
}

void Station::LogStats()
{
    const SpontaneousStats& s = state_.stats;
    log_.Line("stats " + Tag() + " values=" + std::to_string(s.values) + " asdus=" + std::to_string(s.asdus)
              + " dropped=" + std::to_string(s.dropped));
}

void Station::WaitForRequests(milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, timeout, [this] { return stop_ || !requests_.empty(); });
}

void Station::Run()
{
    auto nextAttempt = Clock::now();
    while (!stop_) {
        ApplyRequests(nullptr, nullptr);
        try {
            if (server_) {
                if (server_->poll(kPassWait, Poco::Net::Socket::SELECT_READ)) {
                    Poco::Net::StreamSocket connection = server_->acceptConnection();
                    Serve(connection);
                }
            } else if (Clock::now() >= nextAttempt) {
                nextAttempt = Clock::now() + milliseconds(config_.reconnectMs);
                Poco::Net::StreamSocket connection;
                connection.connect(Poco::Net::SocketAddress(config_.host, static_cast<Poco::UInt16>(config_.port)),
                                   kConnectTimeout);
                Serve(connection);
                nextAttempt = Clock::now() + milliseconds(config_.reconnectMs);
            } else {
                WaitForRequests(std::chrono::duration_cast<milliseconds>(nextAttempt - Clock::now()));
            }
        } catch (const Poco::Exception&) {
            // A refused or timed-out connect: the next attempt follows the pause.
        }
    }
}

void Station::RefuseSecondConnection()
{
    if (!server_ || !server_->poll(Poco::Timespan(0), Poco::Net::Socket::SELECT_READ))
        return;
    Poco::Net::StreamSocket extra = server_->acceptConnection();
    log_.Line("refused-connection " + Tag() + " peer=" + extra.peerAddress().toString());
    extra.close();
}

void Station::Serve(Poco::Net::StreamSocket& connection)
{
    connection.setNoDelay(true);
    connection.setSendTimeout(kSendTimeout);
    log_.Line("connected " + Tag() + " peer=" + connection.peerAddress().toString());
    Session session(number_, config_, state_, log_);
    std::string reason = "stop";
    std::uint8_t buffer[4096];
    try {
        while (!stop_) {
            if (!ApplyRequests(&connection, &session))
                return;
            RefuseSecondConnection();
            if (connection.poll(kPassWait, Poco::Net::Socket::SELECT_READ)) {
                const int n = connection.receiveBytes(buffer, sizeof buffer);
                if (n <= 0) {
                    reason = "peer-closed";
                    break;
                }
                if (!state_.silent && !session.Receive(buffer, static_cast<std::size_t>(n), Clock::now())) {
                    reason = session.CloseReason();
                    break;
                }
            }
            if (state_.silent)
                continue;
            if (!session.Tick(Clock::now())) {
                reason = session.CloseReason();
                break;
            }
            if (!Write(connection, session.TakeOutput())) {
                reason = "write-failed";
                break;
            }
        }
    } catch (const Poco::Net::ConnectionResetException&) {
        reason = "peer-reset";
    } catch (const Poco::Exception&) {
        reason = "error";
    }
    connection.close();
    log_.Line("disconnected " + Tag() + " reason=" + reason);
}

bool Station::Write(Poco::Net::StreamSocket& connection, const Bytes& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int n = connection.sendBytes(bytes.data() + sent, static_cast<int>(bytes.size() - sent));
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool Station::ApplyRequests(Poco::Net::StreamSocket* connection, Session* session)
{
    std::deque<ControlRequest> pending;
    {
        std::lock_guard lock(mutex_);
        pending.swap(requests_);
    }
    bool alive = true;
    for (const ControlRequest& r : pending)
        if (alive)
            alive = Apply(r, connection, session);
        else
            log_.Line("error " + Tag() + " " + ActionName(r.action) + ": not connected");
    return alive;
}

void Station::Done(const ControlRequest& request)
{
    log_.Line("done " + Tag() + " action=" + ActionName(request.action));
}

bool Station::Apply(const ControlRequest& r, Poco::Net::StreamSocket* connection, Session* session)
{
    switch (r.action) {
    case Action::Silent:
    case Action::Talk:
        state_.silent = r.action == Action::Silent;
        Done(r);
        return true;
    case Action::Rate:
        state_.rate = r.rate;
        Done(r);
        return true;
    case Action::Refuse:
        state_.refuse = r.on;
        Done(r);
        return true;
    case Action::Hold:
        state_.hold = r.on;
        Done(r);
        return true;
    case Action::Stats: LogStats(); return true;
    case Action::Set: {
        Point* point = state_.signals.Find(r.ioa);
        double value = 0;
        if (point == nullptr || !ParseValue(point->kind, r.value, value)) {
            log_.Line("error " + Tag() + " set: no such point or bad value");
            return true;
        }
        std::uint8_t quality = 0;
        for (const std::string& flag : r.flags) {
            const std::uint8_t bit = QualityBit(point->kind, flag);
            if (bit == 0) {
                log_.Line("error " + Tag() + " set: no quality flag " + flag + " for this point");
                return true;
            }
            quality = static_cast<std::uint8_t>(quality | bit);
        }
        if (r.sequence && point->kind != PointKind::Counter) {
            log_.Line("error " + Tag() + " set: a sequence number is for integrated totals");
            return true;
        }
        point->value = value;
        point->quality = quality;
        if (r.sequence)
            point->sequence = static_cast<std::uint8_t>(*r.sequence);
        if (session != nullptr && !state_.silent)
            session->SendSpontaneous(*point, TimeTagOf(r));
        Done(r);
        return true;
    }
    default: break;
    }

    if (connection == nullptr) {
        log_.Line("error " + Tag() + " " + ActionName(r.action) + ": not connected");
        return true;
    }
    switch (r.action) {
    case Action::Garbage:
        Done(r);
        if (Write(*connection, kGarbage))
            return true;
        connection->close();
        log_.Line("disconnected " + Tag() + " reason=write-failed");
        return false;
    case Action::Repeat:
    case Action::BadAck:
    case Action::StopDt:
    case Action::EndOfInit: ApplyLinkFault(r, *session); return true;
    case Action::Reset: connection->setLinger(true, 0); [[fallthrough]];
    case Action::Close:
        connection->close();
        Done(r);
        log_.Line("disconnected " + Tag() + " reason=" + ActionName(r.action));
        return false;
    default: return true;
    }
}

void Station::ApplyLinkFault(const ControlRequest& r, Session& session)
{
    switch (r.action) {
    case Action::Repeat:
        if (!session.RepeatSent(r.back)) {
            log_.Line("error " + Tag() + " repeat: no such frame kept");
            return;
        }
        break;
    case Action::BadAck: session.AckBeyondReceivedOnce(); break;
    case Action::StopDt: session.StopDataTransfer(); break;
    case Action::EndOfInit: session.EndOfInitialisation(0); break;
    default: return;
    }
    Done(r);
}

} // namespace kpsim
