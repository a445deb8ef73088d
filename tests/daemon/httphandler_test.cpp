#include "daemon/httphandler.h"

#include "core/cp1251.h"
#include "testkit/temp_dir.h"

#include <Poco/Base64Encoder.h>
#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/StreamCopier.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace gw {
namespace {

namespace fs = std::filesystem;
using Poco::Net::HTTPRequest;

constexpr const char* Password = "s3cret";
constexpr std::size_t Cap = 4096;

// The device's files: "iec104.cfg" with Windows-1251 text and CR LF lines,
// "cnf.ini" with its password line.
const std::string Cfg = Utf8ToCp1251("KP,ПС-1,10.0.0.1,2404\r\nTIT,Ua,1,100\r\n");
const std::string Cnf = "[UseWebServer]\nUseWebServer=1\n[pwd]\npwd=s3cret\n";

struct Answer {
    int status = 0;
    std::string body;
    Poco::Net::HTTPResponse head;
};

std::string Base64(const std::string& text)
{
    std::ostringstream out;
    Poco::Base64Encoder encoder(out);
    encoder << text;
    encoder.close();
    return out.str();
}

// A service directory "svc" with its web folder; beside it files that no
// request may reach.
class HttpHandler : public ::testing::Test {
protected:
    HttpHandler() { Start(Password); }

    void Start(const std::string& transferPassword)
    {
        server.reset();
        fs::create_directories(root.File("svc/web/css"));
        root.Write("svc/iec104.cfg", Cfg);
        root.Write("svc/cnf.ini", Cnf);
        root.Write("svc/web/index-7.html", "<p>about</p>");
        root.Write("svc/web/css/style.css", "td {}");
        root.Write("svc/web/logo.png", std::string("\x89PNG\r\n\x1a\n\0\0", 10));
        root.Write("secret.css", "outside");
        root.Write("cnf.ini", "pwd=outside");
        server = std::make_unique<TFieldgateWeb>(
            THttpSettings{Dir(), transferPassword, Cap},
            [] {
                TWebSnapshot snap;
                snap.Stations.resize(1);
                snap.Stations[0].NameKP = "Sever";
                return snap;
            },
            reconfigure, "127.0.0.1", 0);
    }

    std::string Dir() const { return root.File("svc/"); }

    Answer Send(const std::string& method, const std::string& uri, const std::string& body = "",
                std::optional<std::string> password = std::nullopt) const
    {
        Poco::Net::HTTPClientSession session("127.0.0.1", server->Port());
        return Send(session, method, uri, body, password);
    }

    static Answer Send(Poco::Net::HTTPClientSession& session, const std::string& method, const std::string& uri,
                       const std::string& body, std::optional<std::string> password)
    {
        HTTPRequest request(method, uri, Poco::Net::HTTPMessage::HTTP_1_1);
        if (password)
            Poco::Net::HTTPBasicCredentials("opcstation", *password).authenticate(request);
        if (method == HTTPRequest::HTTP_POST)
            request.setContentLength(static_cast<std::streamsize>(body.size()));
        session.sendRequest(request) << body;
        Answer answer;
        std::istream& in = session.receiveResponse(answer.head);
        Poco::StreamCopier::copyToString(in, answer.body);
        answer.status = answer.head.getStatus();
        return answer;
    }

    // The first line of the answer to a request written byte for byte.
    std::string Raw(const std::string& request) const
    {
        Poco::Net::StreamSocket socket(Poco::Net::SocketAddress("127.0.0.1", server->Port()));
        socket.setReceiveTimeout(Poco::Timespan(10, 0));
        socket.sendBytes(request.data(), static_cast<int>(request.size()));
        std::string answer;
        char buffer[1024];
        while (answer.find("\r\n") == std::string::npos) {
            const int n = socket.receiveBytes(buffer, sizeof buffer);
            if (n <= 0)
                break;
            answer.append(buffer, static_cast<std::size_t>(n));
        }
        return answer.substr(0, answer.find("\r\n"));
    }

