#pragma once
// The gateway service as opcstation runs it: the same context, configuration
// reader and socket channels as fieldgate, with the program folder as its
// directory. The 50 ms tick runs on the main thread.

#include "opcua/opcuabridge.h"
#include "service/cfgfile.h"
#include "service/channelfactory.h"
#include "service/cnfini.h"
#include "service/tables.h"

#include <memory>
#include <optional>
#include <string>

namespace gw::desktop {

class TDesktopWebServer;

class TDesktopService {
public:
    // dir without a trailing '/'.
    // webAddress: where the web server listens ("0.0.0.0" but for tests).
    TDesktopService(const std::string& dir, bool configurator, std::string webAddress = "0.0.0.0");
    ~TDesktopService();
    TDesktopService(const TDesktopService&) = delete;
    TDesktopService& operator=(const TDesktopService&) = delete;

    // ServiceInit: the process-wide objects and the first reading of "iec104.cfg".
    void Init();
    // Reads "cnf.ini" into the switches; a file that cannot be read keeps the defaults.
    void ReadCnf();
    // After a download: the switches of the device's "cnf.ini", now the
    // folder's. The station dialog shows and writes these from then on, and
    // the program's own stay what they were.
    void ReadDeviceCnf();
    std::optional<TCnfIni>& DeviceCnf() { return deviceCnf_; }
    // ServiceStart; throws what it throws, and false is thrown as an error too.
    // Then the web server, when enabled and not in configurator mode; a web
    // server that cannot listen leaves the program without one, silently.
    void Start();
    void Stop();
    void Tick();
    // Writes the station table and the OPC UA settings to "iec104.cfg".
    void SaveConfig();

    TServiceContext& Context() { return *ctx_; }
    int WebPort() const;
    TOpcUaSettings& OpcUa() { return opcUa_; }
    const std::string& Dir() const { return dir_; }
    std::string FilePath(const std::string& name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
    TOpcUaSettings opcUa_;
    std::optional<TCnfIni> deviceCnf_;
    TOpcUaLibraryBridge opcUaBridge_{opcUa_};
    TSocketChannelFactory channels_;
    std::unique_ptr<TServiceContext> ctx_;
    std::unique_ptr<TDesktopWebServer> web_; // before the context goes
    TPlugged plugged_;                       // last: the service stops before anything else goes
};

} // namespace gw::desktop
