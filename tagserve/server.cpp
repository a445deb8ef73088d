#include "server.h"

#include "admission.h"
#include "clock.h"
#include "ids.h"
#include "log.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <list>
#include <memory>

namespace tagserve {

namespace {

constexpr size_t kReadChunk = 65536;

uint32_t RandomChannelStart()
{
    std::string b = RandomBytes(4);
    Reader r(b);
    // Far from 0 and 1, so a restarted server does not reuse the ids of the last run.
    return (r.UInt32() % 1000000000u) + 1000;
}

class Loop {
public:
    Loop(Model& model, const ServerConfig& config, const std::atomic<bool>& stop, int wakeFd, Services::Clock clock)
        : services_(model, config, clock), config_(config), stop_(stop), wakeFd_(wakeFd), clock_(clock),
          nextChannelId_(RandomChannelStart())
    {
    }
    ~Loop()
    {
        for (auto& c : connections_)
            CloseConnection(*c);
        if (listenFd_ >= 0)
            ::close(listenFd_);
    }

    void Run()
    {
        int64_t nextBind = 0;
        while (!stop_.load()) {
            int64_t now = clock_();
            if (listenFd_ < 0 && now >= nextBind && !Bind())
                nextBind = now + kBindRetryMs;
            try {
                PollOnce();
                services_.Tick(clock_());
            } catch (const std::exception& e) {
                // The caller relies on this call blocking until the stop: log and go on.
                Log(LogKind::Internal, "server loop: %s", e.what());
            }
            CloseIdle(clock_());
            for (auto& c : connections_) {
                Flush(*c);
                // The next of the requests already received, one per client and turn.
                if (!c->dead && Waiting(*c) && !stop_.load())
                    c->channel->Receive(nullptr, 0, clock_());
            }
            Reap();
        }
    }

private:
    struct Connection {
        int fd;
        std::unique_ptr<SecureChannel> channel;
        bool dead = false;
        int64_t lastInUseMs = 0; // the last time it was still opening or had a session
    };

    // Sockets that never open a channel, channels whose token expired, and
    // channels that carry no session: none of them may hold a slot for long.
    void CloseIdle(int64_t now)
    {
        for (auto& c : connections_) {
            if (c->dead || c->channel->Closed())
                continue;
            bool inUse = !c->channel->IsOpen() || services_.UseOf(c->channel->Id()) != Services::ChannelUse::None;
            if (inUse)
                c->lastInUseMs = now;
            if (c->channel->Expired(now) || now - c->lastInUseMs > kSessionlessChannelMs) {
                Log(LogKind::Network, "closing an idle or expired connection");
                c->dead = true;
            }
        }
    }

    Standing StandingOf(const Connection& c) const
    {
        if (!c.channel->IsOpen())
            return Standing::Opening;
        bool activated = services_.UseOf(c.channel->Id()) == Services::ChannelUse::Activated;
        return activated ? Standing::InSession : Standing::Sessionless;
    }

    // Closes the connection a newcomer takes the place of; false when every one is in use.
    bool Displace()
    {
        std::vector<Standing> standings;
        for (auto& c : connections_)
            standings.push_back(c->dead || c->channel->Closed() ? Standing::Opening : StandingOf(*c));
        int index = DisplacedConnection(standings);
        if (index < 0)
            return false;
        auto it = std::next(connections_.begin(), index);
        Connection& c = **it;
        if (!c.dead) {
            c.channel->Fail(status::BadTcpServerTooBusy, "displaced by a new connection");
            Flush(c);
            Log(LogKind::Network, "connection limit reached: a new connection takes the place of an unused one");
        }
        CloseConnection(c);
        connections_.erase(it);
        return true;
    }

    // A received request that can be taken now.
    static bool Waiting(const Connection& c)
    {
        return c.channel->HasUnreadInput() && c.channel->Output().size() < kMaxPendingOutput;
    }

    bool Bind()
    {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(config_.port);
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
            Log(LogKind::Network, "cannot listen on port %u: %s; retrying every 5 s", config_.port,
                std::strerror(errno));
            ::close(fd);
            return false;
        }
        listenFd_ = fd;
        return true;
    }

