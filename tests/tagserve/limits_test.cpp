// The connection and session limits over real loopback sockets: idle
// sockets, bare secure channels and abandoned sessions give way to a client
// that logs in. The server loop runs on a clock the test moves.
#include "harness.h"
#include "opcua/ua_probe.h"
#include "testkit/tagserve/session_client.h"
#include "testkit/temp_dir.h"

#include "tagserve/admission.h"
#include "tagserve/server.h"

#include <gtest/gtest.h>

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>

#include <atomic>
#include <memory>
#include <thread>

namespace tagserve {
namespace {

using test::SessionClient;

std::atomic<int64_t> loopNowMs{5000000};
int64_t LoopClock() { return loopNowMs.load(); }

// Only a server that hangs takes this long: a slow machine does not.
constexpr auto kPatience = std::chrono::seconds(60);

// The server loop on its own thread, listening on a free port. Its clock does
// not move by itself, so a bind that failed (another program took the port
// first) would never be tried again: the server is started afresh on another
// port instead.
class LoopServer {
public:
    LoopServer()
    {
        test::BuildFixtureModel(model_);
        config_.info.applicationUri = "urn:test:tagserve";
        wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        for (int attempt = 0; attempt < 10 && port == 0; ++attempt) {
            const int candidate = test::FreePort();
            Run(candidate);
            if (test::AwaitListening(candidate, kPatience))
                port = candidate;
            else
                Stop();
        }
        if (port == 0)
            throw std::runtime_error("the server listens on no port");
    }
    ~LoopServer()
    {
        Stop();
        ::close(wakeFd_);
    }
    int port = 0;

private:
    void Run(int candidate)
    {
        config_.port = static_cast<uint16_t>(candidate);
        stop_ = false;
        thread_ = std::thread([this] { RunServer(model_, config_, stop_, wakeFd_, &LoopClock); });
    }
    void Stop()
    {
        stop_ = true;
        uint64_t one = 1;
        [[maybe_unused]] ssize_t w = ::write(wakeFd_, &one, sizeof one);
        thread_.join();
    }

    Model model_;
    ServerConfig config_;
    std::atomic<bool> stop_{false};
    int wakeFd_;
    std::thread thread_;
};

// A raw loopback connection that shows what the server does with it.
class Socket {
public:
    explicit Socket(int port)
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int attempt = 0; attempt < 200; ++attempt) {
            fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
            if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
                return;
            ::close(fd_);
            std::this_thread::sleep_for(std::chrono::milliseconds(10)); // the server thread is still binding
        }
        throw std::runtime_error("cannot connect");
    }
    ~Socket() { ::close(fd_); }
    void Send(const std::string& bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // Reads one whole chunk.
    std::string Chunk()
    {
        std::string chunk = Exactly(8);
        if (chunk.size() < 8)
            return chunk;
        Reader h(chunk.data() + 4, 4);
        return chunk + Exactly(h.UInt32() - 8);
    }
    // Waits for the server to close the connection and returns what came before.
    std::string UntilClosed()
    {
        std::string got;
        for (;;) {
            std::string more = Exactly(1);
            if (more.empty())
                return got;
            got += more;
        }
    }
    // HEL, then OpenSecureChannel: a channel that never gets a session.
    void OpenChannel()
    {
        Send(test::HelloChunk());
        ASSERT_EQ(Chunk().substr(0, 4), "ACKF");
        Send(test::OpenChunk(1, 1));
        ASSERT_EQ(Chunk().substr(0, 4), "OPNF");
    }

private:
    // Up to n bytes; fewer when the server closes. The time-out only keeps a broken server from hanging the test.
    std::string Exactly(size_t n)
    {
        std::string out;
        while (out.size() < n) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) <= 0)
                throw std::runtime_error("the server neither answered nor closed");
            char buf[65536];
            ssize_t got = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
            if (got <= 0)
                break;
            out.append(buf, static_cast<size_t>(got));
        }
        return out;
    }
    int fd_;
};

uint32_t ErrStatus(const std::string& bytes)
{
    if (bytes.size() < 12 || bytes.compare(0, 4, "ERRF") != 0)
        return 0;
    Reader r(bytes.data() + 8, 4);
    return r.UInt32();
}

