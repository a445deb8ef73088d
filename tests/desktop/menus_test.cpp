// The main window's other commands, the web server's answers and the
// pages it serves while polling.

#include "desktop_fixture.h"

#include "desktop/about_dialog.h"
#include "desktop/desktop_service.h"
#include "desktop/guarded_application.h"
#include "desktop/main_window.h"
#include "desktop/opcda_registration.h"
#include "desktop/opcda_server.h"
#include "desktop/texts.h"
#include "desktop/web_answer.h"
#include "service/tables.h"

#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/StreamCopier.h>

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QTimer>

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>

namespace gw::test {
namespace {

class RecordingRegistration final : public desktop::TOpcDaRegistration {
public:
    void RegisterOPCProgID(const std::string& id) override { calls.push_back("ProgID " + id); }
    void RegisterOPCServer() override { calls.push_back("Server"); }
    void UnRegisterOPCProgID(const std::string& id) override { calls.push_back("UnProgID " + id); }
    void UnRegisterOPCServer() override { calls.push_back("UnServer"); }
    std::vector<std::string> calls;
};

// Registry writes refused, as without the rights to them.
class RefusedRegistration final : public desktop::TOpcDaRegistration {
public:
    void RegisterOPCProgID(const std::string&) override { throw std::runtime_error("access denied"); }
    void RegisterOPCServer() override {}
    void UnRegisterOPCProgID(const std::string&) override { throw std::runtime_error("access denied"); }
    void UnRegisterOPCServer() override {}
};

class Menus : public ::testing::Test {
protected:
    void SetUp() override
    {
        temp.Write("iec104.cfg", ";kol,0\r\n");
        temp.Write("cnf.ini", "[Save_Obmen_v_File]\r\nSave_Obmen_v_File=1\r\n");
        form.SetRegistration(registration);
        form.SetShellOpen([this](const std::string& path) { opened.push_back(path); });
        form.FormCreate();
    }
    QAction* Action(const char* name) { return form.findChild<QAction*>(name); }

