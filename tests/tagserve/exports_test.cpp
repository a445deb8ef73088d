// The built libtagserve.so as the bridge uses it: loaded with dlopen, driven
// through its 13 entry points, and reached over real loopback sockets.
#include "testkit/resident_memory.h"
#include "testkit/tagserve/client_kit.h"
#include "testkit/tagserve/session_client.h"
#include "testkit/temp_dir.h"

#include "tagserve/binary.h"
#include "tagserve/ids.h"
#include "tagserve/model.h"
#include "tagserve/server.h"
#include "tagserve/tagserve.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace tagserve {
namespace {

class Library {
public:
    Library()
    {
        handle_ = dlopen(TAGSERVE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!handle_)
            throw std::runtime_error(dlerror());
        Bind("create_din_arrays", createDinArrays);
        Bind("add_new_group", addNewGroup);
        Bind("Add_new_perem", addNewPerem);
        Bind("UA_ServerNetworkLayerTCP_dll", serve);
        Bind("setrunning_bool", setRunning);
        Bind("getrunning_bool", getRunning);
        Bind("Set_new_val_to_perem", setValue);
        Bind("Set_new_quality_to_perem", setQuality);
        Bind("get_int32_valwrite_by_index", writtenInt);
        Bind("get_double_valwrite_by_index", writtenDouble);
        Bind("get_bool_valwrite_by_index", writtenBool);
        Bind("DLL_add", dllAdd);
        Bind("Add_All_perem_to_serv", addAll);
        Bind("set_write_status_callback", setWriteStatusCallback);
    }
    ~Library() { dlclose(handle_); }

    decltype(&create_din_arrays) createDinArrays;
    decltype(&add_new_group) addNewGroup;
    decltype(&Add_new_perem) addNewPerem;
    decltype(&UA_ServerNetworkLayerTCP_dll) serve;
    decltype(&setrunning_bool) setRunning;
    decltype(&getrunning_bool) getRunning;
    decltype(&Set_new_val_to_perem) setValue;
    decltype(&Set_new_quality_to_perem) setQuality;
    decltype(&get_int32_valwrite_by_index) writtenInt;
    decltype(&get_double_valwrite_by_index) writtenDouble;
    decltype(&get_bool_valwrite_by_index) writtenBool;
    decltype(&DLL_add) dllAdd;
    decltype(&Add_All_perem_to_serv) addAll;
    decltype(&set_write_status_callback) setWriteStatusCallback;

private:
    template <typename T>
    void Bind(const char* name, T& fn)
    {
        fn = reinterpret_cast<T>(dlsym(handle_, name));
        if (!fn)
            throw std::runtime_error(std::string("missing ") + name);
    }
    void* handle_;
};

using test::FreePort;

// Only a server that hangs takes this long: a slow machine (a sanitizer, an
// emulator, a crowded build host) does not.
constexpr auto kPatience = std::chrono::seconds(60);

// A loopback connection that sends bytes and reads what comes back until
// the server closes or nothing arrives for a while.
class Client {
public:
    explicit Client(int port)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<uint16_t>(port));
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
                return;
            ::close(fd_);
            fd_ = -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20)); // the server thread is still binding
        }
    }
    ~Client()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    // False once the connection is gone.
    bool Send(const std::string& bytes)
    {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    bool Connected() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // Reads until `want` bytes arrived or the peer closed; the time-out ends
    // only a test whose server neither answers nor closes.
    std::string Receive(size_t want, bool* closed = nullptr)
    {
        std::string got;
        if (closed)
            *closed = false;
        while (got.size() < want) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) <= 0)
                break;
            char buf[4096];
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                if (closed)
                    *closed = true;
                break;
            }
            got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }

private:
    int fd_ = -1;
};

std::string Hello() { return test::HelloChunk("opc.tcp://127.0.0.1:1"); }

