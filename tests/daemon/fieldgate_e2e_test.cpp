// fieldgate end to end: the real program detaching, watching itself, serving
// its pages and restarting after an uploaded "cnf.ini".

#include "daemon/serviceevents.h"
#include "event_lines.h"
#include "fieldgate_rig.h"

#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/NetException.h>
#include <Poco/StreamCopier.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sys/wait.h>

namespace gw::test {
namespace {

struct Answer {
    int status = 0;
    std::string body;
};

// One request; nothing when no server answers.
std::optional<Answer> Request(int port, const std::string& method, const std::string& path,
                              const std::string& password = "", const std::string& body = "")
{
    try {
        Poco::Net::HTTPClientSession session("127.0.0.1", static_cast<Poco::UInt16>(port));
        session.setTimeout(Poco::Timespan(10, 0));
        Poco::Net::HTTPRequest request(method, path, Poco::Net::HTTPMessage::HTTP_1_1);
        if (!password.empty())
            Poco::Net::HTTPBasicCredentials("", password).authenticate(request);
        request.setContentLength(static_cast<std::streamsize>(body.size()));
        session.sendRequest(request) << body;
        Poco::Net::HTTPResponse response;
        std::istream& in = session.receiveResponse(response);
        Answer answer;
        answer.status = response.getStatus();
        Poco::StreamCopier::copyToString(in, answer.body);
        return answer;
    } catch (const Poco::Exception&) {
        return std::nullopt;
    }
}

// Polls until the page answers 200 (the service starts its web server last).
std::optional<Answer> WaitForPage(int port, const std::string& path, std::chrono::seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto answer = Request(port, "GET", path); answer && answer->status == 200)
            return answer;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return std::nullopt;
}

// Starts the program on a fresh port and waits for its two processes and
// its first page.
FieldgateInstances StartWithPage(FieldgateRig& rig, int port, const std::string& pwd)
{
    rig.Home().Write("cnf.ini", FieldgateRig::CnfIni(port, pwd));
    rig.Start();
    const FieldgateInstances first = rig.WaitInstances();
    EXPECT_NE(first.service, 0) << "no service with its watcher";
    EXPECT_TRUE(WaitForPage(port, "/", std::chrono::seconds(30))) << "no page on port " << port;
    return first;
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(FieldgateProgram, UploadedCnfIniRestartsTheServiceThroughItsWatcherWithTheNewFiles)
{
    FieldgateRig rig;
    const int port = FreePort();
    const FieldgateInstances first = StartWithPage(rig, port, "first");
    ASSERT_FALSE(HasFailure());

    // "iec104.cfg" alone changes nothing in the running service.
    const auto cfg = Request(port, "POST", "/iec104.cfg", "first", ";kol,0\r\n");
    ASSERT_TRUE(cfg);
    EXPECT_EQ(cfg->status, 200);
    EXPECT_EQ(rig.Home().Read("iec104.cfg"), ";kol,0\r\n");

    const int newPort = FreePort();
    const std::string newCnf = FieldgateRig::CnfIni(newPort, "second");
    const auto upload = Request(port, "POST", "/cnf.ini", "first", newCnf);
    ASSERT_TRUE(upload);
    EXPECT_EQ(upload->status, 200);
    EXPECT_EQ(rig.Home().Read("cnf.ini"), newCnf);

    // The service stops with its two lines and exits with status 0 ...
    const int status = rig.WaitExit(first.service, std::chrono::seconds(60));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::vector<std::string> lines = EventLines(rig.Home().path());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(EndsWith(lines[0], " Reconfigure Service ")) << lines[0];
    EXPECT_TRUE(EndsWith(lines[1], " End stop ")) << lines[1];

    // ... and its watcher becomes the service (detaching, so its own process
    // ends at the fork), with a watcher of its own, on the new settings.
    const FieldgateInstances second = rig.WaitInstances();
    ASSERT_NE(second.service, 0);
    EXPECT_EQ(rig.WaitExit(first.watcher, std::chrono::seconds(30)), 0);
    EXPECT_NE(second.service, first.service);
    EXPECT_NE(second.watcher, first.watcher);
    const auto page = WaitForPage(newPort, "/", std::chrono::seconds(30));
    ASSERT_TRUE(page) << "no page on the new port " << newPort;
    const auto download = Request(newPort, "GET", "/cnf.ini", "second");
    ASSERT_TRUE(download);
    EXPECT_EQ(download->status, 200);
    EXPECT_EQ(download->body, newCnf);
    const auto oldPassword = Request(newPort, "GET", "/cnf.ini", "first");
    ASSERT_TRUE(oldPassword);
    EXPECT_EQ(oldPassword->status, 401);
}

TEST(FieldgateProgram, KilledServiceIsTakenOverByItsWatcherWithoutLogLines)
{
    FieldgateRig rig;
    const int port = FreePort();
    const FieldgateInstances first = StartWithPage(rig, port, "pw");
    ASSERT_FALSE(HasFailure());

    ASSERT_EQ(::kill(first.service, SIGTERM), 0);
    const int status = rig.WaitExit(first.service, std::chrono::seconds(30));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;

    const FieldgateInstances second = rig.WaitInstances();
    ASSERT_NE(second.service, 0);
    EXPECT_EQ(rig.WaitExit(first.watcher, std::chrono::seconds(30)), 0);
    EXPECT_NE(second.watcher, first.watcher);
    EXPECT_TRUE(WaitForPage(port, "/", std::chrono::seconds(30)));
    EXPECT_TRUE(EventLines(rig.Home().path()).empty()) << "SIGTERM ends the service without its stop";
}

TEST(FieldgateProgram, FailureNothingCaughtIsReportedWithStatus217)
{
    // A file name that pgrep must not be handed: the start fails before
    // anything runs.
    TempDir home;
    const std::string program = home.File("fg bad");
    std::filesystem::copy_file(FIELDGATE_PROGRAM, program);
    const std::string command = "FIELDGATE_HOME='" + home.path() + "' FIELDGATE_TEST_NO_REBOOT=1 '" + program +
                                "' 2>'" + home.File("stderr") + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 217);
    EXPECT_EQ(home.Read("stderr").rfind("fieldgate: unhandled failure: program name for pgrep", 0), 0u)
        << home.Read("stderr");
}

} // namespace
} // namespace gw::test