    void PollOnce()
    {
        std::vector<pollfd> fds;
        fds.push_back({wakeFd_, POLLIN, 0});
        if (listenFd_ >= 0)
            fds.push_back({listenFd_, POLLIN, 0});
        size_t first = fds.size();
        int timeout = kPollTimeoutMs;
        for (auto& c : connections_) {
            // Nothing more is read while received requests wait for their turn or answers wait for the client.
            bool backlog = c->channel->Output().size() >= kMaxPendingOutput || c->channel->HasUnreadInput();
            short events = c->channel->Closed() || backlog ? 0 : POLLIN;
            if (!c->channel->Output().empty())
                events |= POLLOUT;
            fds.push_back({c->fd, events, 0});
            if (Waiting(*c))
                timeout = 0;
        }
        int n = ::poll(fds.data(), fds.size(), timeout);
        if (n <= 0)
            return;
        if (fds[0].revents & POLLIN) {
            uint64_t count;
            [[maybe_unused]] ssize_t r = ::read(wakeFd_, &count, sizeof count);
        }
        size_t i = first;
        for (auto& c : connections_) {
            short ev = fds[i++].revents;
            if (ev & POLLIN)
                ReadFrom(*c);
            else if (ev & (POLLHUP | POLLERR))
                c->dead = true;
            if (ev & POLLOUT)
                Flush(*c);
        }
        if (listenFd_ >= 0 && (fds[1].revents & POLLIN))
            Accept();
    }

    void Accept()
    {
        for (;;) {
            sockaddr_in peer{};
            socklen_t len = sizeof peer;
            int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return;
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            EnableKeepAlive(fd);
            if (connections_.size() >= kMaxConnections && !Displace()) {
                std::string err = BuildError(status::BadTcpServerTooBusy, "too many connections");
                [[maybe_unused]] ssize_t w = ::send(fd, err.data(), err.size(), MSG_NOSIGNAL);
                ::close(fd);
                Log(LogKind::Network, "refused a connection: %zu already open", kMaxConnections);
                continue;
            }
            auto c = std::make_unique<Connection>();
            c->fd = fd;
            c->channel = std::make_unique<SecureChannel>(nextChannelId_++, services_, clock_());
            c->channel->SetLocalUrl(LocalUrl(fd));
            c->lastInUseMs = clock_();
            services_.AttachChannel(*c->channel);
            connections_.push_back(std::move(c));
        }
    }

    std::string LocalUrl(int fd) const
    {
        sockaddr_in local{};
        socklen_t len = sizeof local;
        char host[INET_ADDRSTRLEN] = "127.0.0.1";
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0)
            ::inet_ntop(AF_INET, &local.sin_addr, host, sizeof host);
        return "opc.tcp://" + std::string(host) + ":" + std::to_string(config_.port);
    }

    void ReadFrom(Connection& c)
    {
        char buf[kReadChunk];
        for (int rounds = 0; rounds < 16 && !c.channel->Closed() && !c.channel->HasUnreadInput(); ++rounds) {
            ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
            if (n > 0) {
                c.channel->Receive(buf, static_cast<size_t>(n), clock_());
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                c.dead = true;
            return;
        }
    }

    void Flush(Connection& c)
    {
        std::string& out = c.channel->Output();
        while (!out.empty() && !c.dead) {
            ssize_t n = ::send(c.fd, out.data(), out.size(), MSG_NOSIGNAL);
            if (n > 0) {
                out.erase(0, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                return;
            c.dead = true;
        }
        if (out.empty() && c.channel->Closed())
            c.dead = true;
    }

    void CloseConnection(Connection& c)
    {
        services_.DetachChannel(c.channel->Id());
        ::close(c.fd);
    }

    void Reap()
    {
        for (auto it = connections_.begin(); it != connections_.end();) {
            if ((*it)->dead) {
                CloseConnection(**it);
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }

    Services services_;
    const ServerConfig& config_;
    const std::atomic<bool>& stop_;
    int wakeFd_;
    Services::Clock clock_;
    int listenFd_ = -1;
    uint32_t nextChannelId_;
    std::list<std::unique_ptr<Connection>> connections_;
};

} // namespace

void EnableKeepAlive(int fd)
{
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepAliveIdleS, sizeof kKeepAliveIdleS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepAliveIntervalS, sizeof kKeepAliveIntervalS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepAliveProbes, sizeof kKeepAliveProbes);
}

int RunServer(Model& model, const ServerConfig& config, const std::atomic<bool>& stop, int wakeFd,
              Services::Clock clock)
{
    Loop loop(model, config, stop, wakeFd, clock);
    loop.Run();
    return 0;
}

} // namespace tagserve