// Standard error into a file while it lives, so that a test can wait for a
// line the library reports there.
class StderrFile {
public:
    StderrFile() : path_(dir_.File("stderr")), saved_(::dup(STDERR_FILENO))
    {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StderrFile()
    {
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    StderrFile(const StderrFile&) = delete;
    StderrFile& operator=(const StderrFile&) = delete;

    bool WaitFor(const std::string& text) const
    {
        const auto limit = std::chrono::steady_clock::now() + kPatience;
        while (dir_.Read("stderr").find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > limit)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

private:
    gw::test::TempDir dir_;
    std::string path_;
    int saved_;
};

// A fresh connection that has been answered with ACK; a connection refused
// with ERR (the server has not yet noticed a close) is tried again.
bool Acknowledged(int port)
{
    const auto limit = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < limit) {
        Client c(port);
        c.Send(Hello());
        if (c.Receive(28).substr(0, 4) == "ACKF")
            return true;
    }
    return false;
}

uint32_t ErrStatus(const std::string& chunk)
{
    if (chunk.size() < 12 || chunk.compare(0, 4, "ERRF") != 0)
        return 0;
    Reader r(chunk.data() + 8, 4);
    return r.UInt32();
}

void Build(Library& lib)
{
    ASSERT_EQ(lib.createDinArrays(4, 1), 0);
    ASSERT_EQ(lib.addNewGroup(9, 80001, "Station_1"), 0);
    ASSERT_EQ(lib.addNewPerem(9, 1, 0, 80001, 1, 0, "Connected"), 0);
    ASSERT_EQ(lib.addNewPerem(2, 2, 5, 80001, 1, 1, "p2"), 0);
    ASSERT_EQ(lib.addNewPerem(2, 3, 10, 80001, 1, 0, "m3"), 0);
}

// The blocking serve call on a thread of its own. Unless told that its port is
// taken (listening = false), it waits for the server to listen there, so that
// no client of the test reaches another program that took the port meanwhile.
struct Running {
    Library& lib;
    int port;
    std::thread thread;
    int32_t result = -99;

    Running(Library& l, int p, int32_t byPassword = 0, const char* credentials = "", int32_t ulen = 0, int32_t plen = 0,
            bool listening = true, tagserve_write_callback callback = nullptr)
        : lib(l), port(p)
    {
        thread = std::thread([=, this] { result = lib.serve(port, byPassword, ulen, plen, callback, credentials); });
        if (listening && !test::AwaitListening(port, kPatience))
            ADD_FAILURE() << "the server does not listen on port " << port << " (taken by another program?)";
    }
    // Stops the server and returns how long the blocking call took to return.
    std::chrono::milliseconds Stop()
    {
        auto start = std::chrono::steady_clock::now();
        lib.setRunning(0);
        thread.join();
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    }
    ~Running()
    {
        if (thread.joinable())
            Stop();
    }
};

TEST(Exports, ReturnCodesOfTheBuildAndPushCalls)
{
    Library lib;
    EXPECT_EQ(lib.dllAdd(), 0);
    EXPECT_EQ(lib.addAll(), 0);
    Build(lib);
    EXPECT_EQ(lib.addNewGroup(3, 80001, "dup"), -1);
    EXPECT_EQ(lib.addNewPerem(1, 9, 7, 80001, 1, 0, "x"), -1);     // unknown type code
    EXPECT_EQ(lib.addNewPerem(1, 9, 0, 80099, 1, 0, "x"), -1);     // unknown group
    EXPECT_EQ(lib.addNewPerem(1, 2, 0, 80001, 1, 0, "x"), -1);     // duplicate id
    EXPECT_EQ(lib.addNewPerem(1, 80001, 0, 80001, 1, 0, "x"), -1); // the id of a group
    EXPECT_EQ(lib.addNewPerem(1, 9, 0, 80001, 2, 0, "x"), 0);      // other namespace: taken as 1
    EXPECT_EQ(lib.setValue(5, 2, 7, 0, 0, 1, 1), 0);
    EXPECT_EQ(lib.setValue(5, 77, 7, 0, 0, 1, 1), -1);
    EXPECT_EQ(lib.setQuality(2, 0x80000000u, 1, 1), 0);
    EXPECT_EQ(lib.setQuality(77, 0, 1, 1), -1);
    EXPECT_EQ(lib.writtenInt(2), 0); // never written
    EXPECT_EQ(lib.writtenDouble(77), 0.0);
    EXPECT_EQ(lib.writtenBool(77), 0);
    EXPECT_EQ(lib.getRunning(), 0);
    // A reset forgets everything.
    EXPECT_EQ(lib.createDinArrays(1, 1), 0);
    EXPECT_EQ(lib.setValue(5, 2, 7, 0, 0, 1, 1), -1);
    EXPECT_EQ(lib.addNewGroup(9, 80001, "Station_1"), 0);
}

TEST(Exports, PushesTakeTheDeclaredType)
{
    Model m;
    m.AddGroup(1, "g");
    m.AddVariable(10, 0, 1, false, "b");
    m.AddVariable(11, 5, 1, false, "i");
    m.AddVariable(12, 10, 1, false, "d");
    struct Case {
        int32_t type, id, ival;
        double dval;
        int32_t i32;
        double dbl;
    };
    const Case cases[] = {
        {5, 10, 5, 0, 1, 0},     {10, 10, 0, 0.5, 1, 0},           {10, 10, 0, 0.0, 0, 0},
        {10, 11, 0, 2.9, 2, 0},  {10, 11, 0, -3e12, INT32_MIN, 0}, {0, 11, 1, 0, 1, 0},
        {5, 12, -4, 0, 0, -4.0}, {0, 12, 1, 9.0, 0, 1.0},          {10, 12, 0, 2.25, 0, 2.25},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(m.SetValue(c.type, c.id, c.ival, c.dval, 0, 1, 2), 0);
        VariableValue v = m.Snapshot(static_cast<uint32_t>(m.IndexOf(c.id)));
        EXPECT_EQ(v.i32, c.i32) << c.type << " " << c.id;
        EXPECT_EQ(v.dbl, c.dbl) << c.type << " " << c.id;
        EXPECT_EQ(v.status, 0u);
        EXPECT_EQ(v.serverTime, 2);
    }
}

// The gateway numbers its variables 1, 2, 3, ...; a caller may use any id:
// negative, huge and small ones are found, refused twice and pushed alike,
// and a write's slots belong to that variable alone.
TEST(Exports, AnyVariableIdIsFoundAndRefusedTwiceAlike)
{
    Model m;
    ASSERT_EQ(m.AddGroup(INT32_MAX, "g"), 0);
    const int32_t ids[] = {1, 0, -7, 1 << 20, (1 << 20) - 1, INT32_MAX - 1, INT32_MIN};
    for (int32_t id : ids)
        ASSERT_EQ(m.AddVariable(id, 5, INT32_MAX, true, "v"), 0) << id;
    for (int32_t id : ids) {
        EXPECT_EQ(m.AddVariable(id, 5, INT32_MAX, true, "again"), -1) << id;
        EXPECT_EQ(m.AddGroup(id, "group"), -1) << id;
        ASSERT_EQ(m.SetValue(5, id, id / 2, 0, 0, 1, 2), 0) << id;
        const int32_t index = m.IndexOf(id);
        ASSERT_GE(index, 0) << id;
        EXPECT_EQ(m.Variables()[static_cast<size_t>(index)].id, id);
        EXPECT_EQ(m.Snapshot(static_cast<uint32_t>(index)).i32, id / 2) << id;
    }
    EXPECT_EQ(m.AddVariable(INT32_MAX, 5, INT32_MAX, true, "the group's id"), -1);
    for (int32_t unknown : {2, -8, (1 << 20) + 1, INT32_MAX})
        EXPECT_EQ(m.IndexOf(unknown), -1) << unknown;

    m.StoreWrite(static_cast<uint32_t>(m.IndexOf(-7)), WriteSlots{42, 4.5, true});
    EXPECT_EQ(m.Written(-7).i32, 42);
    EXPECT_EQ(m.Written(-7).dbl, 4.5);
    EXPECT_EQ(m.Written(1).i32, 0); // never written
    EXPECT_EQ(m.Written(2).i32, 0); // unknown
}

TEST(Exports, StopBeforeStartReturnsAtOnce)
{
    Library lib;
    Build(lib);
    lib.setRunning(0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lib.serve(FreePort(), 0, 0, 0, nullptr, ""), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kPatience);
    EXPECT_EQ(lib.getRunning(), 0);
}

TEST(Exports, StartStopStartInOneProcess)
{
    Library lib;
    int port = FreePort();
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        Build(lib); // clears the stop of the last run
        Running server(lib, port);
        Client c(port);
        ASSERT_TRUE(c.Connected());
        c.Send(Hello());
        EXPECT_EQ(c.Receive(28).substr(0, 4), "ACKF");
        EXPECT_EQ(lib.getRunning(), 1);
        // No structure changes while it runs.
        EXPECT_EQ(lib.createDinArrays(1, 1), -1);
        EXPECT_LT(server.Stop(), kPatience);
        EXPECT_EQ(server.result, 0);
        EXPECT_EQ(lib.getRunning(), 0);
        bool closed = false;
        c.Receive(1, &closed);
        EXPECT_TRUE(closed) << "connections are closed when the server stops";
    }
}

TEST(Exports, StopsWhileWaitingToRetryABusyPort)
{
    Library lib;
    Build(lib);
    int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(blocker, 1), 0);
    ::getsockname(blocker, reinterpret_cast<sockaddr*>(&addr), &len);
    StderrFile stderrFile;
    Running server(lib, ntohs(addr.sin_port), 0, "", 0, 0, false);
    ASSERT_TRUE(stderrFile.WaitFor("cannot listen on port " + std::to_string(ntohs(addr.sin_port))));
    EXPECT_EQ(lib.getRunning(), 1) << "a failed bind keeps the call blocking";
    EXPECT_LT(server.Stop(), std::chrono::milliseconds(kBindRetryMs)) << "the stop waited for the next bind";
    ::close(blocker);
}

