#include "service/cfgfile.h"

#include "cfg_fixture.h"
#include "core/cp1251.h"
#include "core/prmn.h"
#include "service/servicelog.h"
#include "service/tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace gw {
namespace {

class Iec104Cfg : public test::ConfigDirTest {
protected:
    // Reads "iec104.cfg", collecting what the reader logs.
    bool Read() { return ReadInto(t, ua); }
    bool ReadInto(TServiceContext& ctx, TOpcUaSettings& opcUa)
    {
        return ReadIec104Cfg(ctx, opcUa, dir, "iec104.cfg",
                             LogComplaints([this](const std::string& l) { logged.push_back(l); }));
    }
    void PutCfg(const std::string& utf8) { Put("iec104.cfg", Utf8ToCp1251(utf8)); }

    std::unique_ptr<TServiceContext> owned = std::make_unique<TServiceContext>();
    TServiceContext& t = *owned;
    TOpcUaSettings ua;
    std::vector<std::string> logged;
};

const std::string OpcUaLines = "OPC_UA_use,1\r\nOPC_UA_writable,1\r\nOPC_UA_by_pwd,1\r\nOPC_UA_Control_podkl,0\r\n"
                               "OPC_UA_Port,4840\r\nOPC_UA_password,секрет\r\nOPC_UA_username,оператор\r\n"
                               "OPC_UA_Timeout_of_control,16670\r\n";

// A configuration as the writer lays it out: two stations, the second passive
// without an address, Cyrillic names, a comma inside a quoted name.
const std::string Canonical =
    ";kol,2\r\n"
    "KP,5,1,ПС 110 кВ «Северная»,192.168.1.10\r\n"
    "PRM_T,2404,30000,15000,10000,20000,12,8,100,0,0,0,0,5000,30000,3,20000,5,2,3,2,30\r\n"
    ";PORT,5,1,ПС 110 кВ «Северная»,192.168.1.10,2404\r\n"
    "PER,1\r\nTIM,0\r\nPOPR,3\r\nOPROS,15\r\nOPROS_101,60\r\nCLOCK_SYNC_103,30\r\n"
    "IP2,192.168.2.10\r\nPORT2,2405\r\nPASSIV,0\r\nsend_start_DT,0\r\n"
    + OpcUaLines
    + "TS,1001,5,,\"Выключатель Q1, ввод\",8272,5,1001,5,2001,2,1\r\n"
      "TS,1001,5,,\"Разъединитель №2\",8272,5,1002,0,0,0,0\r\n"
      "TIT,1001,5,,\"Ток фазы А\",8280,5,4001,0,1000,0,1000,0,1000,0,4095,0\r\n"
      "TIT,1001,5,,\"Напряжение\",8280,5,4002,-12.75,0.5,-12.75,0.5,-12.75,0.5,1E-6,2.5E20,1\r\n"
      "KP,7,1,РП-2 Ёлкино,\r\n"
      "PRM_T,2410,0,15000,10000,20000,12,8,100,0,0,0,0,5000,30000,3,20000,7,1,2,1,30\r\n"
      ";PORT,7,1,РП-2 Ёлкино,,2410\r\n"
      "PER,0\r\nTIM,1\r\nPOPR,-2\r\nOPROS,0\r\nOPROS_101,0\r\nCLOCK_SYNC_103,0\r\n"
      "IP2,\r\nPORT2,0\r\nPASSIV,1\r\nsend_start_DT,1\r\n"
    + OpcUaLines
    + "TIT,1002,7,,\"P, МВт\",8280,7,100,-0.00001,123456789012345,-0.00001,123456789012345,"
      "-0.00001,123456789012345,0.1,65535,0\r\n";

TEST_F(Iec104Cfg, Windows1251FileReadsAndWritesBackByteForByte)
{
    const std::string bytes = Utf8ToCp1251(Canonical);
    ASSERT_NE(bytes.find("KP,5,1,\xCF\xD1 110 \xEA\xC2 \xAB\xD1\xE5\xE2\xE5\xF0\xED\xE0\xFF\xBB,"), std::string::npos);
    Put("iec104.cfg", bytes);
    ASSERT_TRUE(Read());
    EXPECT_TRUE(logged.empty());

    ASSERT_EQ(t.Stations.KpCount, 2);
    const T_KP& a = t.Stations.KpTable[1];
    EXPECT_EQ(a.NameKP, "ПС 110 кВ «Северная»");
    EXPECT_EQ(a.IP, "192.168.1.10");
    EXPECT_EQ(a.ASDU_Adr, 5);
    EXPECT_EQ(a.Port, 2404);
    EXPECT_TRUE(a.PereschetTI);
    EXPECT_EQ(a.Popravka_Time, 3);
    EXPECT_EQ(a.OPROS_KP, 15);
    EXPECT_EQ(a.Interval_CLOCK_SYNC_103, 30);
    EXPECT_EQ(a.IP2, "192.168.2.10");
    EXPECT_EQ(a.Port2, 2405);
    ASSERT_EQ(a.Kol_TS, 2);
    EXPECT_EQ(a.TS_arr[1].NameTS, "Выключатель Q1, ввод");
    EXPECT_EQ(a.TS_arr[1].AdrIOA_TU, 2001);
    EXPECT_EQ(a.TS_arr[1].Type_TU, 2);
    EXPECT_EQ(a.TS_arr[1].Type_Var, 1);
    ASSERT_EQ(a.Kol_TI, 2);
    EXPECT_EQ(a.TI_arr[2].Min_Eng_Diap, -12.75);
    EXPECT_EQ(a.TI_arr[2].Min_TM_Diap, 1e-6);
    EXPECT_EQ(a.TI_arr[2].Max_TM_Diap, 2.5e20);
    EXPECT_EQ(a.TI_arr[2].Znak_for_norm, 1);
    const T_KP& b = t.Stations.KpTable[2];
    EXPECT_EQ(b.NameKP, "РП-2 Ёлкино");
    EXPECT_EQ(b.IP, "");
    EXPECT_TRUE(b.Passive);
    EXPECT_TRUE(b.send_start_DT_passiv);
    EXPECT_EQ(b.TI_arr[1].NameTI, "P, МВт");
    EXPECT_EQ(t.Channels.Prmn104[0].CommonAsduAddress, 5);
    EXPECT_EQ(t.Channels.Prmn104[0].Host.Text(), "192.168.1.10");
    EXPECT_EQ(t.Channels.Prmn104[1].t0, 0);
    EXPECT_EQ(t.Channels.Prmn104[1].sz_COT, 1);
    EXPECT_TRUE(t.Switches.PrmTFromCfg);
    EXPECT_TRUE(ua.OPC_UA_use);
    EXPECT_EQ(ua.OPC_UA_Port, 4840);
    EXPECT_EQ(ua.OPC_UA_username, "оператор");

    WriteIec104Cfg(t, ua, dir, "copy.cfg");
    EXPECT_EQ(Get("copy.cfg"), bytes);
}

TEST_F(Iec104Cfg, BundledExampleReadsAndWritesBackByteForByte)
{
    const std::filesystem::path examples = std::filesystem::path(GATEWAY_SOURCE_DIR) / "examples";
    ASSERT_TRUE(ReadIec104Cfg(t, ua, examples, "iec104.cfg",
                              LogComplaints([this](const std::string& l) { logged.push_back(l); })));
    EXPECT_TRUE(logged.empty());
    EXPECT_GE(t.Stations.KpCount, 2);
    WriteIec104Cfg(t, ua, dir, "iec104.cfg");
    EXPECT_EQ(Get("iec104.cfg"), [&] {
        std::ifstream in(examples / "iec104.cfg", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }());
}

TEST_F(Iec104Cfg, ReaderTakesWhatTheWriterNeverWrites)
{
    PutCfg("OPC_UA_Port,1234\n"          // global, also before the first station
           "TS,1001,5,,\"x\",8272,5,1\n" // belongs to no station
           "  ; comment with blanks before it\n\n"
           "KP,1,1,A,10.0.0.1\n"
           "CLOCK_SYNC_103,5\n"
           "TI,1001,1,,\"short\",8280,1,2,0,10,,,,,0,4095\n" // TI is TIT; 15 fields: no Znak_for_norm
           "TIT,1001,1,,noquotes,8280,1,3,1,5\n"             // missing ranges are 0
           "SST,whatever\nVER,3\nCHAN,x\nunknown,1\nts,lower case is no keyword\n"
           "KP,2,1,B,10.0.0.2\n" // a new station starts with no clock period
           "PRM_T\n");           // every field its default
    Read();
    ASSERT_EQ(t.Stations.KpCount, 2);
    EXPECT_EQ(ua.OPC_UA_Port, 1234);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find("line 2"), std::string::npos) << logged[0];
    const T_KP& a = t.Stations.KpTable[1];
    EXPECT_EQ(a.Kol_TS, 0);
    EXPECT_EQ(a.Port, 0);
    EXPECT_EQ(a.Interval_CLOCK_SYNC_103, 5);
    ASSERT_EQ(a.Kol_TI, 2);
    EXPECT_EQ(a.TI_arr[1].NameTI, "short");
    EXPECT_EQ(a.TI_arr[1].Max_Eng_Diap, 10);
    EXPECT_EQ(a.TI_arr[1].Max_TM_Diap, 4095);
    EXPECT_EQ(a.TI_arr[1].Znak_for_norm, 0);
    EXPECT_EQ(a.TI_arr[2].NameTI, "noquotes");
    EXPECT_EQ(a.TI_arr[2].Max_TM_Diap, 0);
    const T_KP& b = t.Stations.KpTable[2];
    EXPECT_EQ(b.Interval_CLOCK_SYNC_103, 0);
    EXPECT_EQ(b.Port, 1); // the PRM_T default, not 2404
    const TPrmn& p = t.Channels.Prmn104[1];
    EXPECT_EQ(p.t0, 30000);
    EXPECT_EQ(p.kMax, 12);
    EXPECT_EQ(p.CommonAsduAddress, 1);
    EXPECT_EQ(p.sz_InfObjAddress, 3);
    EXPECT_EQ(p.ClockSinhronizationTime, 30);
}

TEST_F(Iec104Cfg, StationWithoutItsOwnPrmTGetsTheDefaultProfile)
{
    PutCfg("KP,1,1,A,10.0.0.1\nPRM_T,2500\nKP,2,1,B,10.0.0.2\n");
    t.Channels.Prmn104[1].kMax = 99; // left over from an earlier reading
    Read();
    EXPECT_EQ(t.Channels.Prmn104[0].Port, 2500);
    const TPrmn& b = t.Channels.Prmn104[1];
    EXPECT_EQ(b.kMax, 12);
    EXPECT_EQ(b.t1, 15000);
    EXPECT_EQ(b.CommonAsduAddress, 3);
    EXPECT_EQ(b.Port, 2404);
    EXPECT_EQ(b.Host.Text(), "10.0.0.2");
    EXPECT_EQ(b.Name.Text(), "B");

    // The next reading of a file without PRM_T lines hands the parameters back to "iec104sr.bin".
    PutCfg("KP,1,1,A,10.0.0.1\n");
    Read();
    EXPECT_FALSE(t.Switches.PrmTFromCfg);
}

// A malformed setting with a default costs that setting, not the station:
// it gets its default, a warning names file, line and field, and the station
// and its signals are read.
TEST_F(Iec104Cfg, MalformedSettingsGetTheirDefaultWithAWarning)
{
    using Ctx = const TServiceContext&;
    using Ua = const TOpcUaSettings&;
    using Value = std::int32_t (*)(Ctx, Ua);
    struct Case {
        std::string line;
        std::string field;
        Value value;
        std::int32_t def;
    };
    const std::vector<Case> cases = {
        {"PRM_T,2404,abc", "field 2 (t0)", [](Ctx s, Ua) { return s.Channels.Prmn104[0].t0; }, 30000},
        {"PRM_T,65536", "field 1 (Port)", [](Ctx s, Ua) { return s.Stations.KpTable[1].Port; }, 1},
        {"PRM_T,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,5", "field 20 (sz_COT)",
         [](Ctx s, Ua) { return s.Channels.Prmn104[0].sz_COT; }, 2},
        {"PRM_T,1,1,1,1,1,1,1,1,256", "field 9 (OriginatorAddress)",
         [](Ctx s, Ua) { return s.Channels.Prmn104[0].OriginatorAddress; }, 0},
        {"POPR,+3h", "field 1 (Popravka_Time)", [](Ctx s, Ua) { return s.Stations.KpTable[1].Popravka_Time; }, 0},
        {"OPROS,-1", "field 1 (OPROS_KP)", [](Ctx s, Ua) { return s.Stations.KpTable[1].OPROS_KP; }, 0},
        {"PORT2,99999", "field 1 (Port2)", [](Ctx s, Ua) { return s.Stations.KpTable[1].Port2; }, 0},
        {"PASSIV,yes", "field 1 (Passive)", [](Ctx s, Ua) { return std::int32_t{s.Stations.KpTable[1].Passive}; }, 0},
        {"PER,да", "field 1 (PereschetTI)", [](Ctx s, Ua) { return std::int32_t{s.Stations.KpTable[1].PereschetTI}; },
         0},
        {"TIM,1.0", "field 1 (Time_To_OPC)", [](Ctx s, Ua) { return std::int32_t{s.Stations.KpTable[1].Time_To_OPC}; },
         0},
        {"OPC_UA_Port,port", "field 1 (OPC_UA_Port)", [](Ctx, Ua u) { return u.OPC_UA_Port; }, 16670},
        {"OPC_UA_use,2x", "field 1 (OPC_UA_use)", [](Ctx, Ua u) { return std::int32_t{u.OPC_UA_use}; }, 0},
        {"OPC_UA_Timeout_of_control,60s", "field 1 (OPC_UA_Timeout_of_control)",
         [](Ctx, Ua u) { return u.OPC_UA_Timeout_of_control; }, 16670},
    };
    for (const Case& c : cases) {
        const std::string text = ";kol,1\r\nKP,9,1,Z,1.1.1.1\r\n" + c.line + "\r\nTS,1001,9,,\"a\",8272,9,5\r\n";
        PutCfg(text);
        ua = TOpcUaSettings{};
        ua.OPC_UA_use = true;
        ua.OPC_UA_Port = 4840;
        ua.OPC_UA_Timeout_of_control = 60;
        logged.clear();
        ASSERT_TRUE(Read()) << c.line;
        ASSERT_EQ(t.Stations.KpCount, 1) << c.line;
        EXPECT_EQ(t.Stations.KpTable[1].Kol_TS, 1) << c.line;
        EXPECT_EQ(c.value(t, ua), c.def) << c.line;
        ASSERT_EQ(logged.size(), 1u) << c.line;
        EXPECT_EQ(logged[0].find((dir / "iec104.cfg").string() + ", line 3, " + c.field + ": "), 0u) << logged[0];
        EXPECT_NE(logged[0].find("; the default " + std::to_string(c.def) + " is used"), std::string::npos)
            << logged[0];
        // An upload takes no file with such a line.
        try {
            CheckIec104Cfg(Utf8ToCp1251(text));
            ADD_FAILURE() << "upload check passed " << c.line;
        } catch (const TConfigError& e) {
            EXPECT_EQ(std::string(e.what()).find("iec104.cfg, line 3, " + c.field + ": "), 0u) << e.what();
        }
    }
}

// A number that would poll a wrong station or address refuses its line
// (a "KP" line: its whole station); the other lines and stations are read.
TEST_F(Iec104Cfg, LinesThatWouldMakeAWrongStationOrAddressAreSkipped)
{
    struct Case {
        std::string line;
        std::string field;
    };
    const std::string narrow = "PRM_T,2404,30000,15000,10000,20000,12,8,100,0,0,0,0,5000,30000,3,20000,9,1,2,2,30\r\n";
    const std::vector<Case> signalLines = {
        {"TS,1001,1,,\"a\",8272,1,12x", "field 7 (AdrIOA)"},
        {"TS,1001,1,,\"a\",8272,1,16777216", "field 7 (AdrIOA)"},
        {"TS,1001,1,,\"a\",8272,-1,1", "field 6 (AdrASDU)"},
        {"TS,1001,1,,\"a\",8272,1,1,1,1,4", "field 10 (Type_TU)"},
        {"TS,1001,1,,\"a\",8272,1,1,1,1,0,1.5", "field 11 (Type_Var)"},
        {"TS,,1,,\"a\",8272", "field 1 (station identifier)"},
        {"TS,1001,1,,\"a\"", "field 5 (constant)"},
        {"TIT,1001,1,,\"a\",8280,1,1,1.5.2", "field 8 (Min_Eng_Diap)"},
        {"TIT,1001,1,,\"a\",8280,1,1,0,10,,,,,0,inf", "field 15 (Max_TM_Diap)"},
        {"TIT,1001,1,,\"a\",8280,1,1,0,10,,,,,0,nan", "field 15 (Max_TM_Diap)"},
        {"TIT,1001,1,,\"a\",8280,1,1,0,10,,,,,0,1,x", "field 16 (Znak_for_norm)"},
        // The station's PRM_T gives one byte of common address, two of object address.
        {narrow + "TS,1001,9,,\"a\",8272,256,1", "field 6 (AdrASDU)"},
        {narrow + "TS,1001,9,,\"a\",8272,9,65536", "field 7 (AdrIOA)"},
        {narrow + "TS,1001,9,,\"a\",8272,9,1,300,1,1", "field 8 (AdrASDU_TU)"},
        {narrow + "TS,1001,9,,\"a\",8272,9,1,9,70000,1", "field 9 (AdrIOA_TU)"},
        {narrow + "TIT,1001,9,,\"a\",8280,9,65536", "field 7 (AdrIOA)"},
    };
    const std::vector<Case> kpLines = {
        {"KP,x,1,A,1.2.3.4", "field 1 (ASDU_Adr)"},
        {"KP,,1,A,1.2.3.4", "field 1 (ASDU_Adr)"},
        {"KP,70000,1,A,1.2.3.4", "field 1 (ASDU_Adr)"},
        {"KP,1", "field 2 (KP number)"},
    };
    const std::string next = "KP,10,1,Y,2.2.2.2\r\nTS,1002,10,,\"y\",8272,10,7\r\n";
    const auto check = [&](const Case& c, const std::string& text, int line, const std::string& outcome) {
        PutCfg(text);
        logged.clear();
        ASSERT_TRUE(Read()) << c.line;
        ASSERT_EQ(logged.size(), 1u) << c.line;
        const std::string at = "iec104.cfg, line " + std::to_string(line) + ", " + c.field + ": ";
        EXPECT_NE(logged[0].find(at), std::string::npos) << logged[0];
        EXPECT_NE(logged[0].find("; " + outcome), std::string::npos) << logged[0];
        const T_KP& y = t.Stations.KpTable[static_cast<std::size_t>(t.Stations.KpCount)];
        EXPECT_EQ(y.NameKP, "Y");
        ASSERT_EQ(y.Kol_TS, 1);
        EXPECT_EQ(y.TS_arr[1].AdrIOA, 7);
        try {
            CheckIec104Cfg(Utf8ToCp1251(text));
            ADD_FAILURE() << "upload check passed " << c.line;
        } catch (const TConfigError& e) {
            EXPECT_EQ(std::string(e.what()).find(at), 0u) << e.what();
        }
    };
    for (const Case& c : signalLines) {
        const int line = 3 + (c.line.find("PRM_T") == 0 ? 1 : 0);
        check(c, ";kol,2\r\nKP,9,1,Z,1.1.1.1\r\n" + c.line + "\r\nTS,1001,9,,\"ok\",8272,9,5\r\n" + next, line,
              "the line is skipped");
        ASSERT_EQ(t.Stations.KpCount, 2) << c.line;
        ASSERT_EQ(t.Stations.KpTable[1].Kol_TS, 1) << c.line;
        EXPECT_EQ(t.Stations.KpTable[1].TS_arr[1].NameTS, "ok");
        EXPECT_EQ(t.Stations.KpTable[1].Kol_TI, 0) << c.line;
    }
    for (const Case& c : kpLines) {
        // The station's own lines go with it, not to the station before.
        check(c,
              ";kol,3\r\nKP,8,1,X,3.3.3.3\r\n" + c.line + "\r\nPRM_T,2500\r\nTS,1002,9,,\"lost\",8272,9,5\r\n" + next,
              3, "the station is skipped with its lines up to the next KP line");
        ASSERT_EQ(t.Stations.KpCount, 2) << c.line;
        EXPECT_EQ(t.Stations.KpTable[1].NameKP, "X");
        EXPECT_EQ(t.Stations.KpTable[1].Kol_TS, 0);
        EXPECT_EQ(t.Stations.KpTable[1].Port, 0);
        EXPECT_FALSE(t.Switches.PrmTFromCfg);
    }
    // Lines that belong to no station are no file to upload either.
    EXPECT_THROW(CheckIec104Cfg("TS,1001,5,,\"x\",8272,5,1\r\nKP,1,1,A,1.1.1.1\r\n"), TConfigError);
    PutCfg(Canonical);
    EXPECT_NO_THROW(CheckIec104Cfg(Get("iec104.cfg")));
}

TEST_F(Iec104Cfg, MissingOrUnreadableFileLeavesTheTables)
{
    PutCfg(Canonical);
    Read();
    std::filesystem::remove(dir / "iec104.cfg");
    EXPECT_FALSE(Read());
    EXPECT_EQ(t.Stations.KpCount, 2);
    EXPECT_TRUE(logged.empty());

    std::filesystem::create_directory(dir / "iec104.cfg"); // there, but no file to read
    EXPECT_THROW(Read(), TConfigError);
    EXPECT_EQ(t.Stations.KpCount, 2);
}

TEST_F(Iec104Cfg, ServiceReadingLogsInTheServiceDirectory)
{
    t.Process.ExePath = (dir / "fieldgate").string();
    t.Process.ServiceLog = std::make_unique<TServiceLog>(t.Process.FilePath(""));
    const auto read = Iec104CfgReader(ua);
    read(t);
    EXPECT_EQ(FileCount(), 0u); // no exchange logs: the missing file goes unmentioned
    t.Switches.Save_Obmen_v_File = true;
    read(t);
    EXPECT_NE(Get("log_104.txt").find("No file  FileName iec104.cfg"), std::string::npos);

    PutCfg("KP,1,1,A,10.0.0.1\r\nTS,1001,1,,\"a\",8272,1,x\r\nPER,on\r\n");
    read(t);
    EXPECT_EQ(t.Stations.KpCount, 1);
    const std::string said =
        (dir / "iec104.cfg").string() + ", line 2, field 7 (AdrIOA): \"x\" is not an integer; the line is skipped\n"
        + (dir / "iec104.cfg").string() + ", line 3, field 1 (PereschetTI): \"on\" is not an integer; "
        + "the default 0 is used\n";
    EXPECT_EQ(Get("log_iec104.txt"), said);
    // The start reads the file again after the init: the same is not said twice.
    read(t);
    EXPECT_EQ(Get("log_iec104.txt"), said);
    PutCfg("KP,1,1,A,10.0.0.1\r\n");
    read(t);
    PutCfg("KP,1,1,A,10.0.0.1\r\nTS,1001,1,,\"a\",8272,1,x\r\nPER,on\r\n");
    read(t);
    EXPECT_EQ(Get("log_iec104.txt"), said + said);
    EXPECT_FALSE(std::filesystem::exists(dir / "error_iec104.txt"));

    // A reading that fails is logged where errors go, and thrown on.
    PutCfg(Canonical);
    read(t);
    std::filesystem::remove(dir / "iec104.cfg");
    std::filesystem::create_directory(dir / "iec104.cfg");
    EXPECT_THROW(read(t), TConfigError);
    EXPECT_NE(Get("error_iec104.txt").find("iec104.cfg: cannot be opened"), std::string::npos);
    EXPECT_EQ(t.Stations.KpCount, 2);
    EXPECT_EQ(ua.OPC_UA_Port, 4840);
}

TEST_F(Iec104Cfg, StationsBeyondTheCapacityEndTheReading)
{
    std::string text;
    for (int i = 1; i <= MaxKpCount + 1; ++i)
        text += "KP," + std::to_string(i) + ",1,S" + std::to_string(i) + ",10.0.0.1\n";
    PutCfg(text + "OPC_UA_Port,1\n");
    Read();
    EXPECT_EQ(t.Stations.KpCount, MaxKpCount);
    EXPECT_EQ(t.Stations.KpTable[MaxKpCount].NameKP, "S980");
    EXPECT_NE(ua.OPC_UA_Port, 1);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find("line 981"), std::string::npos) << logged[0];
}

