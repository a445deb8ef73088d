#include "daemon/httpgate.h"

#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/StreamSocketImpl.h>

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace gw {

namespace {

// Without a wake-up a fake clock's deadlines are seen this late at most.
constexpr int PollCapMs = 50;
constexpr std::size_t ReceiveChunk = 64 * 1024;
constexpr int MaxAcceptsPerRound = 64;
// What a client refused for want of room is told to wait before it tries again.
constexpr const char* RetryAfterSeconds = "2";

// Best effort and without waiting: the answer is a few hundred bytes, which
// a fresh socket buffer always takes.
void SendNow(const Poco::Net::StreamSocket& socket, const std::string& bytes)
{
    (void)::send(socket.impl()->sockfd(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

std::string ErrorAnswer(int status, const std::string& text, const std::string& extraHeaders = "")
{
    using Poco::Net::HTTPResponse;
    const std::string& reason = HTTPResponse::getReasonForStatus(static_cast<HTTPResponse::HTTPStatus>(status));
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n" + extraHeaders
           + "Content-Type: text/plain\r\nConnection: close\r\nContent-Length: " + std::to_string(text.size())
           + "\r\n\r\n" + text;
}

std::string NoRoomAnswer()
{
    return ErrorAnswer(503, "Too many connections", std::string("Retry-After: ") + RetryAfterSeconds + "\r\n");
}

// An idle connection whose client has sent nothing since its last answer:
// it can be closed without losing a request. One whose client has closed
// counts too.
bool NothingPending(const Poco::Net::StreamSocket& socket)
{
    char byte = 0;
    return ::recv(socket.impl()->sockfd(), &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
}

} // namespace

THttpAddressCount::THttpAddressCount(std::size_t maxPerAddress, std::size_t maxConnections)
    : maxPerAddress_(maxPerAddress), maxConnections_(maxConnections)
{
}

THttpAddressCount::TAdd THttpAddressCount::TryAdd(const std::string& host)
{
    std::lock_guard lock(mutex_);
    std::size_t& count = perAddress_[host];
    const TAdd result = count >= maxPerAddress_     ? TAdd::AddressFull
                        : total_ >= maxConnections_ ? TAdd::AllFull
                                                    : TAdd::Added;
    if (result != TAdd::Added) {
        if (count == 0)
            perAddress_.erase(host);
        return result;
    }
    ++count;
    ++total_;
    return result;
}

void THttpAddressCount::Remove(const std::string& host)
{
    std::lock_guard lock(mutex_);
    const auto it = perAddress_.find(host);
    if (it == perAddress_.end())
        return;
    --total_;
    if (--it->second == 0)
        perAddress_.erase(it);
}

THttpConnection::THttpConnection(Poco::Net::StreamSocket socket, Poco::Net::SocketAddress peer, std::size_t maxBody,
                                 std::shared_ptr<THttpAddressCount> count)
    : Socket(std::move(socket)), Peer(std::move(peer)), Host(Peer.host().toString()), Reader(maxBody),
      count_(std::move(count))
{
}

THttpConnection::~THttpConnection()
{
    try {
        Socket.close();
    } catch (const Poco::Exception&) {
        // already gone; the descriptor is released all the same
    }
    count_->Remove(Host);
}

THttpGate::THttpGate(Poco::Net::ServerSocket listener, const THttpLimits& limits, std::size_t maxBody,
                     const TClock& clock, TDispatch dispatch)
    : listener_(std::move(listener)), limits_(limits), maxBody_(maxBody), clock_(clock), dispatch_(std::move(dispatch)),
      count_(std::make_shared<THttpAddressCount>(limits.MaxPerAddress, limits.MaxConnections))
{
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        throw std::runtime_error("eventfd for the web server");
    listener_.setBlocking(false);
    thread_ = std::thread([this] { Run(); });
}

THttpGate::~THttpGate()
{
    Stop();
    ::close(wakeFd_);
}

void THttpGate::Stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    Wake();
    if (thread_.joinable())
        thread_.join();
    returned_.clear();
}

void THttpGate::Return(std::unique_ptr<THttpConnection> connection, THttpAnswer answer)
{
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return; // closed as it goes out of scope
        returned_.emplace_back(std::move(connection), std::move(answer));
    }
    Wake();
}

void THttpGate::Wake()
{
    const std::uint64_t one = 1;
    (void)::write(wakeFd_, &one, sizeof one);
}

void THttpGate::Run()
{
    std::vector<pollfd> fds;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                break;
        }
        TakeReturned();
        AdmitWaiting();
        fds.assign({{wakeFd_, POLLIN, 0}, {listener_.impl()->sockfd(), POLLIN, 0}});
        for (const auto& c : waiting_) {
            const short events = c->phase_ == THttpConnection::TPhase::Writing ? POLLOUT : POLLIN;
            fds.push_back({c->Socket.impl()->sockfd(), events, 0});
        }
        if (::poll(fds.data(), fds.size(), PollTimeoutMs()) < 0 && errno != EINTR)
            break;
        if (fds[0].revents != 0) {
            std::uint64_t count = 0;
            (void)::read(wakeFd_, &count, sizeof count);
        }
        // Only the connections polled; those accepted now are looked at next round.
        const std::int64_t now = clock_.MonotonicMs();
        const std::size_t polled = fds.size() - 2;
        for (std::size_t i = 0; i < polled; ++i) {
            auto& c = waiting_[i];
            if (!Serve(c, fds[i + 2].revents, now))
                c.reset();
        }
        waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), nullptr), waiting_.end());
        if (fds[1].revents != 0)
            Accept();
    }
    // The answers made by now go out as far as their sockets take them at once.
    TakeReturned();
    waiting_.clear();
    waitingRoom_.clear();
    listener_.close();
}