// A bad chunk closes that client's connection with ERR; the server goes on.
TEST(Exports, HostileInputClosesOnlyThatConnection)
{
    Library lib;
    Build(lib);
    int port = FreePort();
    Running server(lib, port);
    struct Case {
        const char* name;
        std::string bytes;
        uint32_t status;
    };
    std::string hugeHello = Hello();
    hugeHello.replace(4, 4, std::string("\xff\xff\xff\x0f", 4));
    std::string hugeUrl = Hello();
    hugeUrl.replace(28, 4, std::string("\xff\xff\xff\x7f", 4));
    const Case cases[] = {
        {"not a HEL", std::string("MSGF\x10\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 16),
         status::BadTcpMessageTypeInvalid},
        {"HEL size beyond limits", hugeHello, status::BadTcpMessageTooLarge},
        {"size below the header", std::string("HELF\x03\x00\x00\x00", 8), status::BadTcpMessageTypeInvalid},
        {"URL length beyond the chunk", hugeUrl, status::BadDecodingError},
        {"chunk after HEL too large", Hello() + std::string("MSGF\x00\x00\x10\x00", 8), status::BadTcpMessageTooLarge},
    };
    for (const auto& c : cases) {
        Client bad(port);
        ASSERT_TRUE(bad.Connected());
        bad.Send(c.bytes);
        bool closed = false;
        std::string got = bad.Receive(1 << 20, &closed);
        if (got.compare(0, 4, "ACKF") == 0)
            got = got.substr(28);
        EXPECT_EQ(ErrStatus(got), c.status) << c.name;
        EXPECT_TRUE(closed) << c.name;
    }
    Client good(port);
    good.Send(Hello());
    EXPECT_EQ(good.Receive(28).substr(0, 4), "ACKF");
}

TEST(Exports, AtTheConnectionLimitTheOldestUnopenedConnectionGivesWay)
{
    Library lib;
    Build(lib);
    int port = FreePort();
    Running server(lib, port);
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 32; ++i) {
        clients.push_back(std::make_unique<Client>(port));
        clients.back()->Send(Hello());
        ASSERT_EQ(clients.back()->Receive(28).substr(0, 4), "ACKF") << i;
    }
    // None of them opened a secure channel: the newcomer takes the place of the oldest.
    Client extra(port);
    extra.Send(Hello());
    EXPECT_EQ(extra.Receive(28).substr(0, 4), "ACKF");
    bool closed = false;
    std::string got = clients.front()->Receive(1 << 16, &closed);
    EXPECT_EQ(ErrStatus(got), status::BadTcpServerTooBusy);
    EXPECT_TRUE(closed);
    clients.pop_back();
    EXPECT_TRUE(Acknowledged(port)) << "a closed connection frees its place";
}

} // namespace
} // namespace tagserve

