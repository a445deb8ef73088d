// The web server under slow clients: pages answered per second for one
// well-behaved client while 100 others, each from its own address, hold a
// connection open and send their request head one byte a second; and while
// 16 others, all from one address, have each asked for a large file and
// never read their answer.

#include "daemon/httphandler.h"
#include "testkit/temp_dir.h"

#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/StreamCopier.h>
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace gw;

constexpr int SlowClients = 100;
constexpr int NonReaders = 16;
constexpr std::size_t LargeFileBytes = 4 * 1024 * 1024;

// The slow clients: connected, the start of a request sent, then one more
// byte of a header that never ends each second until the end.
class TSlowClients {
public:
    explicit TSlowClients(std::uint16_t port)
    {
        for (int i = 0; i < SlowClients; ++i) {
            auto socket = std::make_unique<Poco::Net::StreamSocket>(Poco::Net::SocketAddress::IPv4);
            socket->impl()->bind(Poco::Net::SocketAddress("127.0.1." + std::to_string(i + 1), 0));
            socket->connect(Poco::Net::SocketAddress("127.0.0.1", port));
            const std::string start = "GET /css/style.css HTTP/1.1\r\nX-Slow: ";
            socket->sendBytes(start.data(), static_cast<int>(start.size()));
            sockets_.push_back(std::move(socket));
        }
        feeder_ = std::thread([this] { Feed(); });
    }
    ~TSlowClients()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        feeder_.join();
    }

private:
    void Feed()
    {
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; })) {
            for (auto& socket : sockets_) {
                try {
                    socket->sendBytes("a", 1);
                } catch (const Poco::Exception&) {
                    // a server that dropped the connection is what it should do
                }
            }
        }
    }

    std::vector<std::unique_ptr<Poco::Net::StreamSocket>> sockets_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread feeder_;
};

// One page on the good client's connection; false when no answer came in
// two seconds (the session then starts over on a new connection).
bool FetchPage(Poco::Net::HTTPClientSession& session)
{
    try {
        Poco::Net::HTTPRequest request("GET", "/css/style.css", Poco::Net::HTTPMessage::HTTP_1_1);
        session.sendRequest(request);
        Poco::Net::HTTPResponse response;
        std::string body;
        Poco::StreamCopier::copyToString(session.receiveResponse(response), body);
        return response.getStatus() == Poco::Net::HTTPResponse::HTTP_OK && body.find("td {}") == 0;
    } catch (const Poco::Exception&) {
        session.reset();
        return false;
    }
}

// Clients from one address, each of which asks for the large file on a
// connection with a small receive window and then reads nothing.
std::vector<std::unique_ptr<Poco::Net::StreamSocket>> StartNonReaders(std::uint16_t port)
{
    std::vector<std::unique_ptr<Poco::Net::StreamSocket>> sockets;
    for (int i = 0; i < NonReaders; ++i) {
        auto socket = std::make_unique<Poco::Net::StreamSocket>(Poco::Net::SocketAddress::IPv4);
        socket->impl()->bind(Poco::Net::SocketAddress("127.0.2.1", 0));
        socket->setReceiveBufferSize(4096);
        socket->connect(Poco::Net::SocketAddress("127.0.0.1", port));
        const std::string request = "GET /big.png HTTP/1.1\r\nHost: x\r\n\r\n";
        socket->sendBytes(request.data(), static_cast<int>(request.size()));
        sockets.push_back(std::move(socket));
    }
    return sockets;
}

// The good client's pages, as a rate, and those that got no answer in time.
void FetchPages(benchmark::State& state, std::uint16_t port)
{
    Poco::Net::HTTPClientSession session("127.0.0.1", port);
    session.setTimeout(Poco::Timespan(2, 0));
    session.setKeepAlive(true);
    std::int64_t answered = 0;
    for (auto _ : state) {
        if (FetchPage(session))
            ++answered;
    }
    state.counters["pages"] = benchmark::Counter(static_cast<double>(answered), benchmark::Counter::kIsRate);
    state.counters["unanswered"] = static_cast<double>(state.iterations() - answered);
}

struct TWebFolder {
    TWebFolder()
    {
        std::filesystem::create_directories(root.File("svc/web/css"));
        root.Write("svc/web/css/style.css", "td {}");
        root.Write("svc/web/big.png", std::string(LargeFileBytes, 'x'));
    }
    test::TempDir root;
    TShared<bool> reconfigure;
};

void BM_PagesWhileSlowClientsHoldConnections(benchmark::State& state)
{
    TWebFolder folder;
    TFieldgateWeb web(
        THttpSettings{folder.root.File("svc/"), "pw", 4096}, [] { return TWebSnapshot{}; }, folder.reconfigure,
        "127.0.0.1", 0);
    TSlowClients slow(web.Port());
    FetchPages(state, web.Port());
    web.Stop();
}
BENCHMARK(BM_PagesWhileSlowClientsHoldConnections)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(4.0);

void BM_PagesWhileNonReadersHoldLargeAnswers(benchmark::State& state)
{
    TWebFolder folder;
    TFieldgateWeb web(
        THttpSettings{folder.root.File("svc/"), "pw", 4096}, [] { return TWebSnapshot{}; }, folder.reconfigure,
        "127.0.0.1", 0);
    const auto nonReaders = StartNonReaders(web.Port());
    FetchPages(state, web.Port());
    web.Stop();
}
BENCHMARK(BM_PagesWhileNonReadersHoldLargeAnswers)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(4.0);

} // namespace