// A Read of the server state: works only on a live channel with an activated session.
uint32_t ReadState(SessionClient& client)
{
    return client
        .Call(msg::ReadRequest,
              [](Writer& w) {
                  w.Double(0);
                  w.UInt32(3);
                  w.Int32(1);
                  w.WriteNodeId(NodeId(0, 2259));
                  w.UInt32(attr::Value);
                  w.NullString();
                  w.WriteQualifiedName({});
              })
        .serviceResult;
}

TEST(Limits, TheWeakestOldestConnectionGivesWay)
{
    using S = Standing;
    struct Case {
        std::vector<Standing> standings;
        int displaced;
    } cases[] = {
        {{S::InSession, S::Sessionless, S::Opening, S::Opening}, 2},
        {{S::InSession, S::Sessionless, S::InSession, S::Sessionless}, 1},
        {{S::Sessionless, S::Opening}, 1},
        {{S::InSession, S::InSession}, -1},
        {{}, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DisplacedConnection(c.standings), c.displaced) << c.standings.size();
}

TEST(Limits, IdleSocketsGiveWayToAClientThatLogsIn)
{
    LoopServer server;
    std::vector<std::unique_ptr<Socket>> idle;
    for (size_t i = 0; i < kMaxConnections; ++i)
        idle.push_back(std::make_unique<Socket>(server.port));
    SessionClient client(server.port);
    EXPECT_EQ(client.Session(test::AnonymousToken()), status::Good);
    EXPECT_EQ(ReadState(client), status::Good);
    // The oldest idle socket made room, and was told why.
    EXPECT_EQ(ErrStatus(idle.front()->UntilClosed()), status::BadTcpServerTooBusy);
}

TEST(Limits, BareChannelsGiveWayButSessionsStay)
{
    LoopServer server;
    SessionClient first(server.port);
    ASSERT_EQ(first.Session(test::AnonymousToken()), status::Good);
    std::vector<std::unique_ptr<Socket>> bare;
    for (size_t i = 1; i < kMaxConnections; ++i) {
        bare.push_back(std::make_unique<Socket>(server.port));
        bare.back()->OpenChannel();
    }
    // Two newcomers at the limit: each takes the place of the oldest bare channel, never of the logged-in client.
    SessionClient second(server.port);
    EXPECT_EQ(second.Session(test::AnonymousToken()), status::Good);
    SessionClient third(server.port);
    EXPECT_EQ(third.Session(test::AnonymousToken()), status::Good);
    EXPECT_EQ(ErrStatus(bare[0]->UntilClosed()), status::BadTcpServerTooBusy);
    EXPECT_EQ(ErrStatus(bare[1]->UntilClosed()), status::BadTcpServerTooBusy);
    EXPECT_EQ(ReadState(first), status::Good);
    EXPECT_EQ(ReadState(second), status::Good);
}

TEST(Limits, UnusedConnectionsAreClosedAfterAShortTime)
{
    LoopServer server;
    Socket silent(server.port);
    Socket helloOnly(server.port);
    helloOnly.Send(test::HelloChunk());
    ASSERT_EQ(helloOnly.Chunk().substr(0, 4), "ACKF");
    Socket bare(server.port);
    bare.OpenChannel();
    SessionClient client(server.port);
    ASSERT_EQ(client.Session(test::AnonymousToken()), status::Good);

    loopNowMs += kHelloTimeoutMs + 1;
    EXPECT_EQ(silent.UntilClosed(), "");
    EXPECT_EQ(helloOnly.UntilClosed(), "");
    // A client with a session is not touched by either time-out.
    EXPECT_EQ(ReadState(client), status::Good);
    loopNowMs += kSessionlessChannelMs - kHelloTimeoutMs + 1;
    EXPECT_EQ(bare.UntilClosed(), "");
    EXPECT_EQ(ReadState(client), status::Good);
}

TEST(Limits, SessionsOfClientsThatDiedGiveWay)
{
    LoopServer server;
    {
        std::vector<std::unique_ptr<SessionClient>> dead;
        for (size_t i = 0; i < kMaxSessions; ++i) {
            dead.push_back(std::make_unique<SessionClient>(server.port));
            ASSERT_EQ(dead.back()->Session(test::AnonymousToken()), status::Good);
        }
        // They go away without closing their sessions, as a killed process does.
    }
    SessionClient client(server.port);
    EXPECT_EQ(client.Session(test::AnonymousToken()), status::Good);
    EXPECT_EQ(ReadState(client), status::Good);
}

TEST(Limits, LiveSessionsAreNotDisplaced)
{
    LoopServer server;
    std::vector<std::unique_ptr<SessionClient>> live;
    for (size_t i = 0; i < kMaxSessions; ++i) {
        live.push_back(std::make_unique<SessionClient>(server.port));
        ASSERT_EQ(live.back()->Session(test::AnonymousToken()), status::Good);
    }
    SessionClient late(server.port);
    EXPECT_EQ(late.Session(test::AnonymousToken()), status::BadTooManySessions);
    for (auto& c : live)
        EXPECT_EQ(ReadState(*c), status::Good);
}

// Sessions whose clients went silent with their connections open (a hung
// master, a host that lost power) give way to a new client once silent for
// kSilentSessionMs; a subscriber whose Publish waits at the server is not
// silent and stays.
TEST(Limits, SilentSessionsGiveWayToANewClientButWaitingSubscribersStay)
{
    LoopServer server;
    SessionClient subscriber(server.port);
    ASSERT_EQ(subscriber.Session(test::AnonymousToken()), status::Good);
    ASSERT_EQ(subscriber
                  .Call(msg::CreateSubscriptionRequest,
                        [](Writer& w) {
                            w.Double(1000);
                            w.UInt32(3000); // lifetime and keep-alive counts: nothing is due for 100 s
                            w.UInt32(100);
                            w.UInt32(0);
                            w.Boolean(true);
                            w.Byte(0);
                        })
                  .serviceResult,
              status::Good);
    // Two, as clients keep them: the first cycle answers one with a keep-alive.
    for (int i = 0; i < 2; ++i)
        subscriber.Request(msg::PublishRequest, [](Writer& w) { w.Int32(0); });
    std::vector<std::unique_ptr<SessionClient>> silent;
    for (size_t i = 1; i < kMaxSessions; ++i) {
        silent.push_back(std::make_unique<SessionClient>(server.port));
        ASSERT_EQ(silent.back()->Session(test::AnonymousToken()), status::Good);
    }
    SessionClient early(server.port);
    EXPECT_EQ(early.Session(test::AnonymousToken()), status::BadTooManySessions);

    loopNowMs += kSilentSessionMs + 1;
    SessionClient late(server.port);
    ASSERT_EQ(late.Session(test::AnonymousToken()), status::Good);
    EXPECT_EQ(ReadState(late), status::Good);
    EXPECT_EQ(ReadState(subscriber), status::Good);
    // A real client as well: it takes the place of the next silent session.
    if (gw::test::HasUaClient()) {
        gw::test::TempDir xdg;
        int exit = 0;
        const std::string out = gw::test::RunUaProbe(xdg.File("xdg"), server.port, "", exit);
        EXPECT_EQ(exit, 0) << out;
        EXPECT_TRUE(gw::test::Has(out, "group 80001 Station_1")) << out;
        EXPECT_NE(out.find("var 80001 4 m1 "), std::string::npos) << out;
    }
    EXPECT_EQ(ReadState(subscriber), status::Good);
    EXPECT_EQ(ReadState(late), status::Good);
}

// Accepted connections carry TCP keep-alive, so a peer that vanished is found out.
TEST(Limits, AcceptedSocketsKeepAlive)
{
    const int port = test::FreePort();
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const int accepted = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    EnableKeepAlive(accepted);
    auto option = [&](int level, int name) {
        int v = 0;
        socklen_t len = sizeof v;
        ::getsockopt(accepted, level, name, &v, &len);
        return v;
    };
    EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), kKeepAliveIdleS);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), kKeepAliveIntervalS);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), kKeepAliveProbes);
    EXPECT_LE(kKeepAliveIdleS + kKeepAliveIntervalS * kKeepAliveProbes, 60);
    for (int fd : {accepted, client, listener})
        ::close(fd);
}

} // namespace
} // namespace tagserve
