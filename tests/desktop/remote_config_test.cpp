// The remote configuration transfer: the roads against a recording client,
// and the real HTTP client against a real fieldgate service on loopback.

#include "desktop_fixture.h"
#include "loopback_peer.h"

#include "core/cp1251.h"
#include "daemon/fieldgateservice.h"
#include "desktop/desktop_service.h"
#include "desktop/http_transfer.h"
#include "desktop/remote_config.h"
#include "service/cnfini.h"
#include "service/tables.h"
#include "testkit/free_port.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <thread>

namespace gw::test {
namespace {

using desktop::TConfDev;

class FixedDialog final : public desktop::TTransferDialogPort {
public:
    bool Run(const std::string& caption, TConfDev& dev, std::string& pw, const std::function<void()>& transfer) override
    {
        captions.push_back(caption);
        if (!ok)
            return false;
        dev.IP_addr = "127.0.0.1";
        dev.port = port;
        pw = password;
        transfer();
        return true;
    }
    bool ok = true;
    int port = 810;
    std::string password = "pw";
    std::vector<std::string> captions;
};

// Answers from a table of files; records every request.
class RecordingHttp final : public desktop::THttpTransfer {
public:
    std::string Get(const std::string&, int, const std::string& file, const std::string& password) override
    {
        requests.push_back("GET " + file + " " + password);
        const auto it = files.find(file);
        if (it == files.end())
            throw desktop::TTransferError("HTTP/1.1 404 Not Found");
        return it->second;
    }
    void Post(const std::string&, int, const std::string& file, const std::string& body,
              const std::string& password) override
    {
        requests.push_back("POST " + file + " " + password);
        posted[file] = body;
    }
    std::map<std::string, std::string> files, posted;
    std::vector<std::string> requests;
};

std::string CnfIni(int port, const std::string& pwd)
{
    return "[UseWebServer]\r\nUseWebServer=1\r\n[Port_WebServ]\r\nPort_WebServ=" + std::to_string(port)
           + "\r\n[Save_Obmen_v_File]\r\nSave_Obmen_v_File=0\r\n[pwd]\r\npwd=" + pwd + "\r\n";
}

class RemoteConfig : public ::testing::Test {
protected:
    desktop::TRemoteParts Parts(desktop::THttpTransfer& client)
    {
        return desktop::TRemoteParts{service,
                                     client,
                                     dialog,
                                     [this](const std::string& m) { messages.push_back(m); },
                                     [this] { ++stops; },
                                     [this] { ++refreshes; }};
    }
    bool ConfDevWritten() const { return std::filesystem::exists(local.File("conf_dev.ini")); }