TEST_F(Iec104Cfg, TooManySignalsFailCleanly)
{
    std::string text = "KP,1,1,A,10.0.0.1\n";
    for (int i = 0; i <= MaxCfgSignals; ++i)
        text += "TS,1001,1,,\"p\",8272,1," + std::to_string(i) + "\n";
    PutCfg(text);
    try {
        Read();
        FAIL() << "accepted";
    } catch (const TConfigError& e) {
        EXPECT_EQ(e.line(), MaxCfgSignals + 2);
    }
    EXPECT_EQ(t.Stations.KpCount, 0);
}

TEST_F(Iec104Cfg, WriterWithoutStationsKeepsTheOpcUaSettings)
{
    ua.OPC_UA_use = true;
    ua.OPC_UA_Port = 4840;
    ua.OPC_UA_username = "user";
    ua.OPC_UA_password = "p@ss";
    ua.OPC_UA_Timeout_of_control = 100;
    WriteIec104Cfg(t, ua, dir, "iec104.cfg");
    EXPECT_EQ(Get("iec104.cfg"), ";kol,0\r\nOPC_UA_use,1\r\nOPC_UA_writable,0\r\nOPC_UA_by_pwd,0\r\n"
                                 "OPC_UA_Control_podkl,0\r\nOPC_UA_Port,4840\r\nOPC_UA_password,p@ss\r\n"
                                 "OPC_UA_username,user\r\nOPC_UA_Timeout_of_control,100\r\n");
    auto fresh = std::make_unique<TServiceContext>();
    TOpcUaSettings back;
    ASSERT_TRUE(ReadInto(*fresh, back));
    EXPECT_TRUE(back.OPC_UA_use);
    EXPECT_EQ(back.OPC_UA_username, "user");
    EXPECT_EQ(back.OPC_UA_Timeout_of_control, 100);
}