int THttpGate::PollTimeoutMs() const { return waiting_.empty() && waitingRoom_.empty() ? -1 : PollCapMs; }

// False when the connection has left the gate's hands (or is gone).
bool THttpGate::Serve(std::unique_ptr<THttpConnection>& c, short events, std::int64_t now)
{
    if (events != 0) {
        const bool here = c->phase_ == THttpConnection::TPhase::Writing ? WriteAnswer(c) : Receive(*c) && Settle(c);
        if (!here)
            return false;
    }
    return !Expired(*c, now);
}

void THttpGate::TakeReturned()
{
    std::vector<std::pair<std::unique_ptr<THttpConnection>, THttpAnswer>> returned;
    {
        std::lock_guard lock(mutex_);
        returned.swap(returned_);
    }
    bool held = false;
    for (auto& [c, answer] : returned) {
        c->phase_ = THttpConnection::TPhase::Writing;
        c->deadlineMs_ = clock_.MonotonicMs() + limits_.AnswerTimeoutMs;
        c->answer_ = std::move(answer);
        c->answerSent_ = 0;
        if (!WriteAnswer(c))
            continue;
        held = held || c->phase_ == THttpConnection::TPhase::Writing;
        waiting_.push_back(std::move(c));
    }
    if (held)
        CutAnswersOverBudget();
}

// As much of the answer as the socket takes now. False when the connection
// has left the gate's hands: broken, or handed on with its next request.
bool THttpGate::WriteAnswer(std::unique_ptr<THttpConnection>& c)
{
    const std::string& bytes = c->answer_.Bytes;
    while (c->answerSent_ < bytes.size()) {
        const ssize_t n = ::send(c->Socket.impl()->sockfd(), bytes.data() + c->answerSent_,
                                 bytes.size() - c->answerSent_, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0)
            c->answerSent_ += static_cast<std::size_t>(n);
        else if (errno == EAGAIN || errno == EWOULDBLOCK)
            return true;
        else if (errno != EINTR)
            return false;
    }
    return AnswerWritten(c);
}

bool THttpGate::AnswerWritten(std::unique_ptr<THttpConnection>& c)
{
    const bool keepAlive = c->answer_.KeepAlive;
    c->answer_ = THttpAnswer{};
    if (!keepAlive) {
        StartClosing(*c);
        return true;
    }
    c->phase_ = THttpConnection::TPhase::Idle;
    c->deadlineMs_ = clock_.MonotonicMs() + limits_.IdleTimeoutMs;
    c->Reader.Next(); // a request sent behind the last one is read on
    return Settle(c);
}