namespace tagserve {
namespace {

// A client that sends requests and never reads the answers holds up only itself.
TEST(Exports, ClientThatDoesNotReadHoldsUpOnlyItself)
{
    Library lib;
    Build(lib);
    int port = FreePort();
    Running server(lib, port);
    Client greedy(port);
    ASSERT_TRUE(greedy.Connected());
    greedy.Send(Hello());
    ASSERT_EQ(greedy.Receive(28).substr(0, 4), "ACKF");
    greedy.Send(test::OpenChunk(1, 1));
    std::string opened = greedy.Receive(135);
    ASSERT_EQ(opened.substr(0, 4), "OPNF");
    Reader r(opened.data() + 8, 4);
    uint32_t channel = r.UInt32();

    // As many requests as it takes: the server buffers answers up to its
    // limit before it stops reading the connection.
    std::thread flood([&] {
        for (uint32_t i = 0;; ++i) {
            Writer body;
            body.WriteNodeId(NodeId(0, msg::GetEndpointsRequest));
            test::WriteRequestHeader(body, NodeId(), i);
            body.NullString();
            body.EmptyArray();
            body.EmptyArray();
            Writer w;
            w.Raw("MSGF");
            w.UInt32(static_cast<uint32_t>(24 + body.Size()));
            w.UInt32(channel);
            w.UInt32(1);
            w.UInt32(i + 2);
            w.UInt32(i + 2);
            w.Raw(body.Bytes());
            if (!greedy.Send(w.Bytes())) // blocks once the server stops reading
                return;
        }
    });
    // The greedy connection takes no more: the server has stopped reading it,
    // its answers pile up unread. Only then is another client's turn a test.
    const auto limit = std::chrono::steady_clock::now() + kPatience;
    bool held = false;
    while (!held && std::chrono::steady_clock::now() < limit) {
        pollfd p{greedy.Fd(), POLLOUT, 0};
        held = ::poll(&p, 1, 0) == 0;
        if (!held)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(held) << "the server kept reading a client that does not read";
    Client other(port);
    other.Send(Hello());
    EXPECT_EQ(other.Receive(28).substr(0, 4), "ACKF");
    EXPECT_LT(server.Stop(), kPatience);
    flood.join(); // the stop closed the greedy connection, so its sends fail and end
}

} // namespace
} // namespace tagserve

namespace tagserve {
namespace {

// The credential buffer: user name bytes, then password bytes, 100 bytes at most together.
TEST(Exports, HeavyRequestsOfOneClientHoldUpNeitherOthersNorTheStop)
{
    // One station with many signals: a Browse that matches none of the type
    // definition's references looks at every one of them.
    Library lib;
    constexpr int32_t kSignals = 20000;
    ASSERT_EQ(lib.createDinArrays(kSignals, 1), 0);
    ASSERT_EQ(lib.addNewGroup(9, 80001, "Station_1"), 0);
    for (int32_t id = 1; id <= kSignals; ++id)
        ASSERT_EQ(lib.addNewPerem(1, id, 0, 80001, 1, 0, "s"), 0);
    int port = FreePort();
    Running server(lib, port);
    test::SessionClient greedy(port);
    ASSERT_EQ(greedy.Session(test::AnonymousToken()), status::Good);
    auto browse = [](Writer& w) {
        w.WriteNodeId(NodeId());
        w.Int64(0);
        w.UInt32(0);
        w.UInt32(0);
        w.Int32(1000);
        for (int i = 0; i < 1000; ++i) {
            w.WriteNodeId(NodeId(0, 63));
            w.UInt32(2);
            w.WriteNodeId(NodeId());
            w.Boolean(false);
            w.UInt32(1); // Objects only
            w.UInt32(63);
        }
    };
    constexpr int kQueued = 60;
    for (int k = 0; k < kQueued; ++k)
        greedy.Request(msg::BrowseRequest, browse);

    // The other client is let in between the greedy one's requests, so its
    // ACK comes after a few of them, long before all are answered...
    Client other(port);
    other.Send(Hello());
    std::string ack;
    for (int polls = 0; polls < 20 && ack.size() < 28; ++polls)
        ack += other.Receive(28 - ack.size());
    EXPECT_EQ(ack.substr(0, 4), "ACKF");
    // ...and the stop is taken between two turns, leaving the rest unanswered.
    server.Stop();
    int answered = 0;
    try {
        for (; answered < kQueued; ++answered)
            greedy.ReadMessage();
    } catch (const std::exception&) {
        // the stopped server closed the connection
    }
    EXPECT_LT(answered, kQueued / 2);
}

std::atomic<int32_t> plainWrites{0}, statusWrites{0};
void CountPlainWrite(int32_t) { ++plainWrites; }
uint32_t RefuseWrite(int32_t id)
{
    ++statusWrites;
    return id == 2 ? status::BadOutOfRange : status::Good;
}

// The write status addition: once set, its result is the client's answer and
// the plain callback is not called; create_din_arrays clears it, and the
// plain callback's writes are answered Good as by a library without it.
TEST(Exports, TheWriteStatusCallbackAnswersTheWrite)
{
    Library lib;
    auto write = [](Writer& w) {
        w.Int32(1);
        w.WriteNodeId(NodeId(1, 2));
        w.UInt32(attr::Value);
        w.NullString();
        DataValue v;
        v.mask = DataValue::HasValue;
        v.value = Variant::Int32(5);
        w.WriteDataValue(v);
    };
    for (const bool withStatus : {true, false}) {
        SCOPED_TRACE(withStatus);
        plainWrites = 0;
        statusWrites = 0;
        Build(lib);
        if (withStatus) {
            ASSERT_EQ(lib.setWriteStatusCallback(&RefuseWrite), 0);
        }
        int port = FreePort();
        Running server(lib, port, 0, "", 0, 0, true, &CountPlainWrite);
        test::SessionClient client(port);
        ASSERT_EQ(client.Session(test::AnonymousToken()), status::Good);
        test::Answer answer = client.Call(msg::WriteRequest, write);
        ASSERT_EQ(answer.serviceResult, status::Good);
        Reader r(answer.body);
        EXPECT_EQ(r.UInt32Array(), std::vector<uint32_t>{withStatus ? status::BadOutOfRange : status::Good});
        EXPECT_EQ(statusWrites.load(), withStatus ? 1 : 0);
        EXPECT_EQ(plainWrites.load(), withStatus ? 0 : 1);
    }
}

// A client polling one connection as fast as it is answered, each request
// arriving in one read of its own: what the server holds for it must not
// grow with the number of requests.
TEST(Exports, ResidentMemoryStaysFlatUnderSequentialReads)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in its quarantine: resident memory grows by design";
#endif
    Library lib;
    Build(lib);
    int port = FreePort();
    Running server(lib, port);
    test::SessionClient client(port);
    ASSERT_EQ(client.Session(test::AnonymousToken()), status::Good);
    // About 7 KB a request: 20 000 of them are 140 MiB when kept.
    const std::vector<uint32_t> ids(400, 2);
    auto read = [&](Writer& w) { test::WriteReadValuesBody(w, ids); };
    constexpr int kWarmUp = 500, kRequests = 20000;
    for (int i = 0; i < kWarmUp; ++i)
        ASSERT_EQ(client.Call(msg::ReadRequest, read).serviceResult, status::Good);
    const double before = gw::test::ResidentMiB();
    for (int i = 0; i < kRequests; ++i)
        ASSERT_EQ(client.Call(msg::ReadRequest, read).serviceResult, status::Good) << i;
    const double grown = gw::test::ResidentMiB() - before;
    EXPECT_LT(grown, 16.0) << "MiB more after " << kRequests << " reads";
}

TEST(Exports, CredentialsFromTheBufferAndRefusedWhenTooLong)
{
    Library lib;
    struct Case {
        std::string user, password;
        bool fits;
    };
    const Case cases[] = {
        {"op", "secret", true},
        {std::string(60, 'u'), std::string(40, 'p'), true},  // exactly 100
        {std::string(60, 'u'), std::string(41, 'p'), false}, // over: refused, never cut
        {std::string(100, 'u'), "", false},                  // the caller passes at most 99 bytes of each
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user.size() + c.password.size());
        Build(lib);
        std::string buffer = (c.user + c.password).substr(0, 100);
        buffer.resize(100, '\0');
        int port = FreePort();
        Running server(lib, port, 1, buffer.c_str(), static_cast<int32_t>(c.user.size()),
                       static_cast<int32_t>(c.password.size()));
        {
            test::SessionClient right(port);
            EXPECT_EQ(right.Session(test::UserNameToken(c.user, c.password)),
                      c.fits ? status::Good : status::BadUserAccessDenied);
            test::SessionClient cut(port);
            EXPECT_EQ(cut.Session(test::UserNameToken(c.user, c.password.substr(0, c.password.size() - 1))),
                      status::BadUserAccessDenied);
            test::SessionClient anonymous(port);
            EXPECT_EQ(anonymous.Session(test::AnonymousToken()), status::BadIdentityTokenInvalid);
        }
        server.Stop();
    }
}

} // namespace
} // namespace tagserve

