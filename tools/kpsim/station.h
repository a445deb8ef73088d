// One simulated station: its thread owns the listening or outgoing socket and
// at most one connection, runs a Session on it and applies the control
// requests handed over by Post.
#pragma once

#include "control.h"
#include "event_log.h"
#include "options.h"
#include "session.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace kpsim {

class Station {
public:
    Station(int number, const StationConfig& config, EventLog& log);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Binds the listening socket (and prints its port) or prepares the
    // outgoing one, then starts the thread. Throws when the bind fails.
    void Start();
    void Stop();
    void Post(const ControlRequest& request);
    // The "stats" line; after Stop, or on the station's own thread.
    void LogStats();

private:
    void Run();
    void Serve(Poco::Net::StreamSocket& connection);
    void RefuseSecondConnection();
    // False when a request ended the connection.
    bool ApplyRequests(Poco::Net::StreamSocket* connection, Session* session);
    bool Apply(const ControlRequest& request, Poco::Net::StreamSocket* connection, Session* session);
    // The link faults a test asks for: repeat, stopdt, eoi.
    void ApplyLinkFault(const ControlRequest& request, Session& session);
    void WaitForRequests(std::chrono::milliseconds timeout);
    bool Write(Poco::Net::StreamSocket& connection, const Bytes& bytes);
    void Done(const ControlRequest& request);
    std::string Tag() const { return "station=" + std::to_string(number_); }

    const int number_;
    const StationConfig config_;
    EventLog& log_;
    StationState state_;
    std::unique_ptr<Poco::Net::ServerSocket> server_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<ControlRequest> requests_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace kpsim
