#pragma once
// The door of the web server: accepts connections, reads each request whole
// before a handler thread sees it, and writes the answer the handler made as
// the client takes it, all on one thread that waits on every connection at
// once. A slow, silent or non-reading client so holds a descriptor, never a
// handler thread, and only for as long as its deadline:
//   - the whole head within HeadTimeoutMs (of the connection, or of the
//     first byte of a kept-alive connection's next request),
//   - the whole body within BodyTimeoutMs of the end of the head,
//   - the whole answer taken within AnswerTimeoutMs of its making,
//   - a kept-alive connection's next request begun within IdleTimeoutMs.
// A request past its deadline is answered 408 and its connection closed; an
// answer past its deadline is cut and its connection closed.
// One client address is served on at most MaxPerAddress connections at once;
// its connections past that wait their turn, unread, in the waiting room
// (MaxWaiting for all addresses), and take the place of the first of its
// connections to end or to fall idle between requests. Only a connection
// that finds the waiting room full is answered 503, or rather the newest of
// an address that holds more of the room than the newcomer's does, whose
// place the newcomer takes. When all addresses together hold
// MaxConnections, the connection that has waited longest for its request
// (idle, or still sending its head) makes room for the new one: a newcomer
// is not locked out by a crowd of slow clients. Answers still to be taken
// hold at most MaxHeldAnswerBytes; past that the oldest answer of the
// address that holds the most is cut.

#include "core/clock.h"
#include "daemon/httprequestreader.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace gw {

struct THttpLimits {
    std::int64_t HeadTimeoutMs = 10'000;
    std::int64_t BodyTimeoutMs = 60'000;
    std::int64_t IdleTimeoutMs = 5'000;
    // The whole answer, head and body, is taken by the client within this of
    // its making, else it is cut and the connection closed.
    std::int64_t AnswerTimeoutMs = 60'000;
    // How long a closing connection's late bytes are read and dropped, so
    // that its answer is not lost to a reset.
    std::int64_t LingerMs = 2'000;
    std::size_t MaxPerAddress = 16;
    std::size_t MaxConnections = 512;
    std::size_t MaxWaiting = 256;
    // Handler threads one address holds at once: half of them.
    std::size_t MaxBusyPerAddress = 8;
    std::size_t MaxHeldAnswerBytes = 64 * 1024 * 1024;
};

// An answer as the handler made it, to be written by the gate.
struct THttpAnswer {
    std::string Bytes;
    bool KeepAlive = false; // the connection carries the next request after it
};

// The connections of each client address, shared by the gate and every
// connection, which gives its place back when it is destroyed.
class THttpAddressCount {
public:
    THttpAddressCount(std::size_t maxPerAddress, std::size_t maxConnections);
    enum class TAdd { Added, AddressFull, AllFull };
    TAdd TryAdd(const std::string& host);
    void Remove(const std::string& host);

private:
    std::mutex mutex_;
    std::map<std::string, std::size_t> perAddress_;
    std::size_t total_ = 0;
    const std::size_t maxPerAddress_;
    const std::size_t maxConnections_;
};

// A client's connection and its request as far as it has arrived.
class THttpConnection {
public:
    THttpConnection(Poco::Net::StreamSocket socket, Poco::Net::SocketAddress peer, std::size_t maxBody,
                    std::shared_ptr<THttpAddressCount> count);
    ~THttpConnection();
    THttpConnection(const THttpConnection&) = delete;
    THttpConnection& operator=(const THttpConnection&) = delete;

    Poco::Net::StreamSocket Socket;
    const Poco::Net::SocketAddress Peer;
    const std::string Host; // Peer's address alone: what the shares are counted by
    THttpRequestReader Reader;

private:
    friend class THttpGate;
    enum class TPhase { Idle, Head, Body, Writing, Closing };
    TPhase phase_ = TPhase::Head;
    std::int64_t deadlineMs_ = 0;
    THttpAnswer answer_; // while Writing
    std::size_t answerSent_ = 0;
    std::shared_ptr<THttpAddressCount> count_;
};

class THttpGate {
public:
    // Called on the gate's thread with each complete request; the callee
    // hands the connection back through Return.
    using TDispatch = std::function<void(std::unique_ptr<THttpConnection>)>;

    // listener is bound and listening; the gate takes it over. Bodies longer
    // than maxBody are left unread.
    THttpGate(Poco::Net::ServerSocket listener, const THttpLimits& limits, std::size_t maxBody, const TClock& clock,
              TDispatch dispatch);
    ~THttpGate();
    THttpGate(const THttpGate&) = delete;
    THttpGate& operator=(const THttpGate&) = delete;

    // A connection with its answer, which the gate writes as the client takes
    // it; then the connection waits for its next request when the answer
    // keeps it alive, else it is closed. Any thread; after Stop it is closed.
    void Return(std::unique_ptr<THttpConnection> connection, THttpAnswer answer);
    // Closes the listener and every connection the gate holds, after writing
    // what their sockets take at once of the answers returned by now; joins
    // its thread.
    void Stop();

private:
    using TConnections = std::vector<std::unique_ptr<THttpConnection>>;
    // Accepted, not yet read: its address is served on all its share.
    struct TWaitingTurn {
        Poco::Net::StreamSocket socket;
        Poco::Net::SocketAddress peer;
        std::string host;
    };

    void Run();
    void Wake();
    void Accept();
    void AdmitWaiting();
    bool HasWaitingTurn(const std::string& host) const;
    bool MakeRoomToWait(const std::string& host);
    THttpAddressCount::TAdd AddConnection(Poco::Net::StreamSocket& socket, const Poco::Net::SocketAddress& peer,
                                          const std::string& host);
    bool CloseIdleOf(const std::string& host);
    bool EvictLongestWaiting();
    bool Serve(std::unique_ptr<THttpConnection>& connection, short events, std::int64_t now);
    bool Receive(THttpConnection& connection);
    bool Settle(std::unique_ptr<THttpConnection>& connection);
    bool WriteAnswer(std::unique_ptr<THttpConnection>& connection);
    bool AnswerWritten(std::unique_ptr<THttpConnection>& connection);
    void CutAnswersOverBudget();
    bool Expired(THttpConnection& connection, std::int64_t now);
    void StartClosing(THttpConnection& connection);
    void Refuse(THttpConnection& connection, int status, const std::string& text);
    void TakeReturned();
    int PollTimeoutMs() const;

    Poco::Net::ServerSocket listener_;
    const THttpLimits limits_;
    const std::size_t maxBody_;
    const TClock& clock_;
    TDispatch dispatch_;
    std::shared_ptr<THttpAddressCount> count_;
    int wakeFd_ = -1;
    // The gate thread's own: the connections it reads or writes, and those
    // waiting their turn, oldest first.
    TConnections waiting_;
    std::deque<TWaitingTurn> waitingRoom_;

    std::mutex mutex_;
    std::vector<std::pair<std::unique_ptr<THttpConnection>, THttpAnswer>> returned_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace gw