// The file holds the OPC UA password: a mode its owner narrowed stays so.
TEST_F(Iec104Cfg, WriterKeepsTheFilesMode)
{
    namespace fs = std::filesystem;
    PutCfg(Canonical);
    fs::permissions(dir / "iec104.cfg", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(Read());
    WriteIec104Cfg(t, ua, dir, "iec104.cfg");
    EXPECT_EQ(fs::status(dir / "iec104.cfg").permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Get("iec104.cfg"), Utf8ToCp1251(Canonical));
    EXPECT_EQ(FileCount(), 1u);
}

TEST_F(Iec104Cfg, WriterOutputReadsBackToTheSameTables)
{
    t.Stations.KpCount = 1;
    t.Stations.KpTable.resize(2);
    T_KP& kp = t.Stations.KpTable[1];
    kp.NameKP = "Станция";
    kp.IP = "127.0.0.1";
    kp.ASDU_Adr = 65535;
    kp.Port2 = 1;
    kp.Time_To_OPC = true;
    kp.Kol_TS = 1;
    kp.TS_arr.resize(2);
    kp.TS_arr[1].NameTS = "  spaced, with comma  ";
    kp.TS_arr[1].AdrIOA = 16777215;
    kp.TS_arr[1].Type_TU = 3;
    kp.Kol_TI = 1;
    kp.TI_arr.resize(2);
    kp.TI_arr[1].NameTI = "";
    kp.TI_arr[1].Min_TM_Diap = -1.0 / 3;
    kp.TI_arr[1].Max_TM_Diap = 1234567.891;
    kp.TI_arr[1].Min_Eng_Diap = 1e-7;
    kp.TI_arr[1].Max_Eng_Diap = 1e15;
    SetPrmnDefault(t.Channels.Prmn104[0], PrmnKind104, "127.0.0.1", 2404);
    WriteIec104Cfg(t, ua, dir, "iec104.cfg");

    auto owner = std::make_unique<TServiceContext>();
    TServiceContext& back = *owner;
    TOpcUaSettings backUa;
    ASSERT_TRUE(ReadInto(back, backUa));
    ASSERT_EQ(back.Stations.KpCount, 1);
    const T_KP& r = back.Stations.KpTable[1];
    EXPECT_EQ(r.NameKP, kp.NameKP);
    EXPECT_EQ(r.ASDU_Adr, 65535);
    EXPECT_EQ(r.Port, 2404);
    EXPECT_TRUE(r.Time_To_OPC);
    EXPECT_EQ(r.TS_arr[1].NameTS, "  spaced, with comma  ");
    EXPECT_EQ(r.TS_arr[1].AdrIOA, 16777215);
    EXPECT_EQ(r.TS_arr[1].Type_TU, 3);
    EXPECT_EQ(r.TI_arr[1].NameTI, "");
    EXPECT_NEAR(r.TI_arr[1].Min_TM_Diap, -1.0 / 3, 1e-15); // the file keeps 15 digits
    EXPECT_EQ(r.TI_arr[1].Max_TM_Diap, 1234567.891);
    EXPECT_EQ(r.TI_arr[1].Min_Eng_Diap, 1e-7);
    EXPECT_EQ(r.TI_arr[1].Max_Eng_Diap, 1e15);
    EXPECT_EQ(back.Channels.Prmn104[0].t0, 30000);
    EXPECT_EQ(back.Channels.Prmn104[0].sz_COT, 2);
}

// The canonical file with a station line that has a typo (its station,
// OPC UA lines and a comment included, between the two good stations) and
// a measured value of station 2 whose address is no number.
std::string WithSkippedLines()
{
    std::string cfg = Canonical;
    cfg.replace(0, 6, ";kol,3"); // as the program wrote it, before the typo
    const std::string refused = "KP,6x,1,ПС Опечатка,10.0.0.6\r\n"
                                "PRM_T,2406,30000,15000,10000,20000,12,8,100,0,0,0,0,5000,30000,3,20000,6,2,3,2,30\r\n"
                                ";PORT,6x,1,ПС Опечатка,10.0.0.6,2406\r\n"
                                "PER,0\r\n"
                                + OpcUaLines + "TS,1001,6,,\"Точка\",8272,6,1,0,0,0,0\r\n";
    cfg.insert(cfg.find("KP,7,1,"), refused);
    cfg.insert(cfg.find("TIT,1002,7,"), "TIT,1002,7,,\"Плохой\",8280,7,1x2,0,1,0,1,0,1,0,1,0\r\n");
    return cfg;
}

TEST_F(Iec104Cfg, SkippedLinesAreKeptWhereTheyStoodAndTheServiceReadsAsWithoutThem)
{
    PutCfg(WithSkippedLines());
    ASSERT_TRUE(Read());
    EXPECT_EQ(logged.size(), 2u);
    // What the service reads: the tables of the file without those lines.
    auto plain = std::make_unique<TServiceContext>();
    TOpcUaSettings plainUa;
    {
        PutCfg(Canonical);
        ASSERT_TRUE(ReadIec104Cfg(*plain, plainUa, dir, "iec104.cfg", RefuseComplaints()));
    }
    ASSERT_EQ(t.Stations.KpCount, plain->Stations.KpCount);
    for (int i = 1; i <= t.Stations.KpCount; ++i) {
        const T_KP& a = t.Stations.KpTable[static_cast<std::size_t>(i)];
        const T_KP& b = plain->Stations.KpTable[static_cast<std::size_t>(i)];
        EXPECT_EQ(a.NameKP, b.NameKP);
        EXPECT_EQ(a.Kol_TS, b.Kol_TS);
        EXPECT_EQ(a.Kol_TI, b.Kol_TI);
    }
    EXPECT_EQ(ua.OPC_UA_Port, plainUa.OPC_UA_Port);
    const std::vector<const TKeptCfgLine*> skipped = SkippedCfgLines(t.Stations);
    ASSERT_EQ(skipped.size(), 5u); // KP, PRM_T, PER and TS of the refused station, the measured value
    EXPECT_EQ(skipped.front()->lineNo, 27);
    EXPECT_EQ(skipped.front()->text, "KP,6x,1,ПС Опечатка,10.0.0.6");

    // Written back unchanged: the same bytes.
    WriteIec104Cfg(t, ua, dir, "iec104.cfg");
    EXPECT_EQ(Get("iec104.cfg"), Utf8ToCp1251(WithSkippedLines()));

    // Fewer stations and values than they stood among, and new OPC UA
    // settings: after the last there is, and the refused station's OPC UA
    // lines say what the settings are now.
    t.Stations.KpTable[2].Kol_TI = 0;
    t.Stations.KpTable[2].TI_arr.resize(1);
    ua.OPC_UA_Port = 4841;
    WriteIec104Cfg(t, ua, dir, "iec104.cfg");
    const auto newPort = [](std::string text) {
        for (std::size_t at = 0; (at = text.find("OPC_UA_Port,4840", at)) != std::string::npos;)
            text.replace(at, 16, "OPC_UA_Port,4841");
        return text;
    };
    std::string expected = newPort(WithSkippedLines());
    const std::size_t value = expected.find("TIT,1002,7,,\"P, МВт\"");
    expected.erase(value, expected.find("\r\n", value) + 2 - value);
    EXPECT_EQ(Get("iec104.cfg"), Utf8ToCp1251(expected));
    t.Stations.KpCount = 1;
    WriteIec104Cfg(t, ua, dir, "iec104.cfg");
    auto back = std::make_unique<TServiceContext>();
    TOpcUaSettings backUa;
    ASSERT_TRUE(ReadInto(*back, backUa));
    EXPECT_EQ(back->Stations.KpCount, 1);
    EXPECT_EQ(backUa.OPC_UA_Port, 4841);
    const std::string last = Cp1251ToUtf8(Get("iec104.cfg"));
    EXPECT_EQ(last.rfind(";kol,2\r\n", 0), 0u); // the refused station counts
    EXPECT_TRUE(last.ends_with("PER,0\r\n" + newPort(OpcUaLines) + "TS,1001,6,,\"Точка\",8272,6,1,0,0,0,0\r\n"))
        << last;
}

TEST_F(Iec104Cfg, WriterRefusesWhatWouldNotReadBack)
{
    PutCfg(Canonical);
    Read();
    const std::string before = Get("iec104.cfg");
    struct Case {
        void (*spoil)(TServiceContext&, TOpcUaSettings&);
        std::string field;
    };
    const std::vector<Case> cases = {
        {[](TServiceContext& s, TOpcUaSettings&) { s.Stations.KpTable[1].TS_arr[1].NameTS = "say \"hi\""; },
         "station 1 point 1 NameTS"},
        {[](TServiceContext& s, TOpcUaSettings&) { s.Stations.KpTable[2].TI_arr[1].NameTI = "two\nlines"; },
         "station 2 value 1 NameTI"},
        {[](TServiceContext& s, TOpcUaSettings&) { s.Stations.KpTable[1].NameKP = "A, B"; }, "station 1 NameKP"},
        {[](TServiceContext& s, TOpcUaSettings&) { s.Stations.KpTable[2].NameKP = "日本"; }, "station 2 NameKP"},
        {[](TServiceContext& s, TOpcUaSettings&) { s.Stations.KpTable[1].IP = " 10.0.0.1"; }, "station 1 IP"},
        {[](TServiceContext& s, TOpcUaSettings&) { s.Stations.KpTable[1].IP2 = "\"x"; }, "station 1 IP2"},
        {[](TServiceContext&, TOpcUaSettings& u) { u.OPC_UA_password = "a,b"; }, "OPC_UA_password"},
        {[](TServiceContext& s, TOpcUaSettings&) { s.Stations.KpTable[1].TI_arr[2].Max_TM_Diap = std::nan(""); },
         "station 1 value 2 Max_TM_Diap"},
        {[](TServiceContext& s, TOpcUaSettings&) {
             s.Stations.KpTable[1].TI_arr[1].Min_Eng_Diap = std::numeric_limits<double>::infinity();
         },
         "station 1 value 1 Min_Eng_Diap"},
        // Numbers the reader refuses are named as the reader names them.
        {[](TServiceContext& s, TOpcUaSettings&) { s.Stations.KpTable[2].ASDU_Adr = 70000; }, "field 1 (ASDU_Adr)"},
        {[](TServiceContext& s, TOpcUaSettings&) { s.Stations.KpTable[1].TS_arr[2].Type_TU = 7; },
         "field 10 (Type_TU)"},
        {[](TServiceContext& s, TOpcUaSettings&) { s.Channels.Prmn104[1].sz_COT = 9; }, "field 20 (sz_COT)"},
        {[](TServiceContext& s, TOpcUaSettings&) { s.Stations.KpTable[1].Kol_TS = 3; }, "station 1 Kol_TS/Kol_TI"},
    };
    for (const Case& c : cases) {
        auto spoiled = std::make_unique<TServiceContext>();
        TOpcUaSettings spoiledUa;
        ReadInto(*spoiled, spoiledUa);
        c.spoil(*spoiled, spoiledUa);
        try {
            WriteIec104Cfg(*spoiled, spoiledUa, dir, "iec104.cfg");
            ADD_FAILURE() << "wrote " << c.field;
        } catch (const TConfigError& e) {
            EXPECT_EQ(e.field(), c.field) << e.what();
        }
        EXPECT_EQ(Get("iec104.cfg"), before);
        EXPECT_EQ(FileCount(), 1u);
    }
}

} // namespace
} // namespace gw