    bool WaitReconfigure() const
    {
        for (int i = 0; i < 500 && !reconfigure.Get(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return reconfigure.Get();
    }

    test::TempDir root;
    TShared<bool> reconfigure;
    std::unique_ptr<TFieldgateWeb> server;
};

TEST_F(HttpHandler, RoutesPagesAndFiles)
{
    struct Case {
        const char* method;
        const char* uri;
        int status;
        const char* type;  // "" when not checked
        const char* cache; // "-" when absent
    } cases[] = {
        {"GET", "/", 200, "text/html; charset=windows-1251", "no-cache"},
        {"GET", "/titek.php?p_ti=all", 200, "text/html; charset=windows-1251", "no-cache"},
        {"GET", "/tstek.php", 200, "text/html; charset=windows-1251", "no-cache"},
        {"GET", "/config.php", 200, "text/html; charset=windows-1251", "no-cache"},
        {"GET", "/reg.php", 200, "text/html; charset=windows-1251", "no-cache"},
        {"GET", "/index-7.html", 200, "text/html; charset=windows-1251", "no-cache"},
        {"GET", "/css/style.css", 200, "text/css", "-"},
        {"GET", "/logo.png", 200, "image/png", "-"},
        {"GET", "/missing.html", 404, "", "-"},
        {"GET", "/TITEK.PHP", 404, "", "-"},
        {"HEAD", "/titek.php", 200, "", "-"},
        {"HEAD", "/cnf.ini", 200, "", "-"}, // no authentication, no body
    };
    for (const auto& c : cases) {
        const Answer a = Send(c.method, c.uri);
        EXPECT_EQ(a.status, c.status) << c.method << " " << c.uri;
        if (*c.type) {
            EXPECT_EQ(a.head.getContentType(), c.type) << c.uri;
        }
        EXPECT_EQ(a.head.get("Cache-Control", "-"), c.cache) << c.uri;
        if (c.status == 404 || std::string_view(c.method) == "HEAD") {
            EXPECT_EQ(a.body, "") << c.uri;
        }
    }
    const Answer page = Send("GET", "/titek.php");
    std::string type, cache, content;
    server->Pages().WebGetPage("GET", "/titek.php", "", type, cache, content);
    EXPECT_EQ(page.body, content);
    EXPECT_EQ(Send("GET", "/logo.png").body, root.Read("svc/web/logo.png"));
}

TEST_F(HttpHandler, DownloadsBehindThePassword)
{
    EXPECT_EQ(Send("GET", "/iec104.cfg", "", Password).body, Cfg);
    const Answer cnf = Send("GET", "/cnf.ini", "", Password);
    EXPECT_EQ(cnf.status, 200);
    EXPECT_EQ(cnf.head.getContentType(), "application/octet-stream");
    EXPECT_EQ(cnf.body, Cnf); // the password line included

    const Answer probe = Send("GET", "/test.cfg", "", Password);
    EXPECT_EQ(probe.status, 200);
    EXPECT_EQ(probe.body, "");
    EXPECT_EQ(Send("GET", "/missing_cnf.ini", "", Password).status, 500);

    for (const std::optional<std::string>& wrong :
         {std::optional<std::string>{}, std::optional<std::string>{"S3CRET"}, std::optional<std::string>{""}}) {
        for (const char* doc : {"/iec104.cfg", "/cnf.ini", "/test.cfg"}) {
            const Answer a = Send("GET", doc, "", wrong);
            EXPECT_EQ(a.status, 401) << doc;
            EXPECT_EQ(a.head.get("WWW-Authenticate", ""), "Basic realm=\"Varmoskat. Enter your password \"");
            EXPECT_EQ(a.head.getContentType(), "text/html");
            EXPECT_EQ(a.body.find(Cnf), std::string::npos);
        }
    }
}

// "cnf.ini" is Windows-1251 and opcstation sends the password so; a browser
// or curl sends UTF-8. Either form of the password is the password.
TEST_F(HttpHandler, PasswordOutsideAsciiInWindows1251OrUtf8)
{
    struct Case {
        const char* pwd; // as "cnf.ini" reads, UTF-8
        std::string sent;
        int status;
    } cases[] = {
        {"пароль", Utf8ToCp1251("пароль"), 200},
        {"пароль", "пароль", 200},
        {"пароль", Utf8ToCp1251("Пароль"), 401},
        {"пароль", "??????", 401},
        {"密码", "密码", 200}, // a "cnf.ini" saved as UTF-8 can hold it
        {"密码", "??", 401},   // what Windows-1251 would make of it is no password
    };
    for (const auto& c : cases) {
        Start(c.pwd);
        EXPECT_EQ(Send("GET", "/cnf.ini", "", c.sent).status, c.status) << c.pwd << " " << c.sent;
        EXPECT_EQ(Send("POST", "/test.cfg", "probe", c.sent).status, c.status) << c.pwd << " " << c.sent;
    }
}

TEST_F(HttpHandler, UploadsReplaceFilesKeepingTheirMode)
{
    ::chmod(Dir().append("iec104.cfg").c_str(), 0600);
    const std::string cfg2 = Utf8ToCp1251("KP,2,1,ПС-2,10.0.0.2\r\n") + std::string("\t\xff", 2);
    EXPECT_EQ(Send("POST", "/iec104.cfg", cfg2, Password).status, 200);
    EXPECT_EQ(root.Read("svc/iec104.cfg"), cfg2);
    struct stat st {};
    ASSERT_EQ(::stat(Dir().append("iec104.cfg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_FALSE(reconfigure.Get()); // the configuration alone restarts nothing

    EXPECT_EQ(Send("POST", "/web/index-7.html", "<p>new</p>", Password).status, 200);
    EXPECT_EQ(Send("GET", "/index-7.html").body, "<p>new</p>\n");
    EXPECT_EQ(Send("POST", "/test.cfg", "probe", Password).status, 200);
    EXPECT_FALSE(fs::exists(Dir() + "test.cfg"));
    EXPECT_FALSE(reconfigure.Get());

    struct Failing {
        const char* doc;
        const char* body;
    } failing[] = {{"/cnf.ini", ""}, {"/", "x"}, {"/no/such/dir/cnf.ini", "x"}, {"/web/", "x"}};
    for (const auto& f : failing) {
        const Answer a = Send("POST", f.doc, f.body, Password);
        EXPECT_EQ(a.status, 500) << f.doc;
        EXPECT_FALSE(a.body.empty()) << f.doc;
    }
    EXPECT_EQ(root.Read("svc/cnf.ini"), Cnf);
    EXPECT_FALSE(reconfigure.Get());
    for (const auto& entry : fs::directory_iterator(Dir()))
        EXPECT_EQ(entry.path().filename().string().find(".XXXXXX"), std::string::npos) << entry.path();

    const std::string cnf2 = "[pwd]\npwd=other\n";
    EXPECT_EQ(Send("POST", "/old_cnf.ini.txt", cnf2, Password).status, 200);
    EXPECT_EQ(root.Read("svc/old_cnf.ini.txt"), cnf2);
    EXPECT_TRUE(WaitReconfigure());
    // The running service keeps the password it started with.
    EXPECT_EQ(Send("GET", "/cnf.ini", "", Password).status, 200);
}

TEST_F(HttpHandler, CnfIniUploadAnswersThenAsksForTheRestart)
{
    const std::string cfg = "KP,2,1,Yug,10.0.0.2\r\n";
    EXPECT_EQ(Send("POST", "/iec104.cfg", cfg, Password).status, 200);
    EXPECT_FALSE(reconfigure.Get());
    EXPECT_EQ(Send("POST", "/cnf.ini", "[pwd]\npwd=next\n", Password).status, 200);
    EXPECT_TRUE(WaitReconfigure());
    EXPECT_EQ(root.Read("svc/cnf.ini"), "[pwd]\npwd=next\n");
    EXPECT_EQ(root.Read("svc/iec104.cfg"), cfg);
}

// The reason of a refused configuration quotes the file's own text, in the
// file's code page, and the stored file stays as it was.
TEST_F(HttpHandler, ConfigurationThatWouldNotBeReadWholeIsRefusedWithTheReason)
{
    Poco::Net::HTTPClientSession session("127.0.0.1", server->Port());
    session.setKeepAlive(true);
    const Answer a = Send(session, "POST", "/cnf.ini", Utf8ToCp1251("[Port_WebServ]\nPort_WebServ=восемь\n"), Password);
    EXPECT_EQ(a.status, 400);
    EXPECT_EQ(a.head.getContentType(), "text/plain; charset=windows-1251");
    EXPECT_EQ(a.body, Utf8ToCp1251("cnf.ini, line 2, Port_WebServ: \"восемь\" is not a port number 1..65535"));
    EXPECT_EQ(Send(session, "GET", "/cnf.ini", "", Password).body, Cnf);
    EXPECT_EQ(Send("POST", "/web/../iec104.cfg", "KP,1", Password).status, 403);
    for (const char* doc : {"/./iec104.cfg", "//iec104.cfg", "///iec104.cfg"})
        EXPECT_EQ(Send("POST", doc, "KP,1", Password).status, 400) << doc;
    EXPECT_EQ(root.Read("svc/iec104.cfg"), Cfg);
    EXPECT_FALSE(reconfigure.Get());
}

TEST_F(HttpHandler, HostileRequestsAreRefused)
{
    const std::string auth = "Authorization: Basic " + Base64(std::string(":") + Password) + "\r\n";
    struct Case {
        const char* what;
        std::string request;
        const char* status;
    } cases[] = {
        {"traversal", "GET /../secret.css HTTP/1.1\r\nHost: x\r\n\r\n", "404"},
        {"encoded traversal", "GET /%2e%2e/secret.css HTTP/1.1\r\nHost: x\r\n\r\n", "404"},
        {"encoded slash", "GET /..%2fcnf.ini HTTP/1.1\r\nHost: x\r\n" + auth + "\r\n", "404"},
        {"deep traversal", "GET /css/../../cnf.ini HTTP/1.1\r\nHost: x\r\n" + auth + "\r\n", "404"},
        {"NUL byte", "GET /css/style.css%00.png HTTP/1.1\r\nHost: x\r\n\r\n", "404"},
        {"no slash", "GET titek.php HTTP/1.1\r\nHost: x\r\n\r\n", "404"},
        {"bad escape", "GET /%zz HTTP/1.1\r\nHost: x\r\n\r\n", "400"},
        {"unknown method", "BREW /titek.php HTTP/1.1\r\nHost: x\r\n\r\n", "405"},
        {"PUT", "PUT /cnf.ini HTTP/1.1\r\nHost: x\r\n" + auth + "Content-Length: 1\r\n\r\nx", "405"},
        {"upload traversal", "POST /../evil_cnf.ini HTTP/1.1\r\nHost: x\r\n" + auth + "Content-Length: 1\r\n\r\nx",
         "403"},
        {"upload NUL", "POST /evil%00cnf.ini HTTP/1.1\r\nHost: x\r\n" + auth + "Content-Length: 1\r\n\r\nx", "403"},
        {"upload no slash", "POST evil_cnf.ini HTTP/1.1\r\nHost: x\r\n" + auth + "Content-Length: 1\r\n\r\nx", "403"},
        {"huge body", "POST /cnf.ini HTTP/1.1\r\nHost: x\r\n" + auth + "Content-Length: 100000000\r\n\r\n", "413"},
        // Authentication comes before the body is looked at.
        {"huge body, no password", "POST /cnf.ini HTTP/1.1\r\nHost: x\r\nContent-Length: 100000000\r\n\r\n", "401"},
        {"other scheme", "GET /cnf.ini HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer s3cret\r\n\r\n", "401"},
        {"bad base64", "GET /cnf.ini HTTP/1.1\r\nHost: x\r\nAuthorization: Basic !!!\r\n\r\n", "401"},
        // No length and not chunked: no body, and no wait for the client to close.
        {"upload without a length", "POST /cnf.ini HTTP/1.1\r\nHost: x\r\n" + auth + "\r\n", "500"},
        {"garbage", "\x01\x02 nonsense\r\n\r\n", "400"},
    };
    for (const auto& c : cases) {
        const std::string line = Raw(c.request);
        EXPECT_EQ(line.substr(0, 12), std::string("HTTP/1.1 ") + c.status) << c.what << ": " << line;
    }
    EXPECT_EQ(root.Read("cnf.ini"), "pwd=outside");
    EXPECT_EQ(root.Read("svc/cnf.ini"), Cnf);
    EXPECT_FALSE(fs::exists(root.File("evil_cnf.ini")));
    EXPECT_FALSE(fs::exists(Dir() + "evil_cnf.ini"));
    EXPECT_FALSE(reconfigure.Get());
}

TEST_F(HttpHandler, RefusedUploadKeepsTheConnectionUsable)
{
    Poco::Net::HTTPClientSession session("127.0.0.1", server->Port());
    session.setKeepAlive(true);
    EXPECT_EQ(Send(session, "POST", "/cnf.ini", "body the server drops", "wrong").status, 401);
    EXPECT_EQ(Send(session, "GET", "/cnf.ini", "", Password).body, Cnf);
    EXPECT_EQ(root.Read("svc/cnf.ini"), Cnf);
}

TEST_F(HttpHandler, EmptyPwdRefusesEveryTransfer)
{
    Start("");
    for (const std::optional<std::string>& pwd : {std::optional<std::string>{}, std::optional<std::string>{""}}) {
        EXPECT_EQ(Send("GET", "/iec104.cfg", "", pwd).status, 401);
        EXPECT_EQ(Send("GET", "/test.cfg", "", pwd).status, 401);
        EXPECT_EQ(Send("POST", "/iec104.cfg", "x", pwd).status, 401);
        EXPECT_EQ(Send("POST", "/cnf.ini", "x", pwd).status, 401);
    }
    EXPECT_EQ(root.Read("svc/iec104.cfg"), Cfg);
    EXPECT_EQ(Send("GET", "/titek.php").status, 200);
    EXPECT_FALSE(reconfigure.Get());
}

std::string RunCommand(const std::string& command)
{
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

TEST_F(HttpHandler, CurlDownloadsAndUploadsBothFiles)
{
    const std::string base = "http://127.0.0.1:" + std::to_string(server->Port());
    const std::string curl = std::string("curl -s -u :") + Password + " ";
    root.Write("cfg.out", "");
    EXPECT_EQ(RunCommand(curl + "-o " + root.File("cfg.out") + " -w '%{http_code}' " + base + "/iec104.cfg"), "200");
    EXPECT_EQ(root.Read("cfg.out"), Cfg);
    EXPECT_EQ(RunCommand(curl + base + "/cnf.ini"), Cnf);
    EXPECT_EQ(RunCommand("curl -s -u :nope -o /dev/null -w '%{http_code}' " + base + "/cnf.ini"), "401");

    const std::string cfg2 = Utf8ToCp1251("KP,9,1,ПС-9,10.0.0.9\r\n");
    root.Write("cfg.new", cfg2);
    root.Write("cnf.new", "[pwd]\npwd=later\n");
    EXPECT_EQ(RunCommand(curl + "-o /dev/null -w '%{http_code}' --data-binary @" + root.File("cfg.new") + " " + base
                         + "/iec104.cfg"),
              "200");
    EXPECT_FALSE(reconfigure.Get());
    EXPECT_EQ(RunCommand(curl + "-o /dev/null -w '%{http_code}' --data-binary @" + root.File("cnf.new") + " " + base
                         + "/cnf.ini"),
              "200");
    EXPECT_EQ(root.Read("svc/iec104.cfg"), cfg2);
    EXPECT_EQ(root.Read("svc/cnf.ini"), "[pwd]\npwd=later\n");
    EXPECT_TRUE(WaitReconfigure());
}

// A port that another server holds, even one that lets others share it, is
// refused: a second service must not take half of the requests, uploads
// included, of the first.
TEST_F(HttpHandler, PortInUseIsRefused)
{
    Poco::Net::ServerSocket shared;
    shared.bind(Poco::Net::SocketAddress("127.0.0.1", 0), true, true);
    shared.listen();
    const std::uint16_t taken = shared.address().port();
    TShared<bool> other;
    EXPECT_THROW(TFieldgateWeb(
                     THttpSettings{Dir(), Password, Cap}, [] { return TWebSnapshot{}; }, other, "127.0.0.1", taken),
                 Poco::Net::NetException);
    EXPECT_THROW(
        TFieldgateWeb(
            THttpSettings{Dir(), Password, Cap}, [] { return TWebSnapshot{}; }, other, "127.0.0.1", server->Port()),
        Poco::Net::NetException);
}

} // namespace
} // namespace gw