    TempDir temp;
    desktop::TDesktopService service{temp.path(), false};
    desktop::TNullOpcDaServer opcDa;
    RecordingPrompts prompts;
    desktop::TOPCForm form{service, opcDa, prompts, false};
    RecordingRegistration registration;
    std::vector<std::string> opened;
};

TEST_F(Menus, LogSwitchStartsFromTheFileAndNeverWritesIt)
{
    const std::string cnf = temp.Read("cnf.ini");
    QAction* n15 = Action("N15");
    // "cnf.ini" turned the logs on: the item offers to turn them off.
    EXPECT_EQ(n15->text(), QString::fromUtf8(desktop::texts::LogOff));
    n15->trigger();
    EXPECT_FALSE(service.Context().Switches.Save_Obmen_v_File.Get());
    EXPECT_EQ(n15->text(), QString::fromUtf8(desktop::texts::LogOn));
    EXPECT_TRUE(prompts.infos.empty());
    n15->trigger();
    EXPECT_TRUE(service.Context().Switches.Save_Obmen_v_File.Get());
    EXPECT_EQ(prompts.infos, std::vector<std::string>{desktop::texts::LogOnAdvice});
    EXPECT_EQ(temp.Read("cnf.ini"), cnf);
}

TEST_F(Menus, RegistrationHelpAndTheWindowWithoutATray)
{
    Action("N10")->trigger();
    Action("N11")->trigger();
    EXPECT_EQ(registration.calls, (std::vector<std::string>{"ProgID Norvane.OPCServer", "Server",
                                                            "UnProgID Norvane.OPCServer", "UnServer"}));
    Action("N16")->trigger();
    EXPECT_EQ(opened, std::vector<std::string>{temp.path() + "/Norvane.doc"});
    // Headless there is no notification area: the window shows, and a
    // minimise does not hide it where nothing could bring it back.
    EXPECT_TRUE(form.isVisible());
    form.showMinimized();
    QCoreApplication::processEvents();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(Action("ReadRemote")->isVisible());
    EXPECT_TRUE(prompts.infos.empty());
}

TEST_F(Menus, AFailingCommandLandsInTheExceptionLogAndTheWindowGoesOn)
{
    auto& app = *static_cast<desktop::TGuardedApplication*>(qApp);
    app.SetLogDir(temp.path());
    RefusedRegistration refused;
    form.SetRegistration(refused);
    // Through the event loop, as a click on the menu comes.
    QTimer::singleShot(0, &form, [this] { Action("N10")->trigger(); });
    QTimer::singleShot(0, &form, [this] { Action("N11")->trigger(); });
    QTimer::singleShot(0, &form, [this] { Action("N16")->trigger(); });
    QCoreApplication::processEvents();
    app.SetLogDir({});
    const std::string log = temp.Read("error_iec104.log");
    EXPECT_TRUE(std::regex_match(log, std::regex("([^\r]*: access denied \\. Class Name = std::runtime_error\r\n){2}")))
        << log;
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_TRUE(prompts.infos.empty());
}

TEST(About, ConfiguratorLineOnlyInConfiguratorMode)
{
    desktop::TAboutBox normal(false), configurator(true);
    EXPECT_EQ(normal.findChild<QLabel*>("ConfiguratorLine"), nullptr);
    ASSERT_NE(configurator.findChild<QLabel*>("ConfiguratorLine"), nullptr);
    EXPECT_EQ(configurator.findChild<QLabel*>("ConfiguratorLine")->text(), "Конфигуратор для Linux версии");
    EXPECT_EQ(normal.findChild<QLabel*>("Version")->text(), "Version 1.19");
}

TEST(WebAnswer, FromTheDispatchersResult)
{
    struct Case {
        const char* type;
        const char* content;
        int status;
        const char* sentType;
        bool file;
    };
    const Case cases[] = {
        {"text/html", "", 404, "text/html", false},
        {"text/html", "<p>", 200, "text/html; charset=windows-1251", false},
        {"text/css", "a{}", 200, "text/css", false},
        {"image/png", "/x/web/a.png", 200, "image/png", true},
        {"application/octet-stream", "/x/iec104.cfg", 404, "application/octet-stream", false},
    };
    for (const Case& c : cases) {
        const desktop::TWebAnswer a = desktop::DesktopWebAnswer(c.type, "no-cache", c.content);
        EXPECT_EQ(a.status, c.status) << c.type;
        EXPECT_EQ(a.contentType, c.sentType);
        EXPECT_EQ(!a.filePath.empty(), c.file) << c.type;
        EXPECT_EQ(a.body.empty(), c.file || c.status == 404) << c.type;
        EXPECT_EQ(a.cacheControl, "no-cache");
    }
    EXPECT_EQ(desktop::WebServerPort(65536 + 8080), 8080);
    EXPECT_EQ(desktop::WebServerPort(65536), 0);
}

TEST(DesktopWebServer, ServesPagesWhilePollingAndRefusesConfigurationFiles)
{
    TempDir temp;
    int port = 0;
    {
        Poco::Net::ServerSocket probe(Poco::Net::SocketAddress("127.0.0.1", 0));
        port = probe.address().port();
    }
    temp.Write("iec104.cfg", ";kol,0\r\n");
    desktop::TDesktopService service(temp.path(), false, "127.0.0.1");
    service.Init();
    service.Context().Switches.UseWebServer = true;
    service.Context().Switches.Port_WebServ = port + 65536; // the low 16 bits count
    service.Start();
    ASSERT_EQ(service.WebPort(), port);
    auto get = [port](const std::string& path, std::string& body) {
        Poco::Net::HTTPClientSession session("127.0.0.1", static_cast<Poco::UInt16>(port));
        Poco::Net::HTTPRequest request("GET", path, Poco::Net::HTTPRequest::HTTP_1_1);
        session.sendRequest(request);
        Poco::Net::HTTPResponse response;
        Poco::StreamCopier::copyToString(session.receiveResponse(response), body);
        return std::make_pair(static_cast<int>(response.getStatus()), response.getContentType());
    };
    std::string body;
    const auto [status, type] = get("/", body);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(type, "text/html; charset=windows-1251");
    body.clear();
    EXPECT_EQ(get("/iec104.cfg", body).first, 404);
    EXPECT_EQ(body.find(temp.path()), std::string::npos);
    service.Stop();
    EXPECT_EQ(service.WebPort(), 0);
}

} // namespace
} // namespace gw::test
