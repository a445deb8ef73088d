// The web server against clients that misbehave on the wire: cut uploads,
// lengths that hide a second request, slow and silent connections, many
// connections from one address. Raw sockets on loopback; the server's
// deadlines run on a fake clock.

#include "daemon/httphandler.h"

#include "support/fake_clock.h"
#include "testkit/temp_dir.h"

#include <Poco/Base64Encoder.h>
#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/StreamCopier.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <latch>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <utility>
#include <vector>

namespace gw {
namespace {

namespace fs = std::filesystem;

constexpr const char* Password = "s3cret";
const std::string Cnf = "[UseWebServer]\nUseWebServer=1\n[pwd]\npwd=s3cret\n";
const std::string Cfg = "KP,Sever,10.0.0.1,2404\r\n";

std::string AuthLine()
{
    std::ostringstream out;
    Poco::Base64Encoder encoder(out);
    encoder << ":" << Password;
    encoder.close();
    return "Authorization: Basic " + out.str() + "\r\n";
}

// A "cnf.ini" of more than 8 KiB whose password comes last, as a cut after
// 8 KiB would lose it.
std::string LongCnf()
{
    std::string text = "[UseWebServer]\nUseWebServer=1\n";
    for (int i = 0; text.size() < 9000; ++i)
        text += "; comment line " + std::to_string(i) + "\n";
    return text + "[pwd]\npwd=s3cret\n";
}

std::string Chunked(std::string_view body)
{
    std::ostringstream out;
    out << std::hex << body.size() << "\r\n" << body << "\r\n";
    return out.str();
}

void SendQuietly(Poco::Net::StreamSocket& socket, const std::string& bytes)
{
    // The server may have closed the connection already; that is what some tests wait for.
    (void)::send(socket.impl()->sockfd(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

struct TReceived {
    std::string bytes;
    bool closed = false; // the server ended the connection (else the wait ran out)
};

TReceived ReadToEnd(Poco::Net::StreamSocket& socket, int timeoutMs = 10'000)
{
    socket.setReceiveTimeout(Poco::Timespan(0, timeoutMs * 1000));
    TReceived r;
    char buffer[4096];
    try {
        for (;;) {
            const int n = socket.receiveBytes(buffer, sizeof buffer);
            if (n <= 0) {
                r.closed = true;
                return r;
            }
            r.bytes.append(buffer, static_cast<std::size_t>(n));
        }
    } catch (const Poco::TimeoutException&) {
        return r;
    } catch (const Poco::Exception&) {
        r.closed = true; // reset
        return r;
    }
}

std::string StatusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

// One request on a client session (with the transfer password when asked),
// answered: its status and body.
std::pair<int, std::string> Exchange(Poco::Net::HTTPClientSession& session, const std::string& method,
                                     const std::string& uri, bool authorised = false, const std::string& body = "")
{
    Poco::Net::HTTPRequest request(method, uri, Poco::Net::HTTPMessage::HTTP_1_1);
    if (authorised)
        Poco::Net::HTTPBasicCredentials("opcstation", Password).authenticate(request);
    if (method == Poco::Net::HTTPRequest::HTTP_POST)
        request.setContentLength(static_cast<std::streamsize>(body.size()));
    session.sendRequest(request) << body;
    Poco::Net::HTTPResponse response;
    std::string received;
    Poco::StreamCopier::copyToString(session.receiveResponse(response), received);
    return {response.getStatus(), received};
}

// The client's part of the device's life through the web server: pages, the
// password probe, a download and an upload, each answered in turn.
void ExpectPagesAndTransfer(Poco::Net::HTTPClientSession& session, const fs::path& storedCfg)
{
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Exchange(session, "GET", "/css/style.css").first, 200);
    EXPECT_EQ(Exchange(session, "GET", "/test.cfg", true).first, 200);
    EXPECT_EQ(Exchange(session, "GET", "/cnf.ini", true), std::make_pair(200, Cnf));
    const std::string cfg = "KP,2,1,Yug,10.0.0.2\r\n";
    EXPECT_EQ(Exchange(session, "POST", "/iec104.cfg", true, cfg).first, 200);
    std::ifstream in(storedCfg, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), cfg);
}

std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class HttpGate : public ::testing::Test {
protected:
    static THttpLimits Limits()
    {
        THttpLimits limits;
        limits.HeadTimeoutMs = 10'000;
        limits.BodyTimeoutMs = 60'000;
        limits.IdleTimeoutMs = 5'000;
        limits.AnswerTimeoutMs = 60'000;
        limits.MaxPerAddress = 4;
        limits.MaxConnections = 256;
        limits.MaxWaiting = 200;
        return limits;
    }

    HttpGate()
    {
        fs::create_directories(root.File("svc/web/css"));
        root.Write("svc/iec104.cfg", Cfg);
        root.Write("svc/cnf.ini", Cnf);
        ::chmod(root.File("svc/cnf.ini").c_str(), 0644);
        root.Write("svc/web/css/style.css", "td {}");
        Restart(Limits());
    }

    void Restart(
        const THttpLimits& limits, TWebPages::TSnapshotSource snapshot = [] { return TWebSnapshot{}; })
    {
        server.reset();
        server = std::make_unique<TFieldgateWeb>(THttpSettings{root.File("svc/"), Password, 64 * 1024},
                                                 std::move(snapshot), reconfigure, "127.0.0.1", 0, limits, clock);
    }

    // A connection from the given loopback address.
    Poco::Net::StreamSocket Connect(const std::string& from = "127.0.0.1") const
    {
        Poco::Net::StreamSocket socket(Poco::Net::SocketAddress::IPv4);
        socket.impl()->bind(Poco::Net::SocketAddress(from, 0));
        socket.connect(Poco::Net::SocketAddress("127.0.0.1", server->Port()));
        return socket;
    }

    // A connection from the given address whose client takes its answer
    // through a narrow window: the system cannot take the answer off the
    // server's hands instead.
    Poco::Net::StreamSocket ConnectNarrow(const std::string& from) const
    {
        Poco::Net::StreamSocket socket(Poco::Net::SocketAddress::IPv4);
        socket.impl()->bind(Poco::Net::SocketAddress(from, 0));
        socket.setReceiveBufferSize(4096);
        socket.connect(Poco::Net::SocketAddress("127.0.0.1", server->Port()));
        return socket;
    }

    // A file of size bytes to be served as /big.png, by a server that holds
    // answers not yet taken of heldAnswerBytes at most; the file's bytes.
    std::string ServeBigFile(std::size_t size, std::size_t heldAnswerBytes)
    {
        std::string big(size, 'x');
        root.Write("svc/web/big.png", big);
        THttpLimits limits = Limits();
        limits.MaxHeldAnswerBytes = heldAnswerBytes;
        Restart(limits);
        return big;
    }

    // A page on a new connection of its own, answered. The server reads all
    // connections on one thread in turn, so whatever was sent or closed
    // before has been seen when this answer comes.
    std::string Barrier() const
    {
        Poco::Net::StreamSocket socket = Connect("127.0.0.99");
        SendQuietly(socket, "GET /css/style.css HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        return StatusLine(ReadToEnd(socket).bytes);
    }

    // Byte for byte; a failure names the file rather than printing it.
    void ExpectFilesUntouched() const
    {
        EXPECT_TRUE(root.Read("svc/cnf.ini") == Cnf) << "cnf.ini was changed";
        EXPECT_TRUE(root.Read("svc/iec104.cfg") == Cfg) << "iec104.cfg was changed";
        EXPECT_FALSE(reconfigure.Get());
    }

    test::TempDir root;
    test::FakeClock clock;
    TShared<bool> reconfigure;
    std::unique_ptr<TFieldgateWeb> server;
};

TEST_F(HttpGate, UploadCutShortIsNotStored)
{
    const std::string cnf = LongCnf();
    const std::string head = "POST /cnf.ini HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + AuthLine();
    const std::string byLength =
        head + "Content-Length: " + std::to_string(cnf.size()) + "\r\n\r\n" + cnf.substr(0, 8192);
    const std::string byChunks = head + "Transfer-Encoding: chunked\r\n\r\n" + Chunked(cnf.substr(0, 8192))
                                 + Chunked(cnf.substr(8192)); // the zero chunk never comes
    struct Case {
        const char* what;
        const std::string& bytes;
        bool stall; // else the client closes its sending side
        const char* status;
    } cases[] = {
        {"length, closed", byLength, false, "HTTP/1.1 400 Bad Request"},
        {"length, stalled", byLength, true, "HTTP/1.1 408 Request Time-out"},
        {"chunks, closed", byChunks, false, "HTTP/1.1 400 Bad Request"},
        {"chunks, stalled", byChunks, true, "HTTP/1.1 408 Request Time-out"},
    };
    for (const auto& c : cases) {
        Poco::Net::StreamSocket client = Connect();
        SendQuietly(client, c.bytes);
        if (c.stall) {
            ASSERT_EQ(Barrier(), "HTTP/1.1 200 OK");
            clock.Advance(Limits().BodyTimeoutMs);
        } else {
            client.shutdownSend();
        }
        const TReceived answer = ReadToEnd(client);
        EXPECT_EQ(StatusLine(answer.bytes), c.status) << c.what;
        EXPECT_TRUE(answer.closed) << c.what;
        ExpectFilesUntouched();
    }
    // The whole file is taken.
    Poco::Net::StreamSocket client = Connect();
    SendQuietly(client, byChunks + "0\r\n\r\n");
    EXPECT_EQ(StatusLine(ReadToEnd(client).bytes), "HTTP/1.1 200 OK");
    EXPECT_TRUE(root.Read("svc/cnf.ini") == cnf);
}

// The bytes after a length that does not parse are not a request: they are
// never answered, and the connection ends after the refusal.
TEST_F(HttpGate, FramingThatDoesNotParseEndsTheConnection)
{
    const std::string hidden = "GET /iec104.cfg HTTP/1.1\r\nHost: x\r\n" + AuthLine() + "\r\n";
    const std::string post = "POST /cnf.ini HTTP/1.1\r\nHost: x\r\n";
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"negative length", post + "Content-Length: -" + std::to_string(hidden.size()) + "\r\n\r\n" + hidden},
        {"length with a sign", post + "Content-Length: +4\r\n\r\nabcd" + hidden},
        {"two lengths", post + "Content-Length: 0\r\nContent-Length: 4\r\n\r\nabcd" + hidden},
        {"length beside chunks", post + "Content-Length: 4\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + hidden},
        {"bad chunk size", post + "Transfer-Encoding: chunked\r\n\r\nzz\r\n" + hidden},
        {"chunk size with junk", post + "Transfer-Encoding: chunked\r\n\r\n0 x\r\n\r\n" + hidden},
    };
    for (const auto& c : cases) {
        Poco::Net::StreamSocket client = Connect();
        SendQuietly(client, c.bytes);
        const TReceived answer = ReadToEnd(client);
        EXPECT_EQ(StatusLine(answer.bytes), "HTTP/1.1 400 Bad Request") << c.what;
        EXPECT_EQ(Count(answer.bytes, "HTTP/1.1 "), 1u) << c.what << ": " << answer.bytes;
        EXPECT_EQ(answer.bytes.find(Cfg), std::string::npos) << c.what;
        EXPECT_TRUE(answer.closed) << c.what;
        ExpectFilesUntouched();
    }
}

// The head has one deadline for all of it: a byte now and then does not
// keep a connection.
TEST_F(HttpGate, SlowOrSilentHeadIsCutOff)
{
    Poco::Net::StreamSocket slow = Connect();
    Poco::Net::StreamSocket silent = Connect();
    SendQuietly(slow, "GET /css/style.css HTTP/1.1\r\n");
    ASSERT_EQ(Barrier(), "HTTP/1.1 200 OK");
    for (int i = 0; i < 4; ++i) {
        clock.Advance(Limits().HeadTimeoutMs / 3);
        SendQuietly(slow, "X-Slow: " + std::to_string(i) + "\r\n");
    }
    for (auto* client : {&slow, &silent}) {
        const TReceived answer = ReadToEnd(*client);
        EXPECT_EQ(StatusLine(answer.bytes), "HTTP/1.1 408 Request Time-out");
        EXPECT_TRUE(answer.closed);
    }
}

TEST_F(HttpGate, IdleKeptAliveConnectionIsClosed)
{
    Poco::Net::StreamSocket client = Connect();
    SendQuietly(client, "GET /css/style.css HTTP/1.1\r\nHost: x\r\n\r\n");
    const TReceived page = ReadToEnd(client, 200);
    ASSERT_EQ(StatusLine(page.bytes), "HTTP/1.1 200 OK");
    ASSERT_FALSE(page.closed);
    // The connection goes back to waiting just after its answer; until the
    // server has it, the clock moves on without it.
    TReceived rest;
    for (int i = 0; i < 50 && !rest.closed; ++i) {
        clock.Advance(Limits().IdleTimeoutMs);
        rest = ReadToEnd(client, 100);
    }
    EXPECT_TRUE(rest.closed);
    EXPECT_EQ(rest.bytes, ""); // closed without a word: no request was begun
}

// Slow and silent clients, more of them than there are handler threads, hold
// no thread: a good client gets its pages and its upload.
TEST_F(HttpGate, SlowClientsLeaveTheServerToOthers)
{
    std::vector<Poco::Net::StreamSocket> slow;
    for (int i = 0; i < 48; ++i) {
        slow.push_back(Connect("127.0.1." + std::to_string(i + 1)));
        if (i % 3 == 0)
            SendQuietly(slow.back(), "GET /css/style.css HTTP/1.1\r\nX-Slow: ");
        else if (i % 3 == 1)
            SendQuietly(slow.back(), "POST /cnf.ini HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n[pwd]\n");
    }
    Poco::Net::HTTPClientSession session("127.0.0.1", server->Port());
    session.setTimeout(Poco::Timespan(5, 0));
    session.setKeepAlive(true);
    ExpectPagesAndTransfer(session, root.File("svc/iec104.cfg"));
}

// Whether the client has bytes of its answer to read, within a generous wait.
bool AwaitReadable(const Poco::Net::StreamSocket& socket)
{
    pollfd p{socket.impl()->sockfd(), POLLIN, 0};
    return ::poll(&p, 1, 30'000) == 1;
}

// The most of an answer the system may take off the server's hands: a send
// buffer grown to its largest, and a margin for the client's small window.
std::size_t SystemTakes()
{
    std::ifstream limits("/proc/sys/net/ipv4/tcp_wmem");
    std::size_t least = 0, start = 0, most = 4 * 1024 * 1024;
    limits >> least >> start >> most;
    return most + 1024 * 1024;
}

// Sixteen clients from one address, as many as the handler threads, ask for
// a large file and never read their answers: they hold their sockets, not
// the threads, and a good client still gets its pages and its transfer.
TEST_F(HttpGate, ClientsThatDoNotReadTheirAnswersHoldNoHandlerThread)
{
    // The shares of the real server, and memory to hold every answer: each
    // is larger than the system takes off the server's hands.
    const std::size_t size = 2 * SystemTakes();
    THttpLimits limits;
    limits.MaxHeldAnswerBytes = HttpHandlerThreads * (size + 1024); // each with its head
    Restart(limits);
    root.Write("svc/web/big.png", std::string(size, 'x'));
    std::vector<Poco::Net::StreamSocket> nonReaders;
    for (unsigned i = 0; i < HttpHandlerThreads; ++i) {
        Poco::Net::StreamSocket socket = ConnectNarrow("127.0.6.1");
        SendQuietly(socket, "GET /big.png HTTP/1.1\r\nHost: x\r\n\r\n");
        nonReaders.push_back(socket);
    }
    for (const auto& socket : nonReaders)
        ASSERT_TRUE(AwaitReadable(socket)) << "no answer was begun";

    Poco::Net::HTTPClientSession session("127.0.0.1", server->Port());
    session.setTimeout(Poco::Timespan(20, 0));
    session.setKeepAlive(true);
    ExpectPagesAndTransfer(session, root.File("svc/iec104.cfg"));
}

// The answer ended with its connection, its body whole.
void ExpectWhole(const TReceived& answer, const std::string& body)
{
    EXPECT_GT(answer.bytes.size(), body.size()) << "the answer was cut";
    EXPECT_TRUE(answer.bytes.ends_with(body)) << "the body differs";
    EXPECT_TRUE(answer.closed);
}

// Answers not yet taken hold a bounded memory: past it the oldest is cut,
// and the newest goes out whole.
TEST_F(HttpGate, AnswersNotTakenHoldBoundedMemory)
{
    // Each answer leaves more than three in four of its bytes to the server,
    // which holds one of them but not two.
    const std::size_t unit = SystemTakes();
    const std::string big = ServeBigFile(4 * unit, 5 * unit);
    std::vector<Poco::Net::StreamSocket> readers;
    for (const char* from : {"127.0.9.1", "127.0.9.2"}) {
        Poco::Net::StreamSocket socket = ConnectNarrow(from);
        SendQuietly(socket, "GET /big.png HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        ASSERT_TRUE(AwaitReadable(socket)) << from;
        readers.push_back(socket);
    }
    const TReceived older = ReadToEnd(readers[0]);
    EXPECT_EQ(StatusLine(older.bytes), "HTTP/1.1 200 OK");
    EXPECT_LT(older.bytes.size(), big.size()) << "the older answer was not cut";
    EXPECT_TRUE(older.closed);
    ExpectWhole(ReadToEnd(readers[1]), big);
}

// An answer holds its memory until it is all taken, however much of it its
// client has read: two answers of four units each, one half read, are more
// than a budget of seven, and the older is cut.
TEST_F(HttpGate, AnswerPartlyTakenStillCountsWhole)
{
    const std::size_t unit = SystemTakes();
    const std::string big = ServeBigFile(4 * unit, 7 * unit);
    std::vector<Poco::Net::StreamSocket> readers{ConnectNarrow("127.0.9.3"), ConnectNarrow("127.0.9.4")};
    SendQuietly(readers[0], "GET /big.png HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    // Half its answer taken: what is left of it, sent or not, is less than two units.
    std::string older;
    readers[0].setReceiveTimeout(Poco::Timespan(30, 0));
    std::vector<char> buffer(64 * 1024);
    while (older.size() < 2 * unit) {
        const int n = readers[0].receiveBytes(buffer.data(), static_cast<int>(buffer.size()));
        ASSERT_GT(n, 0) << "the answer ended after " << older.size() << " bytes";
        older.append(buffer.data(), static_cast<std::size_t>(n));
    }
    SendQuietly(readers[1], "GET /big.png HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(AwaitReadable(readers[1]));

    const TReceived rest = ReadToEnd(readers[0]);
    older += rest.bytes;
    EXPECT_EQ(StatusLine(older), "HTTP/1.1 200 OK");
    EXPECT_LT(older.size(), big.size()) << "the older answer was not cut";
    EXPECT_TRUE(rest.closed);
    ExpectWhole(ReadToEnd(readers[1]), big);
}

// Non-reading clients of one address that take the memory budget cut their
// own answers, not the older answer of a client elsewhere.
TEST_F(HttpGate, AnswersOverTheBudgetAreCutAtTheAddressHoldingMost)
{
    const std::size_t unit = SystemTakes();
    const std::string big = ServeBigFile(2 * unit, 7 * unit);
    const auto ask = [&](const char* from) {
        Poco::Net::StreamSocket socket = ConnectNarrow(from);
        SendQuietly(socket, "GET /big.png HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        EXPECT_TRUE(AwaitReadable(socket)) << from;
        return socket;
    };
    Poco::Net::StreamSocket elsewhere = ask("127.0.9.5");
    std::vector<Poco::Net::StreamSocket> crowd;
    for (int i = 0; i < 3; ++i)
        crowd.push_back(ask("127.0.9.6"));

    ExpectWhole(ReadToEnd(elsewhere), big);
    const TReceived cut = ReadToEnd(crowd.front());
    EXPECT_LT(cut.bytes.size(), big.size()) << "the oldest of the crowd was not cut";
    EXPECT_TRUE(cut.closed);
}

// A snapshot source that holds every page being made until released, as a
// page of many stations takes long to make. It releases them at the latest
// as it ends, also when an assertion ends the test early.
class THeldPages {
public:
    THeldPages() = default;
    THeldPages(const THeldPages&) = delete;
    THeldPages& operator=(const THeldPages&) = delete;
    ~THeldPages() { Release(); }

    TWebPages::TSnapshotSource Source()
    {
        return [this] {
            std::unique_lock lock(mutex_);
            ++making_;
            changed_.notify_all();
            changed_.wait(lock, [&] { return release_; });
            return TWebSnapshot{};
        };
    }
    // Whether count pages are being made, within a generous wait.
    bool AwaitMaking(unsigned count)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return making_ >= count; });
    }
    void Release()
    {
        std::lock_guard lock(mutex_);
        release_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    unsigned making_ = 0;
    bool release_ = false;
};

// Requests of one address whose answers take long to make (a page of many
// stations) keep half the handler threads at most: another address is
// answered meanwhile, and the held ones are answered after.
TEST_F(HttpGate, OneAddressNeverHoldsEveryHandlerThread)
{
    THeldPages held;
    THttpLimits limits = Limits();
    limits.MaxPerAddress = 2 * HttpHandlerThreads;
    Restart(limits, held.Source());

    std::vector<Poco::Net::StreamSocket> pages;
    for (unsigned i = 0; i < HttpHandlerThreads; ++i) {
        pages.push_back(Connect("127.0.7.1"));
        SendQuietly(pages.back(), "GET /titek.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    }
    ASSERT_TRUE(held.AwaitMaking(static_cast<unsigned>(limits.MaxBusyPerAddress)));
    Poco::Net::StreamSocket other = Connect("127.0.7.2");
    SendQuietly(other, "GET /css/style.css HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(StatusLine(ReadToEnd(other, 30'000).bytes), "HTTP/1.1 200 OK");

    held.Release();
    for (auto& page : pages)
        EXPECT_EQ(StatusLine(ReadToEnd(page).bytes), "HTTP/1.1 200 OK");
}

// One answer with its Content-Length body, the connection left open.
std::string ReadOneAnswer(Poco::Net::StreamSocket& socket)
{
    socket.setReceiveTimeout(Poco::Timespan(10, 0));
    std::string answer;
    char buffer[4096];
    for (;;) {
        const auto headEnd = answer.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            const auto at = answer.find("Content-Length: ");
            const std::size_t length = at == std::string::npos ? 0 : std::stoul(answer.substr(at + 16));
            if (answer.size() >= headEnd + 4 + length)
                return answer;
        }
        const int n = socket.receiveBytes(buffer, sizeof buffer);
        if (n <= 0)
            return answer;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
}

// Many clients at once, each opening a connection for its request and
// keeping it open, as browsers do: every one gets its answer, though none of
// them closes; from many addresses, and from one (a host with parallel
// clients, or a NAT), whose connections past its share wait their turn.
TEST_F(HttpGate, BurstOfClientsIsAnsweredWhole)
{
    constexpr int Clients = 200;
    for (const bool oneAddress : {false, true}) {
        SCOPED_TRACE(oneAddress ? "one address" : "many addresses");
        std::latch start(Clients);
        std::latch done(Clients);
        std::atomic<int> answered{0};
        std::vector<std::thread> clients;
        for (int i = 0; i < Clients; ++i) {
            const int group = oneAddress ? 0 : i / static_cast<int>(Limits().MaxPerAddress);
            const std::string from = "127.0." + std::string(oneAddress ? "8" : "4") + "." + std::to_string(group + 1);
            clients.emplace_back([&, from] {
                start.arrive_and_wait();
                try {
                    Poco::Net::StreamSocket socket = Connect(from);
                    SendQuietly(socket, "GET /css/style.css HTTP/1.1\r\nHost: x\r\n\r\n");
                    if (StatusLine(ReadOneAnswer(socket)) == "HTTP/1.1 200 OK")
                        ++answered;
                    done.arrive_and_wait();
                } catch (const std::exception&) {
                    done.count_down(); // counted as not answered
                }
            });
        }
        for (auto& client : clients)
            client.join();
        EXPECT_EQ(answered.load(), Clients);
    }
}

// A client that takes its answer slowly from a narrow window: a small
// receive buffer and small segments, so the server's send buffer stays small
// too and its writing lasts as long as this reader takes. Reads a little at
// a time, often enough that every single send makes progress, until told to
// drain; then reads the rest at once.
class TSlowReader {
public:
    TSlowReader(Poco::Net::StreamSocket socket, std::latch& begun)
        : socket_(std::move(socket)), thread_([this, &begun] { Read(begun); })
    {
    }
    ~TSlowReader() { Drain(); }
    TSlowReader(const TSlowReader&) = delete;
    TSlowReader& operator=(const TSlowReader&) = delete;

    static void Narrow(Poco::Net::StreamSocket& socket)
    {
        socket.setReceiveBufferSize(4096);
        socket.setOption(IPPROTO_TCP, TCP_MAXSEG, 536);
    }

    // Reads the rest and ends with the connection (or the wait).
    void Drain()
    {
        drain_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    // After Drain.
    const TReceived& Received() const { return received_; }

private:
    void Read(std::latch& begun)
    {
        socket_.setReceiveTimeout(Poco::Timespan(30, 0));
        bool counted = false;
        std::vector<char> buffer(64 * 1024);
        try {
            for (;;) {
                const int want = drain_ ? static_cast<int>(buffer.size()) : 512;
                const int n = socket_.receiveBytes(buffer.data(), want);
                if (n <= 0) {
                    received_.closed = true;
                    break;
                }
                received_.bytes.append(buffer.data(), static_cast<std::size_t>(n));
                if (!std::exchange(counted, true))
                    begun.count_down();
                if (!drain_)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // the client's own pace
            }
        } catch (const Poco::TimeoutException&) {
        } catch (const Poco::Exception&) {
            received_.closed = true; // reset
        }
        if (!counted)
            begun.count_down();
    }

    Poco::Net::StreamSocket socket_;
    std::atomic<bool> drain_{false};
    TReceived received_;
    std::thread thread_;
};

// Slow readers of large answers, as many as the handler threads: each answer
// ends at its deadline, cut and its connection closed, and others are
// answered after.
TEST_F(HttpGate, SlowReadersDoNotKeepTheHandlerThreads)
{
    const std::string big(2 * 1024 * 1024, 'x'); // at the readers' pace, minutes of writing
    root.Write("svc/web/big.png", big);
    std::latch begun(HttpHandlerThreads);
    std::vector<std::unique_ptr<TSlowReader>> readers;
    for (unsigned i = 0; i < HttpHandlerThreads; ++i) {
        Poco::Net::StreamSocket socket(Poco::Net::SocketAddress::IPv4);
        socket.impl()->bind(Poco::Net::SocketAddress("127.0.5." + std::to_string(i / Limits().MaxPerAddress + 1), 0));
        TSlowReader::Narrow(socket);
        socket.connect(Poco::Net::SocketAddress("127.0.0.1", server->Port()));
        SendQuietly(socket, "GET /big.png HTTP/1.1\r\nHost: x\r\n\r\n");
        readers.push_back(std::make_unique<TSlowReader>(socket, begun));
    }
    begun.wait(); // every handler thread is writing its answer
    clock.Advance(Limits().AnswerTimeoutMs);

    Poco::Net::StreamSocket other = Connect();
    SendQuietly(other, "GET /css/style.css HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const TReceived page = ReadToEnd(other, 30'000);
    EXPECT_EQ(StatusLine(page.bytes), "HTTP/1.1 200 OK");
    EXPECT_TRUE(page.closed);

    for (auto& reader : readers) {
        reader->Drain();
        const TReceived& answer = reader->Received();
        EXPECT_EQ(StatusLine(answer.bytes), "HTTP/1.1 200 OK");
        EXPECT_LT(answer.bytes.size(), big.size()) << "the answer was not cut";
        EXPECT_TRUE(answer.closed);
    }
}

// A stop does not wait out the deadline of an answer its client is slow to
// take: the answer is cut, the stop ends, the client sees the end.
TEST_F(HttpGate, StopCutsAnAnswerWaitingForItsClient)
{
    root.Write("svc/web/big.png", std::string(2 * 1024 * 1024, 'x'));
    std::latch begun(1);
    Poco::Net::StreamSocket socket(Poco::Net::SocketAddress::IPv4);
    TSlowReader::Narrow(socket);
    socket.connect(Poco::Net::SocketAddress("127.0.0.1", server->Port()));
    SendQuietly(socket, "GET /big.png HTTP/1.1\r\nHost: x\r\n\r\n");
    TSlowReader reader(socket, begun);
    begun.wait(); // its answer is being written

    auto stopped = std::async(std::launch::async, [this] { server->Stop(); });
    const bool inTime = stopped.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    EXPECT_TRUE(inTime) << "the stop waits for the slow client";
    if (!inTime)
        clock.Advance(Limits().AnswerTimeoutMs); // lets the stop end, so the test does
    stopped.get();
    reader.Drain();
    EXPECT_EQ(StatusLine(reader.Received().bytes), "HTTP/1.1 200 OK");
    EXPECT_TRUE(reader.Received().closed);
}

// A stop that begins while an answer is being made (the upload of "cnf.ini"
// asks for one just then) waits for that answer and sends it: the client
// learns how its request ended.
TEST_F(HttpGate, StopSendsTheAnswerBeingMade)
{
    THeldPages held;
    Restart(Limits(), held.Source());

    Poco::Net::StreamSocket page = Connect();
    SendQuietly(page, "GET /titek.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(held.AwaitMaking(1));
    auto stopped = std::async(std::launch::async, [this] { server->Stop(); });
    // The stop is under way once a new request is no longer answered.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool served = true;
    while (served && std::chrono::steady_clock::now() < until) {
        try {
            Poco::Net::StreamSocket probe = Connect("127.0.0.98");
            SendQuietly(probe, "GET /css/style.css HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
            served = StatusLine(ReadToEnd(probe).bytes) == "HTTP/1.1 200 OK";
        } catch (const Poco::Exception&) {
            served = false; // no longer listening
        }
    }
    ASSERT_FALSE(served) << "the stop did not begin";
    held.Release();
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    const TReceived answer = ReadToEnd(page);
    EXPECT_EQ(StatusLine(answer.bytes), "HTTP/1.1 200 OK");
    EXPECT_TRUE(answer.closed);
}

// Connections of one address past its share wait their turn: they take the
// place of one that ends, or of one idle between requests, which is closed
// for them. Only when the waiting room is full is a connection refused,
// with the time to wait before trying again.
TEST_F(HttpGate, ConnectionsPastTheShareOfTheirAddressWaitTheirTurn)
{
    const std::string page = "GET /css/style.css HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    std::vector<Poco::Net::StreamSocket> silent;
    for (std::size_t i = 0; i < Limits().MaxPerAddress; ++i)
        silent.push_back(Connect("127.0.2.1"));
    Poco::Net::StreamSocket waiting = Connect("127.0.2.1");
    SendQuietly(waiting, page);
    Poco::Net::StreamSocket other = Connect("127.0.2.2");
    SendQuietly(other, page);
    EXPECT_EQ(StatusLine(ReadToEnd(other).bytes), "HTTP/1.1 200 OK");
    silent.front().close(); // its place goes to the one waiting
    EXPECT_EQ(StatusLine(ReadToEnd(waiting).bytes), "HTTP/1.1 200 OK");

    // Kept-alive connections between requests make room.
    std::vector<Poco::Net::StreamSocket> idle;
    for (std::size_t i = 0; i < Limits().MaxPerAddress; ++i) {
        idle.push_back(Connect("127.0.2.3"));
        SendQuietly(idle.back(), "GET /css/style.css HTTP/1.1\r\nHost: x\r\n\r\n");
        ASSERT_EQ(StatusLine(ReadOneAnswer(idle.back())), "HTTP/1.1 200 OK");
    }
    Poco::Net::StreamSocket newcomer = Connect("127.0.2.3");
    SendQuietly(newcomer, page);
    EXPECT_EQ(StatusLine(ReadToEnd(newcomer).bytes), "HTTP/1.1 200 OK");
    std::vector<pollfd> fds;
    for (const auto& socket : idle)
        fds.push_back({socket.impl()->sockfd(), POLLIN, 0});
    ASSERT_GE(::poll(fds.data(), fds.size(), 30'000), 1) << "no idle connection was closed";

    // The first address's share is still taken (three silent, one closing):
    // its next connections fill the waiting room, and the one after is refused.
    std::vector<Poco::Net::StreamSocket> crowd;
    for (std::size_t i = 0; i < Limits().MaxWaiting; ++i)
        crowd.push_back(Connect("127.0.2.1"));
    Poco::Net::StreamSocket over = Connect("127.0.2.1");
    const TReceived refused = ReadToEnd(over);
    EXPECT_EQ(StatusLine(refused.bytes), "HTTP/1.1 503 Service Unavailable");
    EXPECT_NE(refused.bytes.find("\r\nRetry-After: 2\r\n"), std::string::npos) << refused.bytes;
    EXPECT_TRUE(refused.closed);
    // Another address has its own share.
    Poco::Net::StreamSocket beside = Connect("127.0.2.5");
    SendQuietly(beside, page);
    EXPECT_EQ(StatusLine(ReadToEnd(beside).bytes), "HTTP/1.1 200 OK");
}

// One address that fills the waiting room does not keep another out of it:
// the other's connection takes the place of the newest of the crowd, which
// is refused in its stead.
TEST_F(HttpGate, OneAddressDoesNotFillTheWaitingRoomForOthers)
{
    std::vector<Poco::Net::StreamSocket> silent;
    for (const char* from : {"127.0.10.1", "127.0.10.2"})
        for (std::size_t i = 0; i < Limits().MaxPerAddress; ++i)
            silent.push_back(Connect(from));
    std::vector<Poco::Net::StreamSocket> crowd;
    for (std::size_t i = 0; i < Limits().MaxWaiting; ++i)
        crowd.push_back(Connect("127.0.10.1"));
    ASSERT_EQ(Barrier(), "HTTP/1.1 200 OK");

    Poco::Net::StreamSocket waiting = Connect("127.0.10.2");
    SendQuietly(waiting, "GET /css/style.css HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const TReceived refused = ReadToEnd(crowd.back());
    EXPECT_EQ(StatusLine(refused.bytes), "HTTP/1.1 503 Service Unavailable");
    EXPECT_NE(refused.bytes.find("\r\nRetry-After: 2\r\n"), std::string::npos) << refused.bytes;
    silent.back().close(); // a place of the second address
    EXPECT_EQ(StatusLine(ReadToEnd(waiting).bytes), "HTTP/1.1 200 OK");
}

// A crowd of silent connections from many addresses, as many as the server
// holds, does not lock a newcomer out: the longest waiting makes room.
TEST_F(HttpGate, NewcomerTakesThePlaceOfTheLongestWaiting)
{
    std::vector<Poco::Net::StreamSocket> crowd;
    for (std::size_t i = 0; i < Limits().MaxConnections; ++i)
        crowd.push_back(Connect("127.0.3." + std::to_string(i / Limits().MaxPerAddress + 1)));
    Poco::Net::StreamSocket newcomer = Connect();
    SendQuietly(newcomer, "GET /css/style.css HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(StatusLine(ReadToEnd(newcomer).bytes), "HTTP/1.1 200 OK");
    const TReceived first = ReadToEnd(crowd.front());
    EXPECT_EQ(StatusLine(first.bytes), "HTTP/1.1 503 Service Unavailable");
    EXPECT_TRUE(first.closed);
}

TEST_F(HttpGate, ErrorAnswersCarryTheirOwnReasonPhrase)
{
    const std::string auth = AuthLine();
    struct Case {
        std::string request;
        const char* status;
    } cases[] = {
        {"GET /missing.html HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 404 Not Found"},
        {"BREW /titek.php HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 405 Method Not Allowed"},
        {"POST /../x_cnf.ini HTTP/1.1\r\nHost: x\r\n" + auth + "Content-Length: 1\r\n\r\nx", "HTTP/1.1 403 Forbidden"},
        {"GET /cnf.ini HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 401 Unauthorized"},
        {"GET /missing_cnf.ini HTTP/1.1\r\nHost: x\r\n" + auth + "\r\n", "HTTP/1.1 500 Internal Server Error"},
        {"GET /%zz HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"POST /cnf.ini HTTP/1.1\r\nHost: x\r\n" + auth + "Content-Length: 100000000\r\n\r\n",
         "HTTP/1.1 413 Request Entity Too Large"},
        // The protocol's own answers.
        {"GET /css/style.css HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"GET /css/style.css HTTP/1.1\r\nHost: x\r\nHost: y\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"GET /css/style.css HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK"},
        {"GET /css/style.css HTTP/2.0\r\nHost: x\r\n\r\n", "HTTP/1.1 505 HTTP Version Not Supported"},
        {"GET /css/style.css HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(9000, 'a') + "\r\n\r\n",
         "HTTP/1.1 431 Request Header Fields Too Large"},
        {"GET /css/style.css HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(20000, 'a') + "\r\n\r\n",
         "HTTP/1.1 431 Request Header Fields Too Large"},
    };
    for (const auto& c : cases) {
        std::string request = c.request;
        request.insert(request.find("\r\n") + 2, "Connection: close\r\n");
        Poco::Net::StreamSocket client = Connect();
        SendQuietly(client, request);
        const TReceived answer = ReadToEnd(client);
        EXPECT_EQ(StatusLine(answer.bytes), c.status) << c.request;
        EXPECT_TRUE(answer.closed) << c.request;
    }
}

// The password of "cnf.ini" is in clear text: the stored file is the
// owner's alone, whatever mode the one it replaces had.
TEST_F(HttpGate, StoredCnfIniIsPrivate)
{
    Poco::Net::StreamSocket client = Connect();
    const std::string cnf = "[pwd]\npwd=next\n";
    SendQuietly(client, "POST /cnf.ini HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + AuthLine()
                            + "Content-Length: " + std::to_string(cnf.size()) + "\r\n\r\n" + cnf);
    EXPECT_EQ(StatusLine(ReadToEnd(client, 2000).bytes), "HTTP/1.1 200 OK");
    struct stat st {};
    ASSERT_EQ(::stat(root.File("svc/cnf.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(root.Read("svc/cnf.ini"), cnf);
}

} // namespace
} // namespace gw
