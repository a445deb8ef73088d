#include "web/webpages.h"

#include "core/cp1251.h"
#include "core/tags.h"
#include "support/dates.h"
#include "testkit/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace gw {
namespace {

using test::At;

std::string Golden(const char* name)
{
    std::ifstream in(std::string(GATEWAY_SOURCE_DIR) + "/tests/web/golden/" + name, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    EXPECT_FALSE(all.str().empty()) << name;
    return all.str();
}

TWebTag Tag(const char* name, int sst, TWebSignalKind kind, int asdu, int ioa)
{
    TWebTag t;
    t.FName = name;
    t.FsstID = sst;
    t.Kind = kind;
    t.FAsduAddress = asdu;
    t.FObjAddress = ioa;
    return t;
}

// Two stations: "Sever" connected, scaling, three hours of correction;
// "Юг" not connected.
TWebSnapshot TwoStations()
{
    TWebSnapshot snap;
    TWebStation sever;
    sever.NameKP = "Sever";
    sever.Connected = true;
    sever.PereschetTI = true;
    sever.Popravka_Time = 3;
    TWebStation yug;
    yug.NameKP = "Юг";
    snap.Stations = {sever, yug};

    TWebTag ua = Tag("Ua", 1001, TWebSignalKind::TIT, 1, 100);
    ua.FValue = 12.5;
    ua.Stamp = At(2026, 12, 9, 10, 20, 30, 456);
    ua.EngValue = 250;
    TWebTag ub = Tag("Ub", 1001, TWebSignalKind::TIT, 1, 101); // no value yet
    ub.Quality = 128;
    ub.EngValue = -3.25;
    TWebTag q1 = Tag("Q1", 1001, TWebSignalKind::TS, 1, 200);
    q1.IValue = 1;
    q1.Stamp = At(2026, 12, 9, 23, 59, 59, 999);
    TWebTag p = Tag("P", 1002, TWebSignalKind::TIT, 2, 7);
    p.FValue = 1e20;
    p.Quality = 1;
    p.Stamp = At(2026, 1, 2, 3, 4, 5, 6);
    TWebTag q2 = Tag("Q2", 1002, TWebSignalKind::TS, 2, 300);
    TWebTag q3 = Tag("Q3", 1001, TWebSignalKind::TS, 1, 201); // no value yet
    q3.Quality = 128;
    TWebTag other = Tag("X", 1001, TWebSignalKind::Other, 1, 900);
    snap.Tags = {ua, q1, ub, other, p, q2, q3};
    return snap;
}

struct Page {
    std::string type, cache, content;
};

Page Get(const TWebPages& pages, std::string_view doc, std::string_view query = "")
{
    Page p;
    pages.WebGetPage("GET", doc, query, p.type, p.cache, p.content);
    return p;
}

TWebPages PagesOf(TWebSnapshot snap, std::string dir = "/nonexistent/")
{
    return TWebPages(std::move(dir), [snap] { return snap; });
}

TEST(WebPages, GoldenPagesByteForByte)
{
    // The station table also shows a passive station and one that is gone.
    TWebSnapshot snap = TwoStations();
    TPrmn a;
    a.Port = 2404;
    a.t0 = 30000, a.t1 = 15000, a.t2 = 10000, a.t3 = 20000, a.kMax = 12, a.wMax = 8;
    a.CommonAsduAddress = 1, a.sz_ASDUAddress = 2, a.sz_InfObjAddress = 3, a.sz_COT = 2;
    a.ReceiveBufferLength = 777; // not shown
    auto& sever = snap.Stations[0];
    sever.IP = "192.168.1.10", sever.IP_tek = "192.168.1.10", sever.Port_tek = 2404;
    sever.ASDU_Adr = 1, sever.Kol_TI = 2, sever.Kol_TS = 1, sever.Time_To_OPC = true;
    sever.Link = a;
    auto& yug = snap.Stations[1];
    yug.Passive = true, yug.IP = "IP2", yug.Connected = true, yug.ASDU_Adr = 7, yug.Kol_TS = 4;
    TPrmn b;
    b.Port = 2405;
    std::int32_t v = 1;
    for (std::int32_t* f :
         {&b.t0, &b.t1, &b.t2, &b.t3, &b.kMax, &b.wMax, &b.OriginatorAddress, &b.LinkAddress1, &b.sz_LinkAddress,
          &b.PollingCycle, &b.ConfirmationTimeout, &b.TerminationTimeout, &b.RetryCount, &b.RetryTimeOut,
          &b.CommonAsduAddress, &b.sz_ASDUAddress, &b.sz_InfObjAddress, &b.sz_COT})
        *f = v++;
    yug.Link = b;
    TWebStation zapad;
    zapad.NameKP = "Запад", zapad.IP = "10.0.0.3", zapad.ASDU_Adr = 3, zapad.Popravka_Time = -2;
    zapad.Port_tek = 2404; // a stale address of a connection that is gone
    TPrmn c;
    c.Port = 2404;
    zapad.Link = c;
    snap.Stations.push_back(zapad);
    const TWebPages pages = PagesOf(TwoStations());
    const Page ti = Get(pages, "/titek.php");
    EXPECT_EQ(ti.type, "text/html");
    EXPECT_EQ(ti.cache, "no-cache");
    EXPECT_EQ(ti.content, Golden("titek.html"));
    EXPECT_EQ(Get(pages, "/").content, ti.content);
    EXPECT_EQ(Get(pages, "/tstek.php", "p_ts=Sever").content, Golden("tstek.html"));
    EXPECT_EQ(Get(PagesOf(snap), "/config.php").content, Golden("config.html"));
    EXPECT_EQ(Get(pages, "/reg.php").content, Golden("reg.html"));
    const std::string arch = Get(pages, "/arch.php").content;
    EXPECT_NE(arch.find(Utf8ToCp1251("<title>Архив измерений. Web-интерфейс ОРС-сервера.</title>")), std::string::npos);
}

int CountRows(const std::string& content) // data rows, not the header
{
    int n = 0;
    for (std::size_t at = content.find("<tr class="); at != std::string::npos; at = content.find("<tr class=", at + 1))
        ++n;
    return n;
}

bool HasShowAll(const std::string& content) { return content.find("class=\"button\"") != std::string::npos; }

TEST(WebPages, RowLimitWithoutQuery)
{
    struct Case {
        int tags;
        const char* query;
        int rows;
        bool link;
    } cases[] = {
        {719, "", 719, false}, {720, "", 719, true}, {720, "p_ti=all", 720, false}, {900, "p_ti=Sever", 900, false}};
    for (const auto& c : cases) {
        TWebSnapshot snap;
        snap.Stations.resize(1);
        snap.Stations[0].NameKP = "Sever";
        for (int i = 0; i < c.tags; ++i)
            snap.Tags.push_back(Tag("t", 1001, TWebSignalKind::TS, 1, i));
        const std::string content = Get(PagesOf(snap), "/tstek.php", c.query).content;
        EXPECT_EQ(CountRows(content), c.rows) << c.tags << " " << c.query;
        EXPECT_EQ(HasShowAll(content), c.link) << c.tags << " " << c.query;
        if (c.link) {
            EXPECT_NE(content.find("<a href=\"tstek.php?p_ti=all\" class=\"button\">"), std::string::npos);
        }
    }
}

TEST(WebPages, StationSelectionByRawOrDecodedQuery)
{
    const TWebPages pages = PagesOf(TwoStations());
    const std::string marked = Utf8ToCp1251("<OPTION selected value = Юг>Юг");
    struct Case {
        const char* query;
        int rows;      // rows of "Юг" on the measured-value page
        bool selected; // its option marked
    } cases[] = {
        {"p_ti=Юг", 1, true},           // as the program holds the name
        {"p_ti=%DE%E3", 1, true},       // a browser on this Windows-1251 page
        {"p_ti=%D0%AE%D0%B3", 1, true}, // percent-encoded UTF-8
        {"p_ts=%DE%E3", 1, false},      // listed, but not marked
        {"p_ti=%D", 0, false},          // a bad escape selects nothing
        {"p_ti=nobody", 0, false},      // names no station: nothing listed
        {"p_ti=all", 3, false},
    };
    for (const auto& c : cases) {
        const std::string content = Get(pages, "/titek.php", c.query).content;
        EXPECT_EQ(CountRows(content), c.rows) << c.query;
        EXPECT_EQ(content.find(marked) != std::string::npos, c.selected) << c.query;
    }
}

TEST(WebPages, NamesAreEscaped)
{
    TWebSnapshot snap;
    snap.Stations.resize(2);
    snap.Stations[0].NameKP = "A&B <x>";
    snap.Stations[0].IP = "h\"ost";
    snap.Stations[1].NameKP = "ПС 2";
    snap.Stations[0].Link = TPrmn{};
    snap.Stations[1].Link = TPrmn{};
    snap.Tags.push_back(Tag("<script>", 1001, TWebSignalKind::TIT, 1, 1));
    const TWebPages pages = PagesOf(snap);
    const std::string ti = Get(pages, "/titek.php").content;
    EXPECT_NE(ti.find("<OPTION value = \"A&amp;B &lt;x&gt;\">A&amp;B &lt;x&gt;"), std::string::npos);
    // A name with a blank is quoted, so the whole name comes back as the query.
    EXPECT_NE(ti.find(Utf8ToCp1251("<OPTION value = \"ПС 2\">ПС 2")), std::string::npos);
    EXPECT_NE(ti.find("<td>A&amp;B &lt;x&gt;</td><td>&lt;script&gt;</td>"), std::string::npos);
    EXPECT_EQ(ti.find("<script>"), std::string::npos);
    EXPECT_NE(
        Get(pages, "/titek.php", "p_ti=%CF%D1+2").content.find(Utf8ToCp1251("<OPTION selected value = \"ПС 2\">")),
        std::string::npos);
    const std::string cfg = Get(pages, "/config.php").content;
    EXPECT_NE(cfg.find("<td>A&amp;B &lt;x&gt;</td><td>h&quot;ost</td>"), std::string::npos);
}

TEST(WebPages, StationTableBeforeTheFirstStart)
{
    TWebSnapshot snap = TwoStations();
    snap.Stations[0].Link = TPrmn{};
    const std::string cfg = Get(PagesOf(snap), "/config.php").content;
    const std::string rows = Utf8ToCp1251("<td>Sever</td>");
    EXPECT_NE(cfg.find(rows), std::string::npos);
    EXPECT_NE(cfg.find(Utf8ToCp1251("<tr class=\"even\" ><td>Запустите сервер</td></tr>\n</table>")),
              std::string::npos);
    EXPECT_EQ(cfg.find(Utf8ToCp1251("<td>Юг</td>")), std::string::npos);
    EXPECT_EQ(CountRows(cfg), 2);
}

TEST(WebPages, NoStations)
{
    const TWebPages pages = PagesOf({});
    for (const char* doc : {"/titek.php", "/tstek.php", "/config.php"}) {
        const std::string content = Get(pages, doc).content;
        EXPECT_EQ(CountRows(content), 0) << doc;
        EXPECT_EQ(content.find("<OPTION value"), std::string::npos) << doc;
    }
    EXPECT_NE(Get(pages, "/tstek.php").content.find(Utf8ToCp1251("<OPTION selected value = all>Все\n</SELECT>")),
              std::string::npos);
}

// The pages write numbers as "iec104.cfg" does: 0.00001 is not 1E-5.
TEST(WebPages, NumbersAndStamps)
{
    TWebSnapshot snap = TwoStations();
    snap.Tags[0].FValue = 1e-5;
    snap.Tags[0].EngValue = 1.5e-7;
    const std::string page = Get(PagesOf(snap), "/titek.php").content;
    EXPECT_NE(page.find("<td>0.00001</td><td>0</td><td>1.5E-7</td>"), std::string::npos) << page;
    EXPECT_EQ(WebStamp(At(2026, 3, 4, 5, 6, 7, 8)), "04.03.2026 05:06:07.008");
}

// The station's correction applies to the station's times only: a reception
// time standing in for an invalid time tag is shown as it is.
TEST(WebPages, ReceptionTimeOfAnInvalidTimeTagIsNotCorrected)
{
    TWebSnapshot snap = TwoStations(); // "Sever" corrects by three hours
    TWebTag station = Tag("S", 1001, TWebSignalKind::TIT, 1, 110);
    station.Stamp = At(2026, 12, 9, 10, 0, 0, 0);
    TWebTag received = Tag("R", 1001, TWebSignalKind::TIT, 1, 111);
    received.Stamp = At(2026, 12, 9, 10, 0, 0, 0);
    received.Quality = QualityTimeInvalid;
    snap.Tags = {station, received};
    const std::string page = Get(PagesOf(snap), "/titek.php").content;
    EXPECT_NE(page.find("<td>110</td><td>0</td><td>0</td><td>0</td><td>09.12.2026 13:00:00.000</td>"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("<td>111</td><td>0</td><td>8</td><td>0</td><td>09.12.2026 10:00:00.000</td>"),
              std::string::npos)
        << page;
}

class WebFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(dir.File("web/css"));
        dir.Write("web/css/style.css", "body {}\r\np {}");
        dir.Write("web/data.json", "{}\n");
        dir.Write("web/logo.png", std::string("\x89PNG\0\r\n", 7));
        dir.Write("web/index-7.html", "<p>О</p>");
        dir.Write("web/empty.html", "");
        dir.Write("web/notes.txt", "text");
        dir.Write("secret.css", "outside");
        dir.Write("cnf.ini", "[pwd]\npwd=x\n");
    }
    Page Fetch(std::string_view doc) const { return Get(pages, doc); }

    test::TempDir dir;
    TWebPages pages{dir.path() + "/", [] { return TWebSnapshot{}; }};
};

TEST_F(WebFolder, StaticFilesByName)
{
    struct Case {
        const char* doc;
        const char* type;
        std::string content; // "@" + name: the file's path
    } cases[] = {
        {"/css/style.css", "text/css", "body {}\np {}\n"},
        {"/data.json", "application/x-javascript", "{}\n"},
        {"/logo.png", "image/png", "@web/logo.png"},
        {"/index-7.html", "text/html", "<p>О</p>\n"},
        {"/empty.html", "text/html", ""},
        {"/notes.txt", "", ""},
        {"/missing.css", "", ""},
        {"/TITEK.PHP", "", ""},
        {"/css", "", ""}, // a directory
    };
    for (const auto& c : cases) {
        const Page p = Fetch(c.doc);
        EXPECT_EQ(p.type, c.type) << c.doc;
        EXPECT_EQ(p.cache, std::string_view(c.doc) == "/index-7.html" ? "no-cache" : "") << c.doc;
        const std::string want = c.content.starts_with("@") ? dir.File(c.content.substr(1)) : c.content;
        EXPECT_EQ(p.content, want) << c.doc;
    }
}

TEST_F(WebFolder, IndexPageMissingOrEmpty)
{
    EXPECT_EQ(Fetch("/index-7.html").cache, "no-cache");
    std::filesystem::remove(dir.File("web/index-7.html"));
    const Page p = Fetch("/index-7.html");
    EXPECT_EQ(p.type + p.cache + p.content, "");
    dir.Write("web/index-7.html", "");
    EXPECT_EQ(Fetch("/index-7.html").content, "");
}

TEST_F(WebFolder, ConfigurationDocumentsNameTheirFile)
{
    for (const char* doc : {"/iec104.cfg", "/cnf.ini", "/test.cfg", "/old_cnf.ini.txt", "/web/iec104.cfg"}) {
        const Page p = Fetch(doc);
        EXPECT_EQ(p.type, "application/octet-stream") << doc;
        EXPECT_EQ(p.content, dir.path() + doc) << doc;
    }
}

TEST_F(WebFolder, HostileDocumentsAreRefused)
{
    using namespace std::string_literals;
    for (const std::string& doc : {"/../secret.css"s, "/css/../../secret.css"s, "/../cnf.ini"s, "/..\\cnf.ini"s,
                                   "css/style.css"s, ""s, "/css/style.css\0.png"s, "/css\0/style.css"s}) {
        const Page p = Fetch(doc);
        EXPECT_EQ(p.type + p.content, "") << doc;
    }
    EXPECT_FALSE(WebDocumentSafe("/a/../b"));
    EXPECT_TRUE(WebDocumentSafe("/a/.b/c.d"));
}

} // namespace
} // namespace gw

namespace gw {
namespace {

// The bundled web folder holds what the pages link to.
TEST(WebPages, BundledWebFolderServesWhatPagesLinkTo)
{
    const TWebPages pages(std::string(GATEWAY_SOURCE_DIR) + "/examples/", [] { return TWebSnapshot{}; });
    for (const char* doc : {"/css/reset.css", "/css/grid.css", "/css/style.css", "/index-7.html", "/help.html"}) {
        const Page p = Get(pages, doc);
        EXPECT_FALSE(p.content.empty()) << doc;
        EXPECT_TRUE(p.type == "text/css" || p.type == "text/html") << doc;
    }
    EXPECT_NE(Get(pages, "/index-7.html").content.find(Utf8ToCp1251("О программе")), std::string::npos);
}

} // namespace
} // namespace gw
