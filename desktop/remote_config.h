#pragma once
// Moving a device's "iec104.cfg" and "cnf.ini" between the device and the
// program folder, and the device password written into the local
// "cnf.ini". The last device address is kept in "conf_dev.ini" (section
// "Ed"), never its password.

#include <functional>
#include <string>

namespace gw::desktop {

class TDesktopService;
class THttpTransfer;

struct TConfDev {
    std::string IP_addr;
    int port = 810;
    std::string login;
};

inline constexpr const char* ConfDevFileName = "conf_dev.ini";

TConfDev ReadConfDev(const std::string& dir);
void WriteConfDev(const std::string& dir, const TConfDev& dev);

// The transfer dialog: filled from "conf_dev.ini", then the password.
class TTransferDialogPort {
public:
    virtual ~TTransferDialogPort() = default;
    // caption: "Считать конфигурацию" or "Записать конфигурацию". On OK dev
    // and password take the dialog's fields, then transfer runs (in the real
    // dialog on a thread of its own, the window's loop turning and the
    // dialog showing that it runs); what transfer throws comes out of here.
    // False on Cancel: transfer never ran.
    virtual bool Run(const std::string& caption, TConfDev& dev, std::string& password,
                     const std::function<void()>& transfer) = 0;
};

struct TRemoteParts {
    TDesktopService& service;
    THttpTransfer& http;
    TTransferDialogPort& dialog;
    std::function<void(const std::string&)> message;
    // Stops polling before the station table is replaced under it.
    std::function<void()> stopPolling;
    // The station list after a download.
    std::function<void()> refreshList;
};

// Both roads end with one message; false when nothing was asked or it failed.
// The requests and the files run through the dialog's transfer; the station
// table, the list and the message on the caller's thread.
bool load_all_conf_from_device(const TRemoteParts& parts);
bool Save_all_conf_to_device(const TRemoteParts& parts);
// The password command: an empty answer changes nothing.
void SetRemotePassword(TDesktopService& service, const std::string& password);

} // namespace gw::desktop