// The answers still to be taken are cut while they hold more than their
// budget: clients that do not read must not take the memory. The oldest
// answer of the address that holds the most goes first, so clients of one
// address that do not read cut their own answers, not another's. An answer
// holds all its bytes until its client has taken the last of them.
void THttpGate::CutAnswersOverBudget()
{
    using TPhase = THttpConnection::TPhase;
    for (;;) {
        std::size_t held = 0;
        std::map<std::string, std::size_t> heldBy;
        for (const auto& c : waiting_)
            if (c->phase_ == TPhase::Writing) {
                held += c->answer_.Bytes.size();
                heldBy[c->Host] += c->answer_.Bytes.size();
            }
        if (held <= limits_.MaxHeldAnswerBytes)
            return;
        std::size_t most = 0;
        for (const auto& [host, bytes] : heldBy)
            most = std::max(most, bytes);
        auto oldest = waiting_.end();
        for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
            const THttpConnection& c = **it;
            if (c.phase_ == TPhase::Writing && heldBy[c.Host] == most
                && (oldest == waiting_.end() || c.deadlineMs_ < (*oldest)->deadlineMs_))
                oldest = it;
        }
        waiting_.erase(oldest);
    }
}

void THttpGate::Accept()
{
    for (int i = 0; i < MaxAcceptsPerRound; ++i) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        const int fd = ::accept4(listener_.impl()->sockfd(), reinterpret_cast<sockaddr*>(&address), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return; // nothing more waiting, or a connection that went away before it was taken
        Poco::Net::StreamSocket socket(new Poco::Net::StreamSocketImpl(fd));
        const Poco::Net::SocketAddress peer(reinterpret_cast<const sockaddr*>(&address), length);
        std::string host = peer.host().toString();
        // A connection does not pass those of its address that wait already.
        using TAdd = THttpAddressCount::TAdd;
        const TAdd added = HasWaitingTurn(host) ? TAdd::AddressFull : AddConnection(socket, peer, host);
        if (added == TAdd::Added)
            continue;
        if (added == TAdd::AddressFull && (waitingRoom_.size() < limits_.MaxWaiting || MakeRoomToWait(host))) {
            waitingRoom_.push_back({socket, peer, std::move(host)});
            continue;
        }
        SendNow(socket, NoRoomAnswer());
        socket.close();
    }
}

bool THttpGate::HasWaitingTurn(const std::string& host) const
{
    return std::any_of(waitingRoom_.begin(), waitingRoom_.end(),
                       [&](const TWaitingTurn& turn) { return turn.host == host; });
}

// A full waiting room makes room for an address that has fewer connections
// in it than another: that one's newest is refused instead, so one address
// cannot keep every other out of the room.
bool THttpGate::MakeRoomToWait(const std::string& host)
{
    std::map<std::string, std::size_t> waitingOf;
    for (const auto& turn : waitingRoom_)
        ++waitingOf[turn.host];
    const std::size_t own = waitingOf[host];
    const auto most = std::max_element(waitingOf.begin(), waitingOf.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    if (most->second <= own + 1)
        return false;
    const auto newest = std::find_if(waitingRoom_.rbegin(), waitingRoom_.rend(),
                                     [&](const TWaitingTurn& turn) { return turn.host == most->first; });
    SendNow(newest->socket, NoRoomAnswer());
    newest->socket.close();
    waitingRoom_.erase(std::next(newest).base());
    return true;
}

// The connections in the waiting room take their turn, oldest first, as
// their address has room: a place given back, or one of its connections
// idle between requests, closed for it.
void THttpGate::AdmitWaiting()
{
    using TAdd = THttpAddressCount::TAdd;
    std::vector<std::string> full; // addresses that have no room this round
    for (auto it = waitingRoom_.begin(); it != waitingRoom_.end();) {
        if (std::find(full.begin(), full.end(), it->host) != full.end()) {
            ++it;
            continue;
        }
        TAdd added = AddConnection(it->socket, it->peer, it->host);
        if (added == TAdd::AddressFull && CloseIdleOf(it->host))
            added = AddConnection(it->socket, it->peer, it->host);
        if (added != TAdd::Added) {
            full.push_back(it->host);
            ++it;
            continue;
        }
        it = waitingRoom_.erase(it);
    }
}

THttpAddressCount::TAdd THttpGate::AddConnection(Poco::Net::StreamSocket& socket, const Poco::Net::SocketAddress& peer,
                                                 const std::string& host)
{
    using TAdd = THttpAddressCount::TAdd;
    TAdd added = count_->TryAdd(host);
    if (added == TAdd::AllFull && EvictLongestWaiting())
        added = count_->TryAdd(host);
    if (added != TAdd::Added)
        return added;
    socket.setNoDelay(true); // answers are written whole; nothing is gained by waiting
    auto c = std::make_unique<THttpConnection>(socket, peer, maxBody_, count_);
    c->deadlineMs_ = clock_.MonotonicMs() + limits_.HeadTimeoutMs;
    waiting_.push_back(std::move(c));
    return added;
}

// Of the address's connections, one idle between requests with nothing sent
// since its last answer goes; its client opens another when it needs one.
bool THttpGate::CloseIdleOf(const std::string& host)
{
    const auto idle = std::find_if(waiting_.begin(), waiting_.end(), [&](const auto& c) {
        return c->Host == host && c->phase_ == THttpConnection::TPhase::Idle && NothingPending(c->Socket);
    });
    if (idle == waiting_.end())
        return false;
    waiting_.erase(idle); // its place is given back as it is destroyed
    return true;
}

// Of the connections without a request under way (a body being received, an
// answer being written), the one whose time runs out first goes.
bool THttpGate::EvictLongestWaiting()
{
    using TPhase = THttpConnection::TPhase;
    auto oldest = waiting_.end();
    for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
        const TPhase phase = (*it)->phase_;
        if (phase != TPhase::Body && phase != TPhase::Writing
            && (oldest == waiting_.end() || (*it)->deadlineMs_ < (*oldest)->deadlineMs_))
            oldest = it;
    }
    if (oldest == waiting_.end())
        return false;
    if ((*oldest)->phase_ == TPhase::Head)
        SendNow((*oldest)->Socket, NoRoomAnswer());
    waiting_.erase(oldest); // its place is given back as it is destroyed
    return true;
}

