#include "desktop/remote_config.h"

#include "core/cp1251.h"
#include "core/files.h"
#include "core/text.h"
#include "desktop/desktop_service.h"
#include "desktop/http_transfer.h"
#include "service/cfgfile.h"
#include "service/cnfini.h"
#include "service/tables.h"

#include <fstream>
#include <optional>
#include <sstream>

namespace gw::desktop {

namespace {

constexpr std::size_t MissingFileBytes = 10; // a device's "no such file" answer is this short
constexpr const char* ProbeFile = "test.cfg";
constexpr const char* Ok = "Конфигурация считана успешно ";
constexpr const char* Sent = "Конфигурация записана успешно ";
constexpr const char* NotFound = "Не найден файл на устройстве ";
constexpr const char* Failed = "Ошибка ";

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string Trim(std::string s)
{
    const auto first = s.find_first_not_of(" \t\r");
    const auto last = s.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
}

// A value that is not a whole TCP port ("81x", "-5") keeps the default rather
// than send the transfer to a port nobody asked for.
int PortOr(const std::string& value, int def)
{
    const int port = StrToIntDef(value, 0);
    return port >= 1 && port <= 65535 ? port : def;
}

// One file of the device; none for an answer too short to be one.
std::optional<std::string> load_conf_from_device(const TRemoteParts& p, const TConfDev& dev,
                                                 const std::string& password, const std::string& file)
{
    std::string body = p.http.Get(dev.IP_addr, dev.port, file, password);
    if (body.size() <= MissingFileBytes)
        return std::nullopt;
    return body;
}

// A fetched file into the program folder, written whole or not at all;
// "cnf.ini" (the device password in clear text) the owner's alone, as the
// device keeps it.
void StoreConf(const TRemoteParts& p, const std::string& file, const std::optional<std::string>& body)
{
    if (!body)
        return;
    const std::string path = p.service.FilePath(file);
    const bool stored = file == CnfIniFileName ? ReplacePrivateFile(path, *body) : ReplaceWholeFile(path, *body);
    if (!stored)
        throw std::runtime_error("cannot write " + path);
}

void Save_conf_to_device(const TRemoteParts& p, const TConfDev& dev, const std::string& password,
                         const std::string& file)
{
    p.http.Post(dev.IP_addr, dev.port, file, ReadFileBytes(p.service.FilePath(file)), password);
}

void Probe(const TRemoteParts& p, const TConfDev& dev, const std::string& password)
{
    try {
        StoreConf(p, ProbeFile, load_conf_from_device(p, dev, password, ProbeFile));
    } catch (const std::exception&) {
        // The device serves no such file: the probe only wakes the link.
    }
}

} // namespace

TConfDev ReadConfDev(const std::string& dir)
{
    TConfDev dev;
    std::ifstream in(dir + "/" + ConfDevFileName, std::ios::binary);
    std::string line;
    bool inEd = false;
    while (std::getline(in, line)) {
        line = Trim(Cp1251ToUtf8(line));
        if (!line.empty() && line.front() == '[') {
            inEd = line == "[Ed]";
            continue;
        }
        const auto eq = line.find('=');
        if (!inEd || eq == std::string::npos)
            continue;
        const std::string key = Trim(line.substr(0, eq));
        const std::string value = Trim(line.substr(eq + 1));
        if (key == "IP_addr")
            dev.IP_addr = value;
        else if (key == "login")
            dev.login = value;
        else if (key == "port")
            dev.port = PortOr(value, dev.port);
    }
    return dev;
}

void WriteConfDev(const std::string& dir, const TConfDev& dev)
{
    const std::string text =
        "[Ed]\r\nIP_addr=" + dev.IP_addr + "\r\nlogin=" + dev.login + "\r\nport=" + std::to_string(dev.port) + "\r\n";
    if (!ReplaceWholeFile(dir + "/" + ConfDevFileName, Utf8ToCp1251(text)))
        throw std::runtime_error(std::string("cannot write ") + ConfDevFileName);
}

bool load_all_conf_from_device(const TRemoteParts& p)
{
    TConfDev dev = ReadConfDev(p.service.Dir());
    std::string password;
    std::optional<std::string> stations, settings;
    bool settingsStored = false;
    // From then on the folder's "cnf.ini" is the device's: its switches, not
    // the program's own, are the ones edited and sent back.
    const auto takeDeviceSettings = [&] {
        if (settingsStored)
            p.service.ReadDeviceCnf();
    };
    try {
        const bool ran = p.dialog.Run("Считать конфигурацию", dev, password, [&] {
            Probe(p, dev, password);
            // Both answers first: a failed second one must not leave the
            // first stored beside a station list that is not read again.
            stations = load_conf_from_device(p, dev, password, Iec104CfgFileName);
            settings = load_conf_from_device(p, dev, password, CnfIniFileName);
            StoreConf(p, Iec104CfgFileName, stations);
            StoreConf(p, CnfIniFileName, settings);
            settingsStored = settings.has_value();
            WriteConfDev(p.service.Dir(), dev);
        });
        if (!ran)
            return false;
        takeDeviceSettings();
        if (!stations) {
            p.message(NotFound);
            return false;
        }
        // The running service reads the station table: it stops first.
        p.stopPolling();
        TServiceContext& ctx = p.service.Context();
        ctx.Parts.ReadConfig(ctx);
        p.refreshList();
        p.message(Ok);
        return true;
    } catch (const std::exception& e) {
        takeDeviceSettings();
        p.message(Failed + std::string(e.what()));
        return false;
    }
}

bool Save_all_conf_to_device(const TRemoteParts& p)
{
    TConfDev dev = ReadConfDev(p.service.Dir());
    std::string password;
    try {
        const bool ran = p.dialog.Run("Записать конфигурацию", dev, password, [&] {
            Probe(p, dev, password);
            // "iec104.cfg" first: the device restarts when "cnf.ini" arrives.
            Save_conf_to_device(p, dev, password, Iec104CfgFileName);
            Save_conf_to_device(p, dev, password, CnfIniFileName);
            WriteConfDev(p.service.Dir(), dev);
        });
        if (!ran)
            return false;
        p.message(Sent);
        return true;
    } catch (const std::exception& e) {
        p.message(Failed + std::string(e.what()));
        return false;
    }
}

void SetRemotePassword(TDesktopService& service, const std::string& password)
{
    if (!password.empty())
        WriteCnfIniPwd(service.Dir(), password);
}

} // namespace gw::desktop