namespace tagserve {
namespace {

// Name bytes are code points U+0000..U+00FF, sent as UTF-8; control bytes become "_"; at most 99 bytes count.
TEST(Exports, NameBytesBecomeUtf8BrowseNames)
{
    Library lib;
    ASSERT_EQ(lib.createDinArrays(2, 2), 0);
    ASSERT_EQ(lib.addNewGroup(4, 80001, "A\xe9\x01z"), 0);
    std::string longName(120, 'n');
    ASSERT_EQ(lib.addNewPerem(120, 1, 0, 80001, 1, 0, longName.c_str()), 0);
    int port = FreePort();
    Running server(lib, port);
    test::SessionClient client(port);
    ASSERT_EQ(client.Session(test::AnonymousToken()), status::Good);
    test::Answer read = client.Call(msg::ReadRequest, [](Writer& w) {
        w.Double(0);
        w.UInt32(3);
        w.Int32(2);
        for (uint32_t id : {80001u, 1u}) {
            w.WriteNodeId(NodeId(1, id));
            w.UInt32(attr::BrowseName);
            w.NullString();
            w.WriteQualifiedName({});
        }
    });
    Reader r(read.body);
    ASSERT_EQ(r.ArrayLength(), 2);
    DataValue group = r.ReadDataValue();
    DataValue variable = r.ReadDataValue();
    EXPECT_EQ(std::get<QualifiedName>(group.value.values.at(0)), (QualifiedName{1, "A\xc3\xa9_z"}));
    EXPECT_EQ(std::get<QualifiedName>(variable.value.values.at(0)).name, std::string(99, 'n'));
}

} // namespace
} // namespace tagserve