// False when the connection is done with: closed by the client, or broken.
bool THttpGate::Receive(THttpConnection& c)
{
    char buffer[ReceiveChunk];
    const ssize_t n = ::recv(c.Socket.impl()->sockfd(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (c.phase_ == THttpConnection::TPhase::Closing)
        return n > 0; // late bytes of a refused request are dropped
    if (n == 0) {
        // A request cut short is never handed on; a client that only shut
        // its sending side still learns why.
        if (c.Reader.State() != THttpRequestReader::TState::Idle)
            SendNow(c.Socket, ErrorAnswer(400, "Incomplete request"));
        return false;
    }
    c.Reader.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    return true;
}

// Acts on the reader's state: hands a complete request on, answers a refused
// one, starts the deadline of the part that now arrives. False when the
// connection has left the gate's hands (or is gone).
bool THttpGate::Settle(std::unique_ptr<THttpConnection>& c)
{
    using TState = THttpRequestReader::TState;
    using TPhase = THttpConnection::TPhase;
    if (c->phase_ == TPhase::Closing)
        return true;
    const TState state = c->Reader.State();
    if (state == TState::Complete) {
        dispatch_(std::move(c));
        return false;
    }
    if (state == TState::Refused) {
        Refuse(*c, c->Reader.RefusalStatus(), c->Reader.RefusalText());
        return true;
    }
    const std::int64_t now = clock_.MonotonicMs();
    if (state == TState::Head && c->phase_ == TPhase::Idle) {
        c->phase_ = TPhase::Head;
        c->deadlineMs_ = now + limits_.HeadTimeoutMs;
    } else if (state == TState::Body && c->phase_ != TPhase::Body) {
        c->phase_ = TPhase::Body;
        c->deadlineMs_ = now + limits_.BodyTimeoutMs;
    }
    if (c->Reader.TakeContinue())
        SendNow(c->Socket, "HTTP/1.1 100 Continue\r\n\r\n");
    return true;
}

// True when the connection is to go now; a request past its deadline is
// answered first.
bool THttpGate::Expired(THttpConnection& c, std::int64_t now)
{
    if (now < c.deadlineMs_)
        return false;
    using TPhase = THttpConnection::TPhase;
    if (c.phase_ == TPhase::Head || c.phase_ == TPhase::Body)
        SendNow(c.Socket, ErrorAnswer(408, "Request not received in time"));
    return true;
}

void THttpGate::Refuse(THttpConnection& c, int status, const std::string& text)
{
    SendNow(c.Socket, ErrorAnswer(status, text));
    StartClosing(c);
}

// Ends the sending side, so the client sees the end of the answer, and reads
// on for a while: closing with unread bytes would reset the connection and
// could take the answer with it.
void THttpGate::StartClosing(THttpConnection& c)
{
    c.phase_ = THttpConnection::TPhase::Closing;
    c.deadlineMs_ = clock_.MonotonicMs() + limits_.LingerMs;
    (void)::shutdown(c.Socket.impl()->sockfd(), SHUT_WR);
}

} // namespace gw