    TempDir local;
    desktop::TDesktopService service{local.path(), true};
    FixedDialog dialog;
    RecordingHttp http;
    std::vector<std::string> messages;
    int stops = 0, refreshes = 0;
};

TEST_F(RemoteConfig, CancelSendsNothing)
{
    dialog.ok = false;
    EXPECT_FALSE(desktop::load_all_conf_from_device(Parts(http)));
    EXPECT_FALSE(desktop::Save_all_conf_to_device(Parts(http)));
    EXPECT_TRUE(http.requests.empty());
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(ConfDevWritten());
    EXPECT_EQ(dialog.captions, (std::vector<std::string>{"Считать конфигурацию", "Записать конфигурацию"}));
}

TEST_F(RemoteConfig, TenByteStationFileCountsAsMissing)
{
    http.files["iec104.cfg"] = "0123456789";
    http.files["cnf.ini"] = CnfIni(80, "x");
    EXPECT_FALSE(desktop::load_all_conf_from_device(Parts(http)));
    EXPECT_EQ(messages, std::vector<std::string>{"Не найден файл на устройстве "});
    EXPECT_EQ(http.requests, (std::vector<std::string>{"GET test.cfg pw", "GET iec104.cfg pw", "GET cnf.ini pw"}));
    EXPECT_FALSE(std::filesystem::exists(local.File("iec104.cfg")));
    EXPECT_EQ(local.Read("cnf.ini"), CnfIni(80, "x"));
    EXPECT_TRUE(ConfDevWritten());
    EXPECT_EQ(stops, 0);
}

TEST_F(RemoteConfig, UploadWithoutLocalCnfIniHasSentTheStationsAndFails)
{
    local.Write("iec104.cfg", ";kol,0\r\n");
    EXPECT_FALSE(desktop::Save_all_conf_to_device(Parts(http)));
    EXPECT_EQ(http.requests, (std::vector<std::string>{"GET test.cfg pw", "POST iec104.cfg pw"}));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Ошибка ", 0), 0u);
    EXPECT_FALSE(ConfDevWritten());
}

TEST_F(RemoteConfig, PasswordCommandIsNotTheTransferPassword)
{
    desktop::SetRemotePassword(service, "");
    EXPECT_FALSE(std::filesystem::exists(local.File("cnf.ini")));
    desktop::SetRemotePassword(service, "новый");
    TCnfIni cnf;
    ReadCnfIni(local.path(), cnf);
    EXPECT_EQ(cnf.pwd, "новый");
    local.Write("iec104.cfg", ";kol,0\r\n");
    ASSERT_TRUE(desktop::Save_all_conf_to_device(Parts(http)));
    EXPECT_EQ(http.requests.back(), "POST cnf.ini pw");
}

TEST(BasicCredentials, EmptyUserAndWindows1251Password)
{
    EXPECT_EQ(desktop::BasicAuthorization("pw"), "Basic OnB3");             // ":pw"
    EXPECT_EQ(desktop::BasicAuthorization("пароль"), "Basic Ou/g8O7r/A=="); // ":" + CP1251
    EXPECT_EQ(desktop::BasicAuthorization(std::string(100, 'a')).find('\n'), std::string::npos);
}

TEST(ConfDev, ReadsWhatItWroteAndDefaultsWhatIsNoPort)
{
    TempDir dir;
    EXPECT_EQ(desktop::ReadConfDev(dir.path()).port, 810); // no file
    desktop::WriteConfDev(dir.path(), TConfDev{"device.local", 8080, "Оператор"});
    const TConfDev written = desktop::ReadConfDev(dir.path());
    EXPECT_EQ(written.IP_addr, "device.local");
    EXPECT_EQ(written.port, 8080);
    EXPECT_EQ(written.login, "Оператор");
    EXPECT_EQ(dir.Read("conf_dev.ini"),
              Utf8ToCp1251("[Ed]\r\nIP_addr=device.local\r\nlogin=Оператор\r\nport=8080\r\n"));

    struct Case {
        std::string file;
        int port;
    };
    const std::vector<Case> cases = {
        {"[Ed]\nport = 811 \n", 811}, {"[Ed]\r\nport=65535\r\n", 65535},
        {"[Other]\nport=811\n", 810}, {"[Ed]\nport=81x\n", 810},
        {"[Ed]\nport=-5\n", 810},     {"[Ed]\nport=0\n", 810},
        {"[Ed]\nport=65536\n", 810},  {"[Ed]\nport=99999999999\n", 810},
        {"[Ed]\nport=\n", 810},       {"[Ed]\nport=" + std::string(100000, '8') + "\n", 810},
    };
    for (const Case& c : cases) {
        dir.Write("conf_dev.ini", c.file);
        EXPECT_EQ(desktop::ReadConfDev(dir.path()).port, c.port) << c.file.substr(0, 30);
    }
}

// The real client and a real device.
class RemoteConfigDevice : public RemoteConfig {
protected:
    void SetUp() override
    {
        webPort = FreePort();
        device.Write("iec104.cfg", ExampleStations({2404}));
        device.Write("cnf.ini", CnfIni(webPort, "pw"));
        fieldgate = std::make_unique<TFieldgateService>(device.path() + "/", "127.0.0.1");
        fieldgate->Start();
        ASSERT_EQ(fieldgate->WebPort(), webPort);
        dialog.port = webPort;
    }

