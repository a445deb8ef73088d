// kpsim as a real process on a loopback port, driven by the test's own
// frames; what it sends is checked by tshark's IEC 104 dissector.
#include "testkit/kpsim_process.h"
#include "test_link.h"

#include "testkit/temp_dir.h"
#include "support/tshark.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <gtest/gtest.h>

#include <span>

namespace gw::test {
namespace {

using namespace std::chrono_literals;

// APCI frames and ASDUs (widths 2/2/3 unless named narrow) of the
// independent reference table.
const TBytes kStartDtAct = FromHex("68 04 07 00 00 00");
const TBytes kStartDtCon = FromHex("68 04 0B 00 00 00");
const TBytes kStopDtAct = FromHex("68 04 13 00 00 00");
const TBytes kStopDtCon = FromHex("68 04 23 00 00 00");
const TBytes kTestFrAct = FromHex("68 04 43 00 00 00");
const TBytes kTestFrCon = FromHex("68 04 83 00 00 00");
const TBytes kGiAct = FromHex("64 01 06 00 01 00 00 00 00 14");
const TBytes kGiActCon = FromHex("64 01 07 00 01 00 00 00 00 14");
const TBytes kGiActTerm = FromHex("64 01 0A 00 01 00 00 00 00 14");
const TBytes kCiAct = FromHex("65 01 06 00 01 00 00 00 00 05");
const TBytes kCsAct = FromHex("67 01 06 00 01 00 00 00 00 22 24 05 0E E7 03 15");
const TBytes kScSelect = FromHex("2D 01 06 00 01 00 88 13 00 81");
const TBytes kScExecute = FromHex("2D 01 06 00 01 00 88 13 00 01");
const TBytes kScSelectActCon = FromHex("2D 01 07 00 01 00 88 13 00 81");
const TBytes kScSelectNegative = FromHex("2D 01 47 00 01 00 88 13 00 81");
const TBytes kDcSelect = FromHex("2E 01 06 00 01 00 89 13 00 81");
const TBytes kDcExecute = FromHex("2E 01 06 00 01 00 89 13 00 02");
const TBytes kScUnknownIoa = FromHex("2D 01 6F 00 01 00 6F 17 00 01");
const TBytes kScNarrowSelect = FromHex("2D 01 06 07 88 13 80");

// The ASDU with another cause byte: what a station sends back for a request.
TBytes WithCause(TBytes asdu, std::uint8_t cause)
{
    asdu[2] = cause;
    return asdu;
}

std::vector<TBytes> Asdus(const std::vector<TBytes>& frames)
{
    std::vector<TBytes> out;
    for (const TBytes& f : frames)
        if (IsIFrame(f))
            out.push_back(AsduOf(f));
    return out;
}

// A started connection to station 1 of `kp`.
struct Started {
    explicit Started(KpsimProcess& kp) : link(kp.ListenPort(1))
    {
        link.SendRaw(kStartDtAct);
        const auto con = link.ReadFrame();
        EXPECT_EQ(con, kStartDtCon);
    }
    TestLink link;
};

// A "set" control line and the ASDU (hex) it makes kpsim send.
struct SetCase {
    const char* control;
    const char* asdu;
};

void ExpectSetAsdus(KpsimProcess& kp, Started& s, std::span<const SetCase> cases)
{
    for (const SetCase& c : cases) {
        SCOPED_TRACE(c.control);
        kp.Control(c.control);
        const auto frame = s.link.ReadFrame();
        ASSERT_TRUE(frame);
        EXPECT_EQ(ToHex(AsduOf(*frame)), c.asdu);
    }
}

TEST(Kpsim, GeneralInterrogationReturnsEveryConfiguredPoint)
{
    KpsimProcess kp({"--listen", "0", "--ca", "1", "--sp", "100:3", "--dp", "200:2", "--me-norm", "300", "--me-scaled",
                     "310:2", "--me-float", "320:2", "--it", "800"});
    Started s(kp);
    s.link.SendAsdu(kGiAct);
    const std::vector<TBytes> frames = s.link.ReadUntilAsdu(kGiActTerm);
    ASSERT_FALSE(frames.empty());
    const std::vector<TBytes> asdus = Asdus(frames);
    EXPECT_EQ(asdus.front(), kGiActCon);
    EXPECT_EQ(asdus.back(), kGiActTerm);
    EXPECT_TRUE(kp.WaitFor("interrogation station=1 ca=1 qoi=20"));

    const auto rows = TsharkFields(frames,
                                   {"iec60870_asdu.typeid", "iec60870_asdu.causetx", "iec60870_asdu.addr",
                                    "iec60870_asdu.ioa", "iec60870_asdu.siq.spi", "iec60870_asdu.diq.dpi",
                                    "iec60870_asdu.normval", "iec60870_asdu.scalval", "iec60870_asdu.float"},
                                   TApduDirection::FromStation);
    ASSERT_EQ(rows.size(), 7u); // act con, five kinds of points, act term
    const std::vector<std::vector<std::string>> expected{
        {"100", "7", "1", "0", "", "", "", "", ""},
        {"1", "20", "1", "100;101;102", "0;1;0", "", "", "", ""},
        {"3", "20", "1", "200;201", "", "1;2", "", "", ""},
        {"9", "20", "1", "300", "", "", "0", "", ""},
        {"11", "20", "1", "310;311", "", "", "", "0;100", ""},
        {"13", "20", "1", "320;321", "", "", "", "", "0;1.5"},
        {"100", "10", "1", "0", "", "", "", "", ""},
    };
    EXPECT_EQ(rows, expected);
}

TEST(Kpsim, CounterInterrogationAndClockSyncAreConfirmed)
{
    KpsimProcess kp({"--listen", "0", "--it", "800:2"});
    Started s(kp);
    s.link.SendAsdu(kCiAct);
    const std::vector<TBytes> frames = s.link.ReadUntilAsdu(WithCause(kCiAct, 0x0A));
    s.link.SendAck(); // kpsim's t1 must not run out while the dissector reads them
    const auto rows = TsharkFields(
        frames, {"iec60870_asdu.typeid", "iec60870_asdu.causetx", "iec60870_asdu.ioa", "iec60870_asdu.bcr.count"},
        TApduDirection::FromStation);
    const std::vector<std::vector<std::string>> expected{
        {"101", "7", "0", ""},
        {"15", "37", "800;801", "1;1002"}, // counted up once by the request
        {"101", "10", "0", ""},
    };
    EXPECT_EQ(rows, expected);
    EXPECT_TRUE(kp.WaitFor("counter-interrogation station=1 ca=1 qcc=5"));

    s.link.SendAsdu(kCsAct);
    const auto con = s.link.ReadFrame();
    ASSERT_TRUE(con);
    EXPECT_EQ(AsduOf(*con), WithCause(kCsAct, 0x07));
    EXPECT_TRUE(kp.WaitFor("clock-sync station=1 ca=1 time=2021-03-07T14:05:09.250"));
}

TEST(Kpsim, SelectThenExecuteIsConfirmedTerminatedAndChangesThePoint)
{
    // Commands to 5000/5001 act on the points 100 (single) and 101 (double).
    KpsimProcess kp({"--listen", "0", "--sp", "100", "--dp", "101", "--cmd-offset", "4900"});
    Started s(kp);

    s.link.SendAsdu(kScSelect);
    auto frame = s.link.ReadFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(AsduOf(*frame), kScSelectActCon);
    EXPECT_TRUE(kp.WaitFor("command station=1 type=C_SC_NA_1 ca=1 ioa=5000 value=1 select=1 qu=0 reply=con"));

    s.link.SendAsdu(kScExecute);
    const std::vector<TBytes> single = s.link.ReadUntilAsdu(WithCause(kScExecute, 0x0A));
    const std::vector<TBytes> singleAsdus = Asdus(single);
    ASSERT_EQ(singleAsdus.size(), 3u);
    EXPECT_EQ(singleAsdus[0], WithCause(kScExecute, 0x07));
    EXPECT_EQ(singleAsdus[1], FromHex("01 01 03 00 01 00 64 00 00 01")); // point 100 now ON, spontaneous
    EXPECT_TRUE(kp.WaitFor("command station=1 type=C_SC_NA_1 ca=1 ioa=5000 value=1 select=0 qu=0 reply=con"));

    s.link.SendAsdu(kDcSelect);
    frame = s.link.ReadFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(AsduOf(*frame), WithCause(kDcSelect, 0x07));
    s.link.SendAsdu(kDcExecute);
    const std::vector<TBytes> dbl = s.link.ReadUntilAsdu(WithCause(kDcExecute, 0x0A));
    const auto rows = TsharkFields(dbl,
                                   {"iec60870_asdu.typeid", "iec60870_asdu.causetx", "iec60870_asdu.ioa",
                                    "iec60870_asdu.diq.dpi", "iec60870_asdu.dco.on"},
                                   TApduDirection::FromStation);
    const std::vector<std::vector<std::string>> expected{
        {"46", "7", "5001", "", "2"},
        {"3", "3", "101", "2", ""},
        {"46", "10", "5001", "", "2"},
    };
    EXPECT_EQ(rows, expected);
    EXPECT_TRUE(kp.WaitFor("command station=1 type=C_DC_NA_1 ca=1 ioa=5001 value=2 select=0 qu=0 reply=con"));
}

TEST(Kpsim, ExecutesTimeTaggedAndShortPulseCommands)
{
    KpsimProcess kp({"--listen", "0", "--sp", "5000", "--dp", "5001"});
    Started s(kp);
    struct Case {
        const char* command;
        const char* point; // the changed point sent between act con and act term
        const char* line;
    };
    const Case cases[] = {
        {"3A 01 06 00 01 00 88 13 00 01 22 24 05 0E E7 03 15", "01 01 03 00 01 00 88 13 00 01",
         "type=C_SC_TA_1 ca=1 ioa=5000 value=1 select=0 qu=0 reply=con"},
        {"3B 01 06 00 01 00 89 13 00 01 22 24 05 0E E7 03 15", "03 01 03 00 01 00 89 13 00 01",
         "type=C_DC_TA_1 ca=1 ioa=5001 value=1 select=0 qu=0 reply=con"},
        // Execute with qualifier 1 (short pulse), as the gateway sends it.
        {"2D 01 06 00 01 00 88 13 00 04", "01 01 03 00 01 00 88 13 00 00",
         "type=C_SC_NA_1 ca=1 ioa=5000 value=0 select=0 qu=1 reply=con"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const TBytes command = FromHex(c.command);
        s.link.SendAsdu(command);
        const auto asdus = Asdus(s.link.ReadUntilAsdu(WithCause(command, 0x0A)));
        ASSERT_EQ(asdus.size(), 3u);
        EXPECT_EQ(asdus[0], WithCause(command, 0x07));
        EXPECT_EQ(ToHex(asdus[1]), c.point);
        EXPECT_TRUE(kp.WaitFor(std::string("command station=1 ") + c.line));
    }
}

TEST(Kpsim, CommandsItCannotExecuteAreRefused)
{
    KpsimProcess kp({"--listen", "0", "--sp", "5000", "--dp", "5001"});
    Started s(kp);

    // No point at 5999.
    s.link.SendAsdu(FromHex("2D 01 06 00 01 00 6F 17 00 01"));
    auto frame = s.link.ReadFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(AsduOf(*frame), kScUnknownIoa);
    EXPECT_TRUE(kp.WaitFor("command station=1 type=C_SC_NA_1 ca=1 ioa=5999 value=1 select=0 qu=0 reply=unknown-ioa"));

    // A single command to a double point is no command for that address either.
    s.link.SendAsdu(FromHex("2D 01 06 00 01 00 89 13 00 01"));
    frame = s.link.ReadFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(AsduOf(*frame), FromHex("2D 01 6F 00 01 00 89 13 00 01"));

    // Another common address.
    s.link.SendAsdu(FromHex("2D 01 06 00 02 00 88 13 00 81"));
    frame = s.link.ReadFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(AsduOf(*frame), FromHex("2D 01 6E 00 02 00 88 13 00 81"));

    // A refusing station answers a known address with a negative act con.
    kp.Control("refuse 1 on");
    ASSERT_TRUE(kp.WaitFor("done station=1 action=refuse"));
    s.link.SendAsdu(kScSelect);
    frame = s.link.ReadFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(AsduOf(*frame), kScSelectNegative);
    EXPECT_TRUE(kp.WaitFor("command station=1 type=C_SC_NA_1 ca=1 ioa=5000 value=1 select=1 qu=0 reply=negative"));
}

// A holding station takes commands and answers none of them; the link runs on.
TEST(Kpsim, AHoldingStationLeavesCommandsUnanswered)
{
    KpsimProcess kp({"--listen", "0", "--sp", "5000"});
    Started s(kp);
    kp.Control("hold 1 on");
    ASSERT_TRUE(kp.WaitFor("done station=1 action=hold"));
    s.link.SendAsdu(kScSelect);
    EXPECT_TRUE(kp.WaitFor("command station=1 type=C_SC_NA_1 ca=1 ioa=5000 value=1 select=1 qu=0 reply=none"));
    // An answer would have left before the answer to the next frame.
    s.link.SendRaw(kTestFrAct);
    EXPECT_EQ(s.link.ReadFrame(), kTestFrCon);
    kp.Control("hold 1 off");
    ASSERT_TRUE(kp.WaitFor("done station=1 action=hold"));
    s.link.SendAsdu(kScSelect);
    const auto frame = s.link.ReadFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(AsduOf(*frame), WithCause(kScSelect, 0x07));
}

TEST(Kpsim, NarrowFieldWidthsAreUsedBothWays)
{
    KpsimProcess kp(
        {"--listen", "0", "--ca", "7", "--cot-size", "1", "--ca-size", "1", "--ioa-size", "2", "--sp", "5000"});
    Started s(kp);
    s.link.SendAsdu(kScNarrowSelect);
    const auto frame = s.link.ReadFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(AsduOf(*frame), FromHex("2D 01 07 07 88 13 80"));
    EXPECT_TRUE(kp.WaitFor("command station=1 type=C_SC_NA_1 ca=7 ioa=5000 value=0 select=1 qu=0 reply=con"));
}

TEST(Kpsim, AnswersTestAndStopFrames)
{
    KpsimProcess kp({"--listen", "0", "--sp", "100"});
    TestLink link(kp.ListenPort(1));
    link.SendRaw(kTestFrAct); // also before the data transfer is started
    EXPECT_EQ(link.ReadFrame(), kTestFrCon);
    link.SendRaw(kStartDtAct);
    EXPECT_EQ(link.ReadFrame(), kStartDtCon);
    link.SendRaw(kTestFrAct);
    EXPECT_EQ(link.ReadFrame(), kTestFrCon);
    link.SendRaw(kStopDtAct);
    EXPECT_EQ(link.ReadFrame(), kStopDtCon);
    EXPECT_TRUE(kp.WaitFor("stopdt station=1"));

    // Stopped: a changed value waits; the next frame is the answer to TESTFR.
    kp.Control("set 1 100 1");
    ASSERT_TRUE(kp.WaitFor("done station=1 action=set"));
    link.SendRaw(kTestFrAct);
    EXPECT_EQ(link.ReadFrame(), kTestFrCon);
    link.SendRaw(kStartDtAct);
    EXPECT_EQ(link.ReadFrame(), kStartDtCon);
    const auto change = link.ReadFrame();
    ASSERT_TRUE(change);
    EXPECT_EQ(AsduOf(*change), FromHex("01 01 03 00 01 00 64 00 00 01"));
}

TEST(Kpsim, ObservesKAndAcknowledgesAfterW)
{
    KpsimProcess kp({"--listen", "0", "--k", "1", "--w", "1"});
    Started s(kp);
    s.link.SendAsdu(kCsAct);
    auto frame = s.link.ReadFrame();
    ASSERT_TRUE(frame && IsIFrame(*frame));
    EXPECT_EQ(ToHex(TBytes(frame->begin() + 2, frame->begin() + 6)), "00 00 02 00"); // N(S) 0, N(R) 1

    // The window is full: the second confirmation waits, the request is acknowledged by an S-frame.
    s.link.SendAsdu(kCsAct, false);
    frame = s.link.ReadFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(*frame, FromHex("68 04 01 00 04 00"));
    s.link.SendAck();
    frame = s.link.ReadFrame();
    ASSERT_TRUE(frame && IsIFrame(*frame));
    EXPECT_EQ(ToHex(TBytes(frame->begin() + 2, frame->begin() + 6)), "02 00 04 00");
}

TEST(Kpsim, AcknowledgesAloneAfterT2AndDropsThePeerAfterT1)
{
    KpsimProcess kp({"--listen", "0", "--t1", "300", "--t2", "100"});
    TestLink link(kp.ListenPort(1));
    // Before STARTDT the confirmation cannot go out, so only an S-frame acknowledges the request.
    link.SendAsdu(kCsAct);
    EXPECT_EQ(link.ReadFrame(), FromHex("68 04 01 00 02 00"));

    link.SendRaw(kStartDtAct);
    EXPECT_EQ(link.ReadFrame(), kStartDtCon);
    const auto con = link.ReadFrame();
    ASSERT_TRUE(con && IsIFrame(*con));
    // Never acknowledged: t1 ends the connection.
    EXPECT_EQ(link.WaitForEnd(), TestLink::End::Closed);
    EXPECT_TRUE(kp.WaitFor("disconnected station=1 reason=t1"));
}

TEST(Kpsim, ConfigFileHoldsOneStationPerLine)
{
    TempDir dir;
    dir.Write("stations.conf", "# two stations\n--listen 0 --ca 5 --sp 1\n--listen 0 --ca 6 --dp 2  # the second\n");
    KpsimProcess kp({"--config", dir.File("stations.conf")});
    TestLink link(kp.ListenPort(2));
    link.SendRaw(kStartDtAct);
    EXPECT_EQ(link.ReadFrame(), kStartDtCon);
    link.SendAsdu(FromHex("64 01 06 00 06 00 00 00 00 14"));
    const auto asdus = Asdus(link.ReadUntilAsdu(FromHex("64 01 0A 00 06 00")));
    ASSERT_EQ(asdus.size(), 3u);
    EXPECT_EQ(asdus[1], FromHex("03 01 14 00 06 00 02 00 00 01"));
}

TEST(Kpsim, SetSendsAValueWithItsQualityAndTime)
{
    KpsimProcess kp({"--listen", "0", "--me-float", "701:2", "--sp", "100"});
    Started s(kp);
    // Objects of the reference table, one at a time.
    const SetCase cases[] = {
        {"set 1 701 -0.125 nt", "0D 01 03 00 01 00 BD 02 00 00 00 00 BE 40"},
        {"set 1 702 230.5 time=2021-03-07T14:05:09.250",
         "24 01 03 00 01 00 BE 02 00 00 80 66 43 00 22 24 05 0E E7 03 15"},
        {"set 1 100 0 iv", "01 01 03 00 01 00 64 00 00 80"},
    };
    ExpectSetAsdus(kp, s, cases);
    for (const char* bad :
         {"set 1 100 2", "set 1 100 1 ov", "set 1 999 1", "set 1 701 1 time=2021-13-01T00:00:00.000"}) {
        kp.Control(bad);
        EXPECT_TRUE(kp.WaitFor("error")) << bad;
    }
}

TEST(Kpsim, SetSendsTotalsStatusBitstringsEightPointsAndInvalidTimeTags)
{
    KpsimProcess kp({"--listen", "0", "--it", "800", "--bo", "400", "--bits8", "600", "--me-scaled", "300"});
    Started s(kp);
    const SetCase cases[] = {
        {"set 1 800 -5 seq=3", "0F 01 03 00 01 00 20 03 00 FB FF FF FF 03"},
        {"set 1 800 -2147483647 cy iv seq=4", "0F 01 03 00 01 00 20 03 00 01 00 00 80 A4"},
        {"set 1 800 7 ca", "0F 01 03 00 01 00 20 03 00 07 00 00 00 44"}, // the sequence number stays
        {"set 1 400 0x12345678", "07 01 03 00 01 00 90 01 00 78 56 34 12 00"},
        {"set 1 400 2863311530 ov bl", "07 01 03 00 01 00 90 01 00 AA AA AA AA 11"},
        {"set 1 600 165 time=2021-03-07T14:05:09.250", "88 01 03 00 01 00 58 02 00 A5 22 24 05 0E E7 03 15"},
        {"set 1 300 -17 sb time=2021-03-07T14:05:09.250 time-iv",
         "23 01 03 00 01 00 2C 01 00 EF FF 20 22 24 85 0E E7 03 15"},
    };
    ExpectSetAsdus(kp, s, cases);
    // Without a time, time-iv sends the time of now marked invalid.
    kp.Control("set 1 400 1 time-iv");
    const auto frame = s.link.ReadFrame();
    ASSERT_TRUE(frame);
    const TBytes asdu = AsduOf(*frame);
    ASSERT_EQ(asdu.size(), 21u);
    EXPECT_EQ(asdu[0], 33); // M_BO_TB_1
    EXPECT_EQ(asdu[16] & 0x80, 0x80);
    for (const char* bad : {"set 1 800 1 nt", "set 1 600 1 iv", "set 1 300 1 seq=2", "set 1 800 1 seq=32",
                            "set 1 600 256", "set 1 400 -1"}) {
        kp.Control(bad);
        EXPECT_TRUE(kp.WaitFor("error")) << bad;
    }
}

TEST(Kpsim, SendsSpontaneousChangesWithTimeTags)
{
    KpsimProcess kp({"--listen", "0", "--sp", "100", "--me-float", "300", "--rate", "200", "--time"});
    Started s(kp);
    std::vector<TBytes> frames;
    while (frames.size() < 4) {
        const auto frame = s.link.ReadFrame();
        ASSERT_TRUE(frame);
        if (IsIFrame(*frame))
            frames.push_back(*frame);
    }
    const auto rows =
        TsharkFields(frames, {"iec60870_asdu.typeid", "iec60870_asdu.causetx", "iec60870_asdu.cp56time.year"},
                     TApduDirection::FromStation);
    for (const auto& row : rows) {
        EXPECT_TRUE(row[0].find("30") == 0 || row[0].find("36") == 0) << row[0];
        EXPECT_EQ(row[1].substr(0, 1), "3");
        EXPECT_FALSE(row[2].empty());
    }
}

// A number of a "stats" line ("values", "asdus", "dropped"); -1 when it has none.
long StatsField(const std::string& line, const std::string& key)
{
    const auto at = line.find(" " + key + "=");
    return at == std::string::npos ? -1 : std::stol(line.substr(at + key.size() + 2));
}

// Behind a window that is never acknowledged the queue fills and changes are
// dropped, and counted; once the gateway reads again every change counted as
// queued arrives, in ASDUs of at most --objects objects.
TEST(Kpsim, CountsTheChangesItQueuesAndDropsBehindAFullWindow)
{
    KpsimProcess kp(
        {"--listen", "0", "--sp", "1:50", "--rate", "20000", "--objects", "2", "--t1", "120000", "--t2", "100000"});
    Started s(kp);
    long dropped = 0;
    for (int attempt = 0; attempt < 500 && dropped <= 0; ++attempt) {
        kp.Control("stats 1");
        const auto line = kp.WaitFor("stats station=1 ");
        ASSERT_TRUE(line);
        dropped = StatsField(*line, "dropped");
    }
    ASSERT_GT(dropped, 0);
    kp.Control("rate 1 0");
    ASSERT_TRUE(kp.WaitFor("done station=1 action=rate"));
    kp.Control("stats 1");
    const auto stats = kp.WaitFor("stats station=1 ");
    ASSERT_TRUE(stats);
    const long values = StatsField(*stats, "values");
    const long asdus = StatsField(*stats, "asdus");
    EXPECT_GE(asdus * 2, values);
    EXPECT_LE(asdus, values);

    long objects = 0, frames = 0;
    while (objects < values) {
        const auto frame = s.link.ReadFrame();
        ASSERT_TRUE(frame) << objects << " of " << values << " changes arrived";
        s.link.SendAck();
        const TBytes asdu = AsduOf(*frame);
        ASSERT_GE(asdu.size(), 3u);
        EXPECT_EQ(asdu[2], 3) << "spontaneous";
        EXPECT_LE(asdu[1] & 0x7F, 2) << "objects in one ASDU";
        objects += asdu[1] & 0x7F;
        frames += 1;
    }
    EXPECT_EQ(objects, values);
    EXPECT_EQ(frames, asdus);
}

TEST(Kpsim, MisbehavesOnRequest)
{
    struct Case {
        const char* control;
        TestLink::End end;
    };
    for (const Case& c : {Case{"close", TestLink::End::Closed}, Case{"reset", TestLink::End::Reset}}) {
        SCOPED_TRACE(c.control);
        KpsimProcess kp({"--listen", "0", "--sp", "100"});
        Started s(kp);
        kp.Control(std::string(c.control) + " 1");
        EXPECT_EQ(s.link.WaitForEnd(), c.end);
        EXPECT_TRUE(kp.WaitFor(std::string("disconnected station=1 reason=") + c.control));
        // The station listens again.
        Started again(kp);
    }
}

// The link faults a controlling station must cope with: an old I-frame
// sent again with its old N(S), end of initialisation, STOPDT act from the
// station (nothing more until STARTDT), a clock synchronisation left unanswered.
TEST(Kpsim, SendsTheLinkFaultsAskedFor)
{
    KpsimProcess kp({"--listen", "0", "--sp", "100", "--ignore-clock-sync"});
    Started s(kp);
    kp.Control("set 1 100 1");
    kp.Control("set 1 100 0");
    const auto first = s.link.ReadFrame();
    const auto second = s.link.ReadFrame();
    ASSERT_TRUE(first && second);
    kp.Control("repeat 1 2");
    const auto repeated = s.link.ReadFrame();
    ASSERT_TRUE(repeated);
    EXPECT_EQ(*repeated, *first) << "the same frame, N(S) 0 after N(S) 1";
    EXPECT_TRUE(kp.WaitFor("repeated station=1 ns=0"));
    kp.Control("repeat 1 3");
    EXPECT_TRUE(kp.WaitFor("error station=1 repeat"));

    // N(R) sits in the third and fourth control octets, shifted by one bit.
    const auto receiveSeq = [](const TBytes& frame) { return (frame[4] | frame[5] << 8) >> 1; };
    kp.Control("bad-nr 1");
    ASSERT_TRUE(kp.WaitFor("done station=1 action=bad-nr"));
    kp.Control("set 1 100 1");
    const auto badAck = s.link.ReadFrame();
    ASSERT_TRUE(badAck);
    EXPECT_EQ(receiveSeq(*badAck), 16384) << "no I-frame of this side was received";
    EXPECT_TRUE(kp.WaitFor("bad-nr station=1 ns=2 nr=16384"));

    kp.Control("eoi 1");
    const auto eoi = s.link.ReadFrame();
    ASSERT_TRUE(eoi);
    EXPECT_EQ(ToHex(AsduOf(*eoi)), "46 01 04 00 01 00 00 00 00 00");
    EXPECT_EQ(receiveSeq(*eoi), 0) << "only the one frame carries the wrong N(R)";

    s.link.SendAsdu(kCsAct, false); // the repeated frame counts once
    EXPECT_TRUE(kp.WaitFor("clock-sync station=1 ca=1 time=2021-03-07T14:05:09.250 reply=none"));
    kp.Control("stopdt 1");
    EXPECT_EQ(s.link.ReadFrame(), kStopDtAct);
    s.link.SendRaw(kStopDtCon);
    EXPECT_TRUE(kp.WaitFor("stopdt-con station=1"));
    // Stopped: a changed value waits for the next STARTDT.
    kp.Control("set 1 100 1");
    ASSERT_TRUE(kp.WaitFor("done station=1 action=set"));
    s.link.SendRaw(kStartDtAct);
    EXPECT_EQ(s.link.ReadFrame(), kStartDtCon);
    const auto waited = s.link.ReadFrame();
    ASSERT_TRUE(waited);
    EXPECT_EQ(ToHex(AsduOf(*waited)), "01 01 03 00 01 00 64 00 00 01");
}

TEST(Kpsim, SilentStationDropsWhatArrivesUntilItTalksAgain)
{
    KpsimProcess kp({"--listen", "0"});
    Started s(kp);
    kp.Control("silent 1");
    ASSERT_TRUE(kp.WaitFor("done station=1 action=silent"));
    s.link.SendRaw(kTestFrAct);
    kp.Control("talk 1");
    ASSERT_TRUE(kp.WaitFor("done station=1 action=talk"));
    s.link.SendRaw(kStopDtAct);
    // Had the first TESTFR been answered, its con would come first.
    EXPECT_EQ(s.link.ReadFrame(), kStopDtCon);
}

TEST(Kpsim, GarbageIsNoFrame)
{
    KpsimProcess kp({"--listen", "0"});
    Started s(kp);
    kp.Control("garbage 1");
    const auto bytes = s.link.ReadBytes(2);
    ASSERT_TRUE(bytes);
    EXPECT_NE((*bytes)[0], 0x68);
}

TEST(Kpsim, DropsAPeerThatBreaksTheProtocol)
{
    KpsimProcess kp({"--listen", "0"});
    struct Case {
        const char* name;
        TBytes bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"no start octet", FromHex("00 04 07 00 00 00"), "bad-frame"},
        {"length below 4", FromHex("68 02 07 00"), "bad-frame"},
        {"I-frame out of sequence", FromHex("68 0E 02 00 00 00 64 01 06 00 01 00 00 00 00 14"), "bad-sequence"},
        {"acknowledges frames never sent", FromHex("68 04 01 00 02 00"), "bad-ack"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestLink link(kp.ListenPort(1));
        link.SendRaw(c.bytes);
        EXPECT_EQ(link.WaitForEnd(), TestLink::End::Closed);
        EXPECT_TRUE(kp.WaitFor(std::string("disconnected station=1 reason=") + c.reason));
    }
}

TEST(Kpsim, ASecondConnectionIsClosedAtOnce)
{
    KpsimProcess kp({"--listen", "0"});
    Started first(kp);
    TestLink second(kp.ListenPort(1));
    EXPECT_EQ(second.WaitForEnd(), TestLink::End::Closed);
    first.link.SendRaw(kTestFrAct);
    EXPECT_EQ(first.link.ReadFrame(), kTestFrCon);
}

TEST(Kpsim, ConnectingStationStartsAtOnceAndReconnects)
{
    Poco::Net::ServerSocket gateway(Poco::Net::SocketAddress("127.0.0.1", 0));
    const std::string target = "127.0.0.1:" + std::to_string(gateway.address().port());
    KpsimProcess kp(
        {"--listen", "0", "--connect", target, "--started", "--reconnect", "50", "--ca", "2", "--dp", "10"});
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(gateway.poll(Poco::Timespan(5, 0), Poco::Net::Socket::SELECT_READ));
        TestLink link(gateway.acceptConnection());
        ASSERT_TRUE(kp.WaitFor("connected station=2"));
        // Data transfer is on without STARTDT: a GI is answered.
        link.SendAsdu(WithCause(FromHex("64 01 06 00 02 00 00 00 00 14"), 0x06));
        const auto asdus = Asdus(link.ReadUntilAsdu(FromHex("64 01 0A 00 02 00")));
        ASSERT_EQ(asdus.size(), 3u);
        EXPECT_EQ(asdus[1], FromHex("03 01 14 00 02 00 0A 00 00 01"));
    }
}

TEST(Kpsim, RejectsABadCommandLine)
{
    const std::vector<std::vector<std::string>> bad{
        {},
        {"--sp", "100"},
        {"--listen", "0", "--sp", "x"},
        {"--listen", "0", "--sp", "100:2", "--dp", "101"},
        {"--listen", "0", "--ioa-size", "1", "--sp", "300"},
        {"--connect", "127.0.0.1"},
        {"--listen", "0", "--bogus"},
        {"--listen", "0", "--objects", "0"},
    };
    for (const auto& args : bad)
        EXPECT_EQ(RunKpsimExpectingExit(args), 2) << ::testing::PrintToString(args);
}

} // namespace
} // namespace gw::test
