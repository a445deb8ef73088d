#include "service/cnfini.h"

#include "cfg_fixture.h"

#include <gtest/gtest.h>

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
        ReadCnfIni(dir, s);
        ExpectSettings(s, true, 8080, true, "Секрет");
    }
}

TEST_F(CnfIni, BundledExampleReads)
{
    TCnfIni s;
    ReadCnfIni(std::filesystem::path(GATEWAY_SOURCE_DIR) / "examples", s);
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
        "UseWebServer=1\r\n"                       // before any section
        "[Other]\r\nPort_WebServ=81\r\npwd=x\r\n"  // in a section not its own
        "[Port_WebServ]\r\nUseWebServer=1\r\nPort_WebServ=82\r\nPort_WebServ=83\r\n"
        "[Port_WebServ]\r\nPort_WebServ=84\r\n"
        "[UseWebServer]\r\nUseWebServer=\r\n");    // empty: the default
    TCnfIni s;
    ReadCnfIni(dir, s);
    ExpectSettings(s, false, 82, false, "");
}

TEST_F(CnfIni, BadLinesAreReportedWithFileLineAndKeyAndChangeNothing)
{
    struct Case {
        std::string line;
        std::string field;
    };
    const std::vector<Case> cases = {
        {"UseWebServer=yes", "UseWebServer"},
        {"UseWebServer=2", "UseWebServer"},
        {"Save_Obmen_v_File=-1", "Save_Obmen_v_File"},
        {"Port_WebServ=abc", "Port_WebServ"},
        {"Port_WebServ=80x", "Port_WebServ"},
        {"Port_WebServ=0", "Port_WebServ"},
        {"Port_WebServ=65536", "Port_WebServ"},
        {"Port_WebServ=99999999999", "Port_WebServ"},
        {"[Port_WebServ", ""},
        {"just some words", ""},
        {"=1", ""},
    };
    for (const Case& c : cases) {
        const std::string section = c.field.empty() ? "pwd" : c.field;
        Put("cnf.ini", "[pwd]\r\npwd=a\r\n[" + section + "]\r\n" + c.line + "\r\n");
        TCnfIni s = NonDefaults();
        std::vector<std::string> logged;
        try {
            ReadCnfIni(dir, s, [&](const std::string& l) { logged.push_back(l); });
            ADD_FAILURE() << "accepted " << c.line;
        } catch (const TConfigError& e) {
            EXPECT_EQ(e.line(), 4) << c.line;
            EXPECT_EQ(e.field(), c.field) << c.line;
            EXPECT_NE(std::string(e.what()).find("cnf.ini, line 4"), std::string::npos) << e.what();
            EXPECT_EQ(logged, std::vector<std::string>{e.what()});
        }
        ExpectSettings(s, true, 1234, true, "old");
    }
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
    EXPECT_EQ(Get("cnf.ini"), "; edited by hand\n[Other]\nx = 1\n[Port_WebServ]\nPort_WebServ=81\n[pwd]\npwd=old\n"
                              "[Tail]\ny=2\n[UseWebServer]\nUseWebServer=0\n[Save_Obmen_v_File]\nSave_Obmen_v_File=1\n");

    Put("cnf.ini", "\xEF\xBB\xBF[pwd]\r\n[Port_WebServ]\r\nPort_WebServ=80\r\n");
    WriteCnfIniPwd(dir, "日本"); // a UTF-8 file can hold it
    EXPECT_EQ(Get("cnf.ini"), "\xEF\xBB\xBF[pwd]\r\npwd=日本\r\n[Port_WebServ]\r\nPort_WebServ=80\r\n");
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
