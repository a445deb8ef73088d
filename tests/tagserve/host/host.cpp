// Loads libtagserve.so with dlopen and drives its entry points the way the
// gateway's bridge does, for the end-to-end tests with a real OPC UA client.
//
//   tagserve_host <library> [--password <user> <password>] [--port <port>]
//
// Builds two groups, starts the server thread on a free port and prints
// "READY <port>" once the server answers there. Pushes m1 and lifebit every
// 100 ms. Prints one JSON line per client write. Reads commands from stdin:
// "bad" (m1 goes bad), "restart" (stop and start the server as a service
// restart does; "OK restart" once it answers again), "quit" or end of input.
#include "testkit/tagserve/client_kit.h"
#include "tagserve/tagserve.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

namespace {

struct Api {
    decltype(&create_din_arrays) createDinArrays;
    decltype(&add_new_group) addNewGroup;
    decltype(&Add_new_perem) addNewPerem;
    decltype(&UA_ServerNetworkLayerTCP_dll) serve;
    decltype(&setrunning_bool) setRunning;
    decltype(&Set_new_val_to_perem) setValue;
    decltype(&Set_new_quality_to_perem) setQuality;
    decltype(&get_int32_valwrite_by_index) writtenInt;
    decltype(&get_double_valwrite_by_index) writtenDouble;
    decltype(&get_bool_valwrite_by_index) writtenBool;
};

Api api;
std::mutex outputMutex;

template <typename T>
void Resolve(void* lib, const char* name, T& fn)
{
    fn = reinterpret_cast<T>(dlsym(lib, name));
    if (!fn) {
        std::fprintf(stderr, "host: %s missing\n", name);
        std::exit(2);
    }
}

void Say(const std::string& line)
{
    std::lock_guard lock(outputMutex);
    std::cout << line << std::endl;
}

// The bridge's write callback: it reads all three slots of the written id.
void OnWrite(int32_t id)
{
    char line[160];
    std::snprintf(line, sizeof line, "{\"write\":%d,\"int32\":%d,\"double\":%.17g,\"bool\":%u}", id, api.writtenInt(id),
                  api.writtenDouble(id), unsigned{api.writtenBool(id)});
    Say(line);
}

int64_t UaNow()
{
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
                  .count();
    return 116444736000000000LL + us * 10;
}

void Build()
{
    api.createDinArrays(6, 2);
    api.addNewGroup(9, 80001, "Station_1");
    api.addNewGroup(7, 80002, "lifebit");
    api.addNewPerem(9, 1, 0, 80001, 1, 0, "Connected");
    api.addNewPerem(4, 2, 0, 80001, 1, 1, "p_sw");
    api.addNewPerem(5, 3, 5, 80001, 1, 1, "p_int");
    api.addNewPerem(2, 4, 10, 80001, 1, 0, "m1");
    api.addNewPerem(6, 6, 5, 80001, 1, 0, "p_init");
    api.addNewPerem(7, 5, 5, 80002, 1, 0, "lifebit");
}

struct Credentials {
    bool byPassword = false;
    std::string user, password;
};

std::thread Start(int port, const Credentials& c)
{
    return std::thread([port, c] {
        char buffer[100] = {};
        std::memcpy(buffer, c.user.data(), std::min<size_t>(c.user.size(), 100));
        if (c.user.size() < 100)
            std::memcpy(buffer + c.user.size(), c.password.data(),
                        std::min<size_t>(c.password.size(), 100 - c.user.size()));
        api.serve(port, c.byPassword ? 1 : 0, static_cast<int32_t>(c.user.size()),
                  static_cast<int32_t>(c.password.size()), OnWrite, buffer);
    });
}

void AppendUInt32(std::string& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>((value >> shift) & 0xff);
}

// A HEL chunk as every client sends first; the host links none of the library's code.
std::string HelloChunk(const std::string& url)
{
    std::string hello = "HELF";
    AppendUInt32(hello, static_cast<uint32_t>(32 + url.size()));
    for (uint32_t field : {0u, 65536u, 65536u, 0u, 0u}) // version, buffer sizes, no message or chunk limits
        AppendUInt32(hello, field);
    AppendUInt32(hello, static_cast<uint32_t>(url.size()));
    return hello + url;
}

// Whether the server answers a HEL on the port now. Its answer, not a mere
// connection, tells it from whatever else may hold the port.
bool Answers(const sockaddr_in& addr)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval patience{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    bool acknowledged = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
        const std::string hello = HelloChunk("opc.tcp://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)));
        char reply[4];
        acknowledged = ::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(hello.size())
                       && ::recv(fd, reply, sizeof reply, MSG_WAITALL) == sizeof reply
                       && std::memcmp(reply, "ACKF", sizeof reply) == 0;
    }
    ::close(fd);
    return acknowledged;
}

// The server thread binds its port some time after it starts, and retries
// every few seconds while the port is taken: a test that connects on "READY"
// must find it listening, however slowly the server runs.
void WaitUntilServing(int port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!Answers(addr)) {
        if (std::chrono::steady_clock::now() > limit) {
            std::fprintf(stderr, "host: the server does not answer on port %d\n", port);
            std::_Exit(2);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: tagserve_host <library> [--password <user> <password>] [--port <port>]\n");
        return 2;
    }
    Credentials credentials;
    int port = 0;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--password" && i + 2 < argc) {
            credentials.byPassword = true;
            credentials.user = argv[++i];
            credentials.password = argv[++i];
        } else if (arg == "--port" && i + 1 < argc) {
            port = std::atoi(argv[++i]);
        }
    }
    void* lib = dlopen(argv[1], RTLD_LAZY);
    if (!lib) {
        std::fprintf(stderr, "host: %s\n", dlerror());
        return 2;
    }
    Resolve(lib, "create_din_arrays", api.createDinArrays);
    Resolve(lib, "add_new_group", api.addNewGroup);
    Resolve(lib, "Add_new_perem", api.addNewPerem);
    Resolve(lib, "UA_ServerNetworkLayerTCP_dll", api.serve);
    Resolve(lib, "setrunning_bool", api.setRunning);
    Resolve(lib, "Set_new_val_to_perem", api.setValue);
    Resolve(lib, "Set_new_quality_to_perem", api.setQuality);
    Resolve(lib, "get_int32_valwrite_by_index", api.writtenInt);
    Resolve(lib, "get_double_valwrite_by_index", api.writtenDouble);
    Resolve(lib, "get_bool_valwrite_by_index", api.writtenBool);

    if (port == 0)
        port = tagserve::test::FreePort();
    std::atomic<bool> quit{false};
    std::atomic<bool> mBad{false};
    std::mutex buildMutex; // no pushes while the address space is rebuilt
    Build();
    std::thread server = Start(port, credentials);
    std::thread pusher([&] {
        int32_t tick = 0;
        while (!quit) {
            {
                std::lock_guard lock(buildMutex);
                int64_t now = UaNow();
                api.setValue(0, 1, 1, 0, 0, now, now);
                api.setValue(10, 4, 0, 100.0 + tick, mBad ? 0x80000000u : 0u, now, now);
                api.setValue(5, 5, tick, 0, 0, now, now);
                if (tick == 0) {
                    api.setValue(0, 2, 0, 0, 0, now, now);
                    api.setValue(5, 3, 7, 0, 0, now, now);
                }
            }
            ++tick;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    WaitUntilServing(port);
    Say("READY " + std::to_string(port));

    std::string command;
    while (std::getline(std::cin, command)) {
        if (command == "quit")
            break;
        if (command == "bad") {
            mBad = true;
            Say("OK bad");
        } else if (command == "restart") {
            std::lock_guard lock(buildMutex);
            api.setRunning(0);
            server.join();
            Build();
            server = Start(port, credentials);
            WaitUntilServing(port);
            Say("OK restart");
        }
    }
    quit = true;
    pusher.join();
    api.setRunning(0);
    server.join();
    dlclose(lib);
    Say("BYE");
    return 0;
}
