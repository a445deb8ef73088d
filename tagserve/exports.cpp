// The C entry points. Each one catches everything at its boundary: nothing
// may unwind into the caller. The library has one process-wide Library,
// because the entry points carry no handle.
#include "tagserve.h"

#include "clock.h"
#include "log.h"
#include "model.h"
#include "server.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>

namespace tagserve {

namespace {

constexpr int32_t kMaxNameBytes = 99;

struct Library {
    Model model;
    std::atomic<bool> stop{false};
    std::atomic<bool> running{false};
    std::atomic<tagserve_write_status_callback> statusCallback{nullptr};
    std::mutex wakeMutex; // guards wakeFd between the server thread and setrunning_bool
    int wakeFd = -1;
};

Library& Lib()
{
    static Library library;
    return library;
}

// Bytes of the caller's name buffer, one code point U+0000..U+00FF each, as UTF-8.
std::string NameOf(const char* bytes, int32_t length)
{
    std::string out;
    if (!bytes || length <= 0)
        return out;
    int32_t n = length < kMaxNameBytes ? length : kMaxNameBytes;
    for (int32_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x20) {
            out += '_';
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

Credentials CredentialsOf(int32_t byPassword, int32_t userLength, int32_t passwordLength, const char* buffer)
{
    Credentials c;
    c.byPassword = byPassword != 0;
    if (!c.byPassword)
        return c;
    // The caller's buffer holds 100 bytes, and at most 99 of each: what does not fit is refused, not cut.
    if (userLength < 0 || passwordLength < 0 || userLength > kMaxNameBytes || passwordLength > kMaxNameBytes
        || buffer == nullptr || int64_t{userLength} + passwordLength > static_cast<int64_t>(kMaxCredentialBytes)) {
        c.refused = true;
        Log(LogKind::Caller, "user name and password do not fit %zu bytes: every login is refused",
            kMaxCredentialBytes);
        return c;
    }
    c.user.assign(buffer, static_cast<size_t>(userLength));
    c.password.assign(buffer + userLength, static_cast<size_t>(passwordLength));
    return c;
}

std::string HostName()
{
    char host[256] = "localhost";
    ::gethostname(host, sizeof host - 1);
    return host;
}

int32_t Serve(int32_t port, int32_t byPassword, int32_t userLength, int32_t passwordLength,
              tagserve_write_callback callback, const char* credentials)
{
    Library& lib = Lib();
    // A stop that came before this call must not leave it blocking.
    if (lib.stop.load())
        return 0;
    if (port <= 0 || port > 65535) {
        Log(LogKind::Caller, "port %d out of range", port);
        return -1;
    }
    if (lib.running.exchange(true)) {
        Log(LogKind::Caller, "the server is already running");
        return -1;
    }
    ServerConfig config;
    config.port = static_cast<uint16_t>(port);
    config.credentials = CredentialsOf(byPassword, userLength, passwordLength, credentials);
    config.callback = callback;
    config.statusCallback = lib.statusCallback.load();
    config.info.applicationUri = "urn:" + HostName() + ":tagserve";
    config.info.startTime = UaNow();
    {
        std::lock_guard lock(lib.wakeMutex);
        lib.wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    }
    int32_t result = 0;
    try {
        result = RunServer(lib.model, config, lib.stop, lib.wakeFd);
    } catch (...) {
        Log(LogKind::Internal, "server stopped by an internal error");
        result = -1;
    }
    {
        std::lock_guard lock(lib.wakeMutex);
        ::close(lib.wakeFd);
        lib.wakeFd = -1;
    }
    lib.running = false;
    return result;
}

} // namespace

} // namespace tagserve

using namespace tagserve;

extern "C" {

int32_t DLL_add(void) { return 0; }

int32_t Add_All_perem_to_serv(void) { return 0; }

int32_t create_din_arrays(int32_t variableCount, int32_t groupCount)
{
    try {
        Library& lib = Lib();
        if (lib.running.load()) {
            Log(LogKind::Caller, "create_din_arrays while the server runs: ignored");
            return -1;
        }
        lib.model.Reset(variableCount, groupCount);
        lib.statusCallback = nullptr;
        lib.stop = false;
        return 0;
    } catch (...) {
        Log(LogKind::Internal, "create_din_arrays failed");
        return -1;
    }
}

int32_t set_write_status_callback(tagserve_write_status_callback callback)
{
    Lib().statusCallback = callback;
    return 0;
}

int32_t add_new_group(int32_t nameLength, int32_t groupId, const char* name)
{
    try {
        Library& lib = Lib();
        if (lib.running.load())
            return -1;
        return lib.model.AddGroup(groupId, NameOf(name, nameLength));
    } catch (...) {
        Log(LogKind::Internal, "add_new_group failed");
        return -1;
    }
}

int32_t Add_new_perem(int32_t nameLength, int32_t id, int32_t type, int32_t groupId, int32_t ns, int32_t writable,
                      const char* name)
{
    try {
        Library& lib = Lib();
        if (lib.running.load())
            return -1;
        if (ns != 1)
            Log(LogKind::Caller, "Add_new_perem: namespace %d taken as 1", ns);
        return lib.model.AddVariable(id, type, groupId, writable != 0, NameOf(name, nameLength));
    } catch (...) {
        Log(LogKind::Internal, "Add_new_perem failed");
        return -1;
    }
}

int32_t UA_ServerNetworkLayerTCP_dll(int32_t port, int32_t byPassword, int32_t userLength, int32_t passwordLength,
                                     tagserve_write_callback callback, const char* credentials)
{
    try {
        return Serve(port, byPassword, userLength, passwordLength, callback, credentials);
    } catch (...) {
        Log(LogKind::Internal, "UA_ServerNetworkLayerTCP_dll failed");
        Lib().running = false;
        return -1;
    }
}

int32_t setrunning_bool(int32_t running)
{
    try {
        if (running != 0)
            return 0;
        Library& lib = Lib();
        lib.stop = true;
        std::lock_guard lock(lib.wakeMutex);
        if (lib.wakeFd >= 0) {
            uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(lib.wakeFd, &one, sizeof one);
        }
        return 0;
    } catch (...) {
        return -1;
    }
}

int32_t getrunning_bool(void) { return Lib().running.load() ? 1 : 0; }

int32_t Set_new_val_to_perem(int32_t type, int32_t id, int32_t intValue, double doubleValue, uint32_t status,
                             int64_t sourceTime, int64_t serverTime)
{
    try {
        return Lib().model.SetValue(type, id, intValue, doubleValue, status, sourceTime, serverTime);
    } catch (...) {
        return -1;
    }
}

int32_t Set_new_quality_to_perem(int32_t id, uint32_t status, int64_t sourceTime, int64_t serverTime)
{
    try {
        return Lib().model.SetQuality(id, status, sourceTime, serverTime);
    } catch (...) {
        return -1;
    }
}

int32_t get_int32_valwrite_by_index(int32_t id)
{
    try {
        return Lib().model.Written(id).i32;
    } catch (...) {
        return 0;
    }
}

double get_double_valwrite_by_index(int32_t id)
{
    try {
        return Lib().model.Written(id).dbl;
    } catch (...) {
        return 0;
    }
}

uint8_t get_bool_valwrite_by_index(int32_t id)
{
    try {
        return Lib().model.Written(id).b ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

} // extern "C"
