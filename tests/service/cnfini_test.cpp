#include "service/cnfini.h"

#include "cfg_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace gw {
namespace {

using CnfIni = test::ConfigDirTest;

TCnfIni NonDefaults()
{
    TCnfIni s;
    s.UseWebServer = true;
    s.Port_WebServ = 1234;
    s.Save_Obmen_v_File = true;
    s.pwd = "old";
    return s;
}

void ExpectSettings(const TCnfIni& s, bool web, int port, bool save, const std::string& pwd)
{
    EXPECT_EQ(s.UseWebServer, web);
    EXPECT_EQ(s.Port_WebServ, port);
    EXPECT_EQ(s.Save_Obmen_v_File, save);
    EXPECT_EQ(s.pwd, pwd);
}

// Reads, collecting the log lines of what the reader skips.
std::vector<std::string> ReadLogging(const std::filesystem::path& dir, TCnfIni& s)
{
    std::vector<std::string> logged;
    ReadCnfIni(dir, s, LogComplaints([&](const std::string& l) { logged.push_back(l); }));
    return logged;
}

TEST_F(CnfIni, ReadsLineEndsBlanksByteOrderMarkAndCase)
{
    const std::vector<std::string> files = {
        "[UseWebServer]\r\nUseWebServer=1\r\n[Port_WebServ]\r\nPort_WebServ=8080\r\n"
        "[Save_Obmen_v_File]\r\nSave_Obmen_v_File=1\r\n[pwd]\r\npwd=\xD1\xE5\xEA\xF0\xE5\xF2\r\n",
        "[UseWebServer]\nUseWebServer=1\n[Port_WebServ]\nPort_WebServ=8080\n"
        "[Save_Obmen_v_File]\nSave_Obmen_v_File=1\n[pwd]\npwd=\xD1\xE5\xEA\xF0\xE5\xF2",
        "; settings\r\n\r\n  [ UseWebServer ]  \r\n  UseWebServer = 1 \r\n[Port_WebServ]\r\n\tPort_WebServ =8080\t\r\n"
        "[save_obmen_v_file]\r\nSAVE_OBMEN_V_FILE=1\r\n[PWD]\r\npwd = \xD1\xE5\xEA\xF0\xE5\xF2  \r\n",
        "\xEF\xBB\xBF[UseWebServer]\r\nUseWebServer=1\r\n[Port_WebServ]\r\nPort_WebServ=8080\r\n"
        "[Save_Obmen_v_File]\r\nSave_Obmen_v_File=1\r\n[pwd]\r\npwd=Секрет\r\n",
    };
    for (const std::string& bytes : files) {
        Put("cnf.ini", bytes);
        TCnfIni s;
        EXPECT_TRUE(ReadLogging(dir, s).empty());
        ExpectSettings(s, true, 8080, true, "Секрет");
    }
}

TEST_F(CnfIni, BundledExampleReads)
{
    TCnfIni s;
    EXPECT_TRUE(ReadLogging(std::filesystem::path(GATEWAY_SOURCE_DIR) / "examples", s).empty());
    ExpectSettings(s, true, 8080, false, "example");
}

TEST_F(CnfIni, MissingFileOrKeysGiveDefaults)
{
    TCnfIni s = NonDefaults();
    ReadCnfIni(dir, s);
    ExpectSettings(s, false, 80, false, "");

    Put("cnf.ini", "[pwd]\r\npwd=abc\r\n");
    s = NonDefaults();
    ReadCnfIni(dir, s);
    ExpectSettings(s, false, 80, false, "abc");
}

TEST_F(CnfIni, OnlyTheFirstKeyInItsOwnSectionCounts)
{
    Put("cnf.ini",
        "UseWebServer=1\r\n"                      // before any section
        "[Other]\r\nPort_WebServ=81\r\npwd=x\r\n" // in a section not its own
        "[Port_WebServ]\r\nUseWebServer=1\r\nPort_WebServ=82\r\nPort_WebServ=83\r\n"
        "[Port_WebServ]\r\nPort_WebServ=84\r\n"
        "[UseWebServer]\r\nUseWebServer=\r\n"); // empty: the default
    TCnfIni s;
    const std::vector<std::string> logged = ReadLogging(dir, s);
    ExpectSettings(s, false, 82, false, "");
    const std::vector<int> lines = {1, 3, 4, 6, 8, 10};
    ASSERT_EQ(logged.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_NE(logged[i].find("cnf.ini, line " + std::to_string(lines[i]) + ", "), std::string::npos) << logged[i];
    EXPECT_NE(logged[0].find("UseWebServer: stands outside its own section [UseWebServer]; the line is skipped"),
              std::string::npos)
        << logged[0];
    EXPECT_NE(logged[4].find("Port_WebServ: is there already; the first one counts; the line is skipped"),
              std::string::npos)
        << logged[4];
}

// One line the reader cannot use costs that line only: the others still
// count, the web server among them, and the line is named in the log. An
// upload of such a file is refused with the same words.
TEST_F(CnfIni, ALineItCannotUseIsSkippedWithFileLineAndKey)
{
    struct Case {
        std::string line;
        std::string field;
        std::string what;
    };
    const std::vector<Case> cases = {
        {"Save_Obmen_v_File=yes", "Save_Obmen_v_File", "\"yes\" is not 0 or 1"},
        {"Port_WebServ=abc", "Port_WebServ", "\"abc\" is not a port number 1..65535"},
        {"Port_WebServ=80a", "Port_WebServ", "\"80a\" is not a port number 1..65535"},
        {"Port_WebServ=0", "Port_WebServ", "\"0\" is not a port number 1..65535"},
        {"Port_WebServ=65536", "Port_WebServ", "\"65536\" is not a port number 1..65535"},
        {"Port_WebServ=99999999999", "Port_WebServ", "\"99999999999\" is not a port number 1..65535"},
        {"UseWebSever=1", "UseWebSever", "is no key of this file"},
        {"[Port_WebServ", "", "a line that is neither a [section], a key=value nor a ;comment"},
        {"just some words", "", "a line that is neither a [section], a key=value nor a ;comment"},
        {"=1", "", "a line that is neither a [section], a key=value nor a ;comment"},
    };
    for (const Case& c : cases) {
        const std::string section = c.field.empty() ? "pwd" : c.field;
        const std::string bytes =
            "[pwd]\r\npwd=a\r\n[" + section + "]\r\n" + c.line + "\r\n[UseWebServer]\r\nUseWebServer=1\r\n";
        Put("cnf.ini", bytes);
        TCnfIni s = NonDefaults();
        const std::vector<std::string> logged = ReadLogging(dir, s);
        // The skipped line leaves its key to the default or to a later line
        // that can be used; every other line counts.
        ExpectSettings(s, true, 80, false, "a");
        const std::string where = "cnf.ini, line 4" + (c.field.empty() ? "" : ", " + c.field) + ": " + c.what;
        ASSERT_EQ(logged.size(), 1u) << c.line;
        EXPECT_EQ(logged[0], (dir / "cnf.ini").string() + where.substr(7) + "; the line is skipped");
        try {
            CheckCnfIni(bytes);
            ADD_FAILURE() << "upload check passed " << c.line;
        } catch (const TConfigError& e) {
            EXPECT_EQ(std::string(e.what()), where);
        }
    }
    EXPECT_NO_THROW(CheckCnfIni(""));
    EXPECT_NO_THROW(CheckCnfIni("; a comment\n[pwd]\npwd=\n[UseWebServer]\nUseWebServer=0\n"));
}

// Only 0 turns the web server off: a value that is not 0 or 1 starts it, so a
// slip in the file does not cut the device off. An upload of it is refused.
TEST_F(CnfIni, AnUnreadableUseWebServerStartsTheWebServer)
{
    for (const std::string value : {"yes", "2", "on"}) {
        const std::string bytes = "[UseWebServer]\r\nUseWebServer=" + value + "\r\n";
        Put("cnf.ini", bytes);
        TCnfIni s;
        const std::vector<std::string> logged = ReadLogging(dir, s);
        EXPECT_TRUE(s.UseWebServer) << value;
        ASSERT_EQ(logged.size(), 1u) << value;
        EXPECT_EQ(logged[0], (dir / "cnf.ini").string() + ", line 2, UseWebServer: \"" + value
                                 + "\" is not 0 or 1; only 0 turns the web server off, so it is started");
        EXPECT_THROW(CheckCnfIni(bytes), TConfigError) << value;
    }
    Put("cnf.ini", "[UseWebServer]\r\nUseWebServer=0\r\n");
    TCnfIni s = NonDefaults();
    EXPECT_TRUE(ReadLogging(dir, s).empty());
    EXPECT_FALSE(s.UseWebServer);
}

TEST_F(CnfIni, ByteOrderMarkOnSomethingElseIsAnError)
{
    // Windows-1251 after the mark, a truncated sequence, an overlong '/', a surrogate.
    for (const std::string pwd : {"\xCF\xD1", "a\xC3", "\xC0\xAF", "\xED\xA0\x80"}) {
        Put("cnf.ini", "\xEF\xBB\xBF[pwd]\r\npwd=" + pwd + "\r\n");
        TCnfIni s = NonDefaults();
        EXPECT_THROW(ReadCnfIni(dir, s), TConfigError) << pwd;
        EXPECT_EQ(s.pwd, "old");
    }
}

TEST_F(CnfIni, WritesANewFileThatReadsBack)
{
    WriteCnfIniOptions(dir, true, 8080, false);
    WriteCnfIniPwd(dir, "Пароль 1");
    EXPECT_EQ(Get("cnf.ini"),
              "[UseWebServer]\r\nUseWebServer=1\r\n[Port_WebServ]\r\nPort_WebServ=8080\r\n"
              "[Save_Obmen_v_File]\r\nSave_Obmen_v_File=0\r\n[pwd]\r\npwd=\xCF\xE0\xF0\xEE\xEB\xFC 1\r\n");
    TCnfIni s;
    ReadCnfIni(dir, s);
    ExpectSettings(s, true, 8080, false, "Пароль 1");
    EXPECT_EQ(FileCount(), 1u);
}

TEST_F(CnfIni, WritingKeepsEveryOtherLineAsItWas)
{
    Put("cnf.ini", "; edited by hand\n[Other]\nx = 1\n[Port_WebServ]\nPort_WebServ = 80\n[pwd]\npwd=old\n[Tail]\ny=2");
    WriteCnfIniOptions(dir, false, 81, true);
    EXPECT_EQ(Get("cnf.ini"),
              "; edited by hand\n[Other]\nx = 1\n[Port_WebServ]\nPort_WebServ=81\n[pwd]\npwd=old\n"
              "[Tail]\ny=2\n[UseWebServer]\nUseWebServer=0\n[Save_Obmen_v_File]\nSave_Obmen_v_File=1\n");

    Put("cnf.ini", "\xEF\xBB\xBF[pwd]\r\n[Port_WebServ]\r\nPort_WebServ=80\r\n");
    WriteCnfIniPwd(dir, "日本"); // a UTF-8 file can hold it
    EXPECT_EQ(Get("cnf.ini"), "\xEF\xBB\xBF[pwd]\r\npwd=日本\r\n[Port_WebServ]\r\nPort_WebServ=80\r\n");
}

// The file holds the transfer password in clear text: whatever mode it had,
// the written file is the owner's alone, as the device stores it.
TEST_F(CnfIni, WrittenFileIsTheOwnersAlone)
{
    const auto mode = [this] {
        return std::filesystem::status(dir / "cnf.ini").permissions() & std::filesystem::perms::mask;
    };
    WriteCnfIniPwd(dir, "секрет");
    EXPECT_EQ(mode(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::permissions(dir / "cnf.ini",
                                 std::filesystem::perms::owner_all | std::filesystem::perms::others_read);
    WriteCnfIniOptions(dir, true, 80, false);
    EXPECT_EQ(mode(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    TCnfIni s;
    ReadCnfIni(dir, s);
    ExpectSettings(s, true, 80, false, "секрет");
    EXPECT_EQ(FileCount(), 1u);
}

TEST_F(CnfIni, RefusesWhatWouldNotReadBackAndLeavesTheFile)
{
    Put("cnf.ini", "[pwd]\r\npwd=old\r\n");
    for (const std::string pwd : {" lead", "trail ", "two\r\nlines", "tab\there", "日本"}) {
        EXPECT_THROW(WriteCnfIniPwd(dir, pwd), TConfigError) << pwd;
        EXPECT_EQ(Get("cnf.ini"), "[pwd]\r\npwd=old\r\n");
    }
    EXPECT_THROW(WriteCnfIniOptions(dir, true, 0, true), TConfigError);
    EXPECT_THROW(WriteCnfIniOptions(dir / "missing", true, 80, true), TConfigError);
    EXPECT_EQ(Get("cnf.ini"), "[pwd]\r\npwd=old\r\n");
    EXPECT_EQ(FileCount(), 1u);
}

} // namespace
} // namespace gw