    TempDir device;
    int webPort = 0;
    std::unique_ptr<TFieldgateService> fieldgate;
    desktop::TPocoHttpTransfer client{std::chrono::seconds(5)};
};

TEST_F(RemoteConfigDevice, DownloadLoadsTheDevicesStations)
{
    service.Init();
    service.Context().Switches.Port_WebServ = 4321;
    ASSERT_TRUE(desktop::load_all_conf_from_device(Parts(client)));
    EXPECT_EQ(messages, std::vector<std::string>{"Конфигурация считана успешно "});
    EXPECT_EQ(local.Read("iec104.cfg"), device.Read("iec104.cfg"));
    EXPECT_EQ(local.Read("cnf.ini"), device.Read("cnf.ini"));
    EXPECT_EQ(service.Context().Stations.KpCount, 1);
    EXPECT_EQ(service.Context().Switches.Port_WebServ, 4321); // the program's own settings stay
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(refreshes, 1);
    const TConfDev dev = desktop::ReadConfDev(local.path());
    EXPECT_EQ(dev.IP_addr, "127.0.0.1");
    EXPECT_EQ(dev.port, webPort);
    EXPECT_EQ(local.Read("conf_dev.ini").find("pw"), std::string::npos);
    // "cnf.ini" holds the device password in clear text.
    EXPECT_EQ(std::filesystem::status(local.File("cnf.ini")).permissions() & std::filesystem::perms::mask,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(RemoteConfigDevice, UploadStoresBothFilesAndAsksTheDeviceToRestart)
{
    const std::string stations = ExampleStations({2405});
    local.Write("iec104.cfg", stations);
    local.Write("cnf.ini", CnfIni(webPort, "next"));
    ASSERT_TRUE(desktop::Save_all_conf_to_device(Parts(client)));
    EXPECT_EQ(messages, std::vector<std::string>{"Конфигурация записана успешно "});
    EXPECT_EQ(device.Read("iec104.cfg"), stations);
    EXPECT_EQ(device.Read("cnf.ini"), CnfIni(webPort, "next"));
    // The device flags its restart once its answer has gone out.
    for (int i = 0; i < 500 && !fieldgate->ReconfigureRequested(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(fieldgate->ReconfigureRequested());
}

TEST_F(RemoteConfigDevice, WrongPasswordEndsEitherRoadWithTheError)
{
    dialog.password = "wrong";
    local.Write("iec104.cfg", ";kol,0\r\n");
    local.Write("cnf.ini", CnfIni(webPort, "pw"));
    EXPECT_FALSE(desktop::load_all_conf_from_device(Parts(client)));
    EXPECT_FALSE(desktop::Save_all_conf_to_device(Parts(client)));
    ASSERT_EQ(messages.size(), 2u);
    for (const std::string& m : messages)
        EXPECT_EQ(m.rfind("Ошибка HTTP/1.1 401", 0), 0u) << m;
    EXPECT_FALSE(ConfDevWritten());
    EXPECT_EQ(device.Read("iec104.cfg"), ExampleStations({2404}));
    EXPECT_EQ(local.Read("iec104.cfg"), ";kol,0\r\n");
}

// The device's "cnf.ini" holds the password in Windows-1251, as the password
// command writes it; the client sends it so.
TEST_F(RemoteConfigDevice, PasswordInCyrillicOpensBothRoads)
{
    fieldgate.reset();
    device.Write("cnf.ini", Utf8ToCp1251(CnfIni(webPort, "пароль")));
    fieldgate = std::make_unique<TFieldgateService>(device.path() + "/", "127.0.0.1");
    fieldgate->Start();
    ASSERT_EQ(fieldgate->WebPort(), webPort);
    dialog.password = "пароль";
    service.Init();
    ASSERT_TRUE(desktop::load_all_conf_from_device(Parts(client))) << messages.back();
    EXPECT_EQ(local.Read("cnf.ini"), device.Read("cnf.ini"));
    ASSERT_TRUE(desktop::Save_all_conf_to_device(Parts(client))) << messages.back();
}

// A device on loopback that gives each file its scripted answer, bytes as
// they are, and then closes the connection.
class ScriptedDevice {
public:
    explicit ScriptedDevice(std::map<std::string, std::string> answers)
        : answers_(std::move(answers)), peer_([this](Poco::Net::StreamSocket client) { Answer(client); })
    {
    }
    int Port() const { return peer_.Port(); }

private:
    void Answer(Poco::Net::StreamSocket& client) const
    {
        client.setReceiveTimeout(Poco::Timespan(30, 0));
        std::string head;
        char c = 0;
        while (head.find("\r\n\r\n") == std::string::npos && client.receiveBytes(&c, 1) == 1)
            head += c;
        const std::size_t from = head.find('/') + 1;
        const auto it = answers_.find(head.substr(from, head.find(' ', from) - from));
        const std::string answer =
            it == answers_.end() ? "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n" : it->second;
        client.sendBytes(answer.data(), static_cast<int>(answer.size()));
        client.shutdown();
        client.close();
    }

    const std::map<std::string, std::string> answers_;
    LoopbackPeer peer_; // last: it answers from the table above
};

std::string FileAnswer(const std::string& body, std::size_t announced, const char* type = "application/octet-stream")
{
    return "HTTP/1.1 200 OK\r\nContent-Type: " + std::string(type) + "\r\nContent-Length: " + std::to_string(announced)
           + "\r\n\r\n" + body;
}

// A device answer cut short, or one that is no file (a web page of whatever
// answers at that address), is not stored over the program's own files.
TEST_F(RemoteConfig, AnswerCutShortOrNoFileIsNotStored)
{
    const std::string cfg = ExampleStations({2404});
    const std::string cnf = CnfIni(80, "pw");
    const std::string page = "<html><body>Router login</body></html>";
    struct Case {
        const char* what;
        std::map<std::string, std::string> answers;
    } cases[] = {
        {"stations cut short", {{"iec104.cfg", FileAnswer(cfg.substr(0, 40), cfg.size())}}},
        {"a web page", {{"iec104.cfg", FileAnswer(page, page.size(), "text/html")}}},
        {"settings cut short",
         {{"iec104.cfg", FileAnswer(cfg, cfg.size())}, {"cnf.ini", FileAnswer(cnf.substr(0, 20), cnf.size())}}},
    };
    for (const auto& c : cases) {
        local.Write("iec104.cfg", ";kol,0\r\n");
        local.Write("cnf.ini", CnfIni(80, "local"));
        messages.clear();
        ScriptedDevice device(c.answers);
        dialog.port = device.Port();
        desktop::TPocoHttpTransfer client(std::chrono::seconds(30));
        EXPECT_FALSE(desktop::load_all_conf_from_device(Parts(client))) << c.what;
        ASSERT_EQ(messages.size(), 1u) << c.what;
        EXPECT_EQ(messages[0].rfind("Ошибка ", 0), 0u) << c.what << ": " << messages[0];
        // Both files or neither: the station list is not read again after a
        // failure, so a new "iec104.cfg" alone would not be what it shows.
        EXPECT_EQ(local.Read("iec104.cfg"), ";kol,0\r\n") << c.what;
        EXPECT_EQ(local.Read("cnf.ini"), CnfIni(80, "local")) << c.what;
        EXPECT_EQ(stops, 0) << c.what;
    }
}

TEST_F(RemoteConfig, DeviceThatNeverAnswersTimesOut)
{
    Poco::Net::ServerSocket silent(Poco::Net::SocketAddress("127.0.0.1", 0));
    dialog.port = silent.address().port();
    desktop::TPocoHttpTransfer impatient(std::chrono::milliseconds(300));
    local.Write("iec104.cfg", ";kol,0\r\n");
    local.Write("cnf.ini", CnfIni(80, "pw"));
    EXPECT_FALSE(desktop::Save_all_conf_to_device(Parts(impatient)));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Ошибка ", 0), 0u);
    EXPECT_FALSE(ConfDevWritten());
}

} // namespace
} // namespace gw::test
