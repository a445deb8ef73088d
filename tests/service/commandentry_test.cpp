#include "service_fixture.h"

#include "service/commandentry.h"

#include "core/commandqueue.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace gw::test {
namespace {

// The fields of a command frame the gateway sent; co without its qualifier
// of command (QU), that is S/E and the state.
struct TCommandFrame {
    int type = 0, cot = 0, ca = 0, ioa = 0, co = 0;
    int raw = 0; // the whole command byte
};
TCommandFrame Decode(const TBytes& f)
{
    EXPECT_GE(f.size(), 16u);
    if (f.size() < 16)
        return {};
    return {f[6], f[8] & 0x3F, f[10] | f[11] << 8, f[12] | f[13] << 8 | f[14] << 16, f[15] & 0x83, f[15]};
}

class CommandEntryTest : public ServiceTest {
protected:
    // The command frames sent on station kp's channel during one tick.
    std::vector<TCommandFrame> Commands(int kp)
    {
        Ticks(1);
        std::vector<TBytes> frames;
        Answer(kp, &frames);
        std::vector<TCommandFrame> commands;
        for (const TBytes& f : frames)
            if (f[6] == 45 || f[6] == 46)
                commands.push_back(Decode(f));
        return commands;
    }
    // The station answers a command: the same command with cause byte cot.
    void Reply(int kp, const TCommandFrame& c, std::uint8_t cot)
    {
        Send(kp, {static_cast<std::uint8_t>(c.type), 0x01, cot, 0x00, static_cast<std::uint8_t>(c.ca), 0x00,
                  static_cast<std::uint8_t>(c.ioa), static_cast<std::uint8_t>(c.ioa >> 8),
                  static_cast<std::uint8_t>(c.ioa >> 16), static_cast<std::uint8_t>(c.raw)});
    }
    // The station confirms the select: the same command with cause 7.
    void Confirm(int kp, const TCommandFrame& c) { Reply(kp, c, 0x07); }
    // A passive station connects and starts the transfer itself.
    void BringPassive(int kp)
    {
        Channel(kp).Connect();
        Channel(kp).Receive({0x68, 0x04, 0x07, 0x00, 0x00, 0x00});
        Ticks(1);
        Answer(kp);
    }
    // One station with three commandable points (the first with typeTuFirst,
    // the others single with select), brought up and given a command for
    // each: the first one's frame is what the tick sends.
    std::vector<TCommandFrame> ThreeCommandsGiven(int typeTuFirst)
    {
        TStationSpec s;
        s.ts = {TSignalSpec{1, 4001, typeTuFirst, 0}, TSignalSpec{2, 4002, 0, 0}, TSignalSpec{3, 4003, 0, 0}};
        stations = {s};
        Start();
        Bring(1);
        for (int tag : {0, 1, 2})
            EXPECT_TRUE(ExecuteTU(ctx, tag, TTUCommand::tuCommand_On));
        return Commands(1);
    }
    TStationSpec WithCommand(int typeTu, std::string ip = "10.0.0.1")
    {
        TStationSpec s;
        s.ip = std::move(ip);
        s.ts = {TSignalSpec{1, 0, 0, 0}, TSignalSpec{2, 4000 + typeTu, typeTu, typeTu >= 2 ? 1 : 0}};
        return s;
    }
};

TEST_F(CommandEntryTest, SingleAndDoubleWithSelectAndDirect)
{
    struct TCase {
        int typeTu;
        TTUCommand cmd;
        int type;
        int selectCo; // -1: executed directly
        int executeCo;
    } cases[] = {
        {0, TTUCommand::tuCommand_On, 45, 0x81, 0x01},  {0, TTUCommand::tuCommand_Off, 45, 0x80, 0x00},
        {1, TTUCommand::tuCommand_On, 45, -1, 0x01},    {2, TTUCommand::tuCommand_On, 46, 0x82, 0x02},
        {2, TTUCommand::tuCommand_Off, 46, 0x81, 0x01}, {3, TTUCommand::tuCommand_Off, 46, -1, 0x01},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.typeTu * 10 + static_cast<int>(c.cmd));
        stations = {WithCommand(c.typeTu)};
        Start();
        Bring(1);
        ASSERT_TRUE(ExecuteTU(ctx, 1, c.cmd));
        auto sent = Commands(1);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].type, c.type);
        EXPECT_EQ(sent[0].cot, 6);
        EXPECT_EQ(sent[0].ca, 1);
        EXPECT_EQ(sent[0].ioa, 4000 + c.typeTu);
        if (c.selectCo >= 0) {
            EXPECT_EQ(sent[0].co, c.selectCo);
            Confirm(1, sent[0]);
            sent = Commands(1);
            ASSERT_EQ(sent.size(), 1u);
        }
        EXPECT_EQ(sent[0].co, c.executeCo);
        EXPECT_TRUE(Commands(1).empty()); // sent once
        ServiceStop(ctx);
    }
}

TEST_F(CommandEntryTest, TheLinkOfTheSignalsOwnChannelWhenTwoStationsShareAnAddress)
{
    stations = {WithCommand(1), WithCommand(1)}; // both 10.0.0.1:2404
    Start();
    Bring(1);
    Bring(2);
    ASSERT_TRUE(ExecuteTU(ctx, 3, TTUCommand::tuCommand_On)); // station 2's commandable point
    EXPECT_TRUE(Commands(1).empty());
    ASSERT_EQ(Commands(2).size(), 1u);
}

TEST_F(CommandEntryTest, APassiveStationWithoutAddress)
{
    TStationSpec active = WithCommand(1);
    TStationSpec passive = WithCommand(1, "");
    passive.passive = true;
    stations = {active, passive};
    Start();
    EXPECT_EQ(ctx.Stations.KpTable[2].IP, "IP2");
    BringPassive(2);
    ASSERT_TRUE(ExecuteTU(ctx, 3, TTUCommand::tuCommand_On));
    const auto sent = Commands(2);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].ioa, 4001);
}

TEST_F(CommandEntryTest, NotStartedIsFalseAndALogLine)
{
    stations = {WithCommand(0)};
    ServiceInit(ctx);
    EXPECT_FALSE(ExecuteTU(ctx, 1, TTUCommand::tuCommand_On));
    Start();
    Bring(1);
    EXPECT_FALSE(ExecuteTU(ctx, 0, TTUCommand::tuCommand_On));   // no command addresses
    EXPECT_FALSE(ExecuteTU(ctx, 2, TTUCommand::tuCommand_On));   // no such tag
    EXPECT_FALSE(ExecuteTU(ctx, -1, TTUCommand::tuCommand_Off)); // no such tag
    EXPECT_FALSE(ExecuteTU(ctx, 1, TTUCommand::tuCommand_Empty));
    EXPECT_TRUE(Commands(1).empty());
    const std::string log = Log("log_iec104.txt");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5);
    EXPECT_NE(log.find(" ExecuteTU - команда не выдана, sstID=1: сервер не запущен\n"), std::string::npos);
    EXPECT_NE(log.find("sstID=0: у сигнала нет адресов команды\n"), std::string::npos);
}

// An item write commands the tag of its row. A station's branch and
// "Connected" rows, and rows a bigger earlier configuration numbered, have
// no signal: a write to them must command nothing.
TEST_F(CommandEntryTest, ItemsWithoutASignalCommandNothing)
{
    TStationSpec s;
    s.ts = {TSignalSpec{1, 4001, 1, 0}}; // tag 0 can be commanded
    stations = {s, s};                   // items 1 to 3 and 4 to 6 (tag 1)
    Start();
    ServiceStop(ctx);
    s.ts.push_back(TSignalSpec{2, 4002, 1, 0});
    stations = {s}; // items 1 to 4, tag 1 is the second point now
    Start();
    Bring(1);
    for (int id : {ctx.Stations.KpTable[1].Nom_OPC_1st, ctx.Stations.KpTable[1].Nom_OPC_Alarm, 5, 6}) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(
            ExecuteTU(ctx, ctx.Items.OpcItems[static_cast<std::size_t>(id)].Nomer_Tag, TTUCommand::tuCommand_On));
        EXPECT_TRUE(Commands(1).empty());
    }
    EXPECT_TRUE(ExecuteTU(ctx,
                          ctx.Items.OpcItems[static_cast<std::size_t>(ctx.Stations.KpTable[1].Nom_OPC_TS)].Nomer_Tag,
                          TTUCommand::tuCommand_On));
    EXPECT_EQ(Commands(1).size(), 1u);
}

// A command to a station without data transfer would leave only after a
// reconnect, long after it was given: it is refused and logged instead.
TEST_F(CommandEntryTest, AStationWithoutDataTransferTakesNoCommand)
{
    stations = {WithCommand(0)};
    Start();
    EXPECT_FALSE(ExecuteTU(ctx, 1, TTUCommand::tuCommand_On)); // never connected
    EXPECT_NE(Log("log_iec104.txt").find("ExecuteTU - команда не выдана, sstID=1: нет связи с КП 1"),
              std::string::npos);
    Bring(1);
    EXPECT_TRUE(ExecuteTU(ctx, 1, TTUCommand::tuCommand_On));
    EXPECT_EQ(Commands(1).size(), 1u);
    Channel(1).Disconnect();
    EXPECT_FALSE(ExecuteTU(ctx, 1, TTUCommand::tuCommand_On)) << "connection lost, no pass has seen it yet";
    Ticks(1);
    EXPECT_FALSE(ExecuteTU(ctx, 1, TTUCommand::tuCommand_On)); // connection lost
}

TEST_F(CommandEntryTest, TraceWithSaveObmen)
{
    stations = {WithCommand(0)};
    ctx.Switches.Save_Obmen_v_File = true;
    Start();
    Bring(1);
    ASSERT_TRUE(ExecuteTU(ctx, 1, TTUCommand::tuCommand_On));
    EXPECT_FALSE(ExecuteTU(ctx, 0, TTUCommand::tuCommand_On));
    const std::string trace = Log("TU.txt");
    EXPECT_EQ(trace.substr(0, trace.find(" pclTU")),
              " ExecuteTU - _sstID=1\n ExecuteTU - pkp.IPAddress=10.0.0.1 pkp.Port=2404\n");
    EXPECT_NE(trace.find(" pkp.Port=\n ExecuteTU - _sstID=0\n"), std::string::npos);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), '\n'), 4);
}

// The stop ends the commands not yet sent, each with a line; the one the
// station confirmed has its own line.
TEST_F(CommandEntryTest, TheStopDropsTheCommandsNotYetSentWithALine)
{
    const auto sent = ThreeCommandsGiven(1);
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(sent.size(), 1u); // the first one's execute
    Reply(1, sent[0], 0x07);
    ASSERT_EQ(Commands(1).size(), 1u); // the second one's select
    ServiceStop(ctx);
    const std::string log = Log("log_iec104.txt");
    for (int tag : {1, 2})
        EXPECT_NE(log.find(" ExecuteTU - команда снята, sstID=" + std::to_string(tag) + ": служба остановлена, КП 1"),
                  std::string::npos)
            << log;
    EXPECT_NE(log.find(" ExecuteTU - команда выполнена, sstID=0: КП 1"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
}

// Commands from another thread while the main thread ticks, the channel
// receives, and the service stops and starts again.
TEST_F(CommandEntryTest, CommandsFromOtherThreadsMeetTicksReceivesAndRestarts)
{
    stations = {WithCommand(0), WithCommand(2, "10.0.0.2")};
    Start();
    Bring(1);
    std::atomic<bool> done{false};
    std::atomic<int> started{0};
    std::thread commander([&] {
        while (!done)
            if (ExecuteTU(ctx, 1, TTUCommand::tuCommand_On) | ExecuteTU(ctx, 3, TTUCommand::tuCommand_Off))
                ++started;
    });
    // However the threads are scheduled, commands have started on the
    // connected station before the ticks, receives and restarts go on
    // beside the ones that follow.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (started == 0 && std::chrono::steady_clock::now() < limit)
        std::this_thread::yield();
    const bool commanded = started > 0;
    for (int round = 0; commanded && round < 3; ++round) {
        FakeChannel& ch = Channel(1);
        std::thread station([&] {
            for (int k = 0; k < 200; ++k)
                ch.Receive({0x68, 0x04, 0x43, 0x00, 0x00, 0x00}); // test frames
        });
        Ticks(200);
        station.join();
        ServiceStop(ctx);
        Start();
    }
    done = true;
    commander.join();
    EXPECT_TRUE(commanded) << "no command started on the connected station";
}

// Two commands to one station given together both leave, in order: the
// second waits until the station has answered the first one's execute
// (confirmation or termination), refused it, or its time-out has passed.
// Each command leaves once the one before it has completed, and its end is
// a line naming how it ended, its station, signal and value.
TEST_F(CommandEntryTest, CommandsToOneStationLeaveOneAfterTheOtherOnceEachHasCompleted)
{
    enum class End { ExecuteCon, ExecuteTerm, SelectNegative, ExecuteNegative, SelectTimeOut, ExecuteTimeOut };
    const End ends[] = {End::ExecuteCon,      End::ExecuteTerm,   End::SelectNegative,
                        End::ExecuteNegative, End::SelectTimeOut, End::ExecuteTimeOut};
    auto line = [](End end) {
        const std::string who = "КП 1 \"КП\", сигнал \"\" (ТУ 1:4001), команда Вкл\n";
        switch (end) {
        case End::ExecuteCon:
        case End::ExecuteTerm: return " ExecuteTU - команда выполнена, sstID=0: " + who;
        case End::SelectNegative:
        case End::ExecuteNegative: return " ExecuteTU - команда отклонена КП, sstID=0: " + who;
        default: return " ExecuteTU - команда без ответа, sstID=0: время ожидания ответа истекло, " + who;
        }
    };
    TStationSpec s;
    s.ts = {TSignalSpec{1, 4001, 0, 0}, TSignalSpec{2, 4002, 2, 1}}; // single and double, with select
    stations = {s};
    for (const End end : ends) {
        SCOPED_TRACE(static_cast<int>(end));
        const std::size_t logged = Log("log_iec104.txt").size();
        Start();
        Bring(1);
        ASSERT_TRUE(ExecuteTU(ctx, 0, TTUCommand::tuCommand_On));
        ASSERT_TRUE(ExecuteTU(ctx, 1, TTUCommand::tuCommand_Off));
        auto sent = Commands(1);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].ioa, 4001);
        EXPECT_EQ(sent[0].co, 0x81); // select On
        if (end == End::SelectNegative) {
            Reply(1, sent[0], 0x47);
        } else if (end == End::SelectTimeOut) {
            EXPECT_TRUE(Commands(1).empty());
            clock.Advance(6001);
        } else {
            Confirm(1, sent[0]);
            sent = Commands(1);
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0].co, 0x01); // execute On
            // The second command waits for the station's answer to the execute.
            EXPECT_TRUE(Commands(1).empty());
            if (end == End::ExecuteTimeOut) {
                clock.Advance(5000); // each tick adds 50 ms: 5200 ms after the start
                EXPECT_TRUE(Commands(1).empty());
                clock.Advance(1000);
            } else {
                Reply(1, sent[0], end == End::ExecuteCon ? 0x07 : end == End::ExecuteTerm ? 0x0A : 0x47);
            }
        }
        sent = Commands(1);
        EXPECT_EQ(Log("log_iec104.txt").substr(logged), line(end));
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].type, 46);
        EXPECT_EQ(sent[0].ioa, 4002);
        EXPECT_EQ(sent[0].co, 0x81); // select Off
        Confirm(1, sent[0]);
        sent = Commands(1);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].co, 0x01); // execute Off
        ServiceStop(ctx);
    }
}

// The queue of a station holds MaxQueuedTu commands; one more is refused
// with a line naming station and signal, and every accepted one leaves.
TEST_F(CommandEntryTest, AFullQueueRefusesWithALineAndTheAcceptedAllLeave)
{
    TStationSpec s;
    s.name = "Подстанция 7";
    s.ts = {TSignalSpec{1, 4001, 1, 0}}; // executed directly
    stations = {s};
    Start();
    Bring(1);
    const int accepted = static_cast<int>(TTuQueue::MaxQueuedTu);
    for (int k = 0; k < accepted; ++k)
        ASSERT_TRUE(ExecuteTU(ctx, 0, k % 2 ? TTUCommand::tuCommand_Off : TTUCommand::tuCommand_On)) << k;
    EXPECT_FALSE(ExecuteTU(ctx, 0, TTUCommand::tuCommand_On));
    const std::string record = ctx.Running.Run->ArmSignals.GetRec(0)->DispName();
    EXPECT_NE(Log("log_iec104.txt")
                  .find(" ExecuteTU - команда не выдана, sstID=0: очередь команд полна (16), КП 1 \"Подстанция 7\", "
                        "сигнал \""
                        + record + "\" (ТУ 1:4001)\n"),
              std::string::npos)
        << Log("log_iec104.txt");
    for (int k = 0; k < accepted; ++k) {
        SCOPED_TRACE(k);
        const auto sent = Commands(1);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].co, k % 2 ? 0x00 : 0x01);
        Reply(1, sent[0], 0x07);
    }
    EXPECT_TRUE(Commands(1).empty());
}

// Commands still waiting when the data transfer stops, and the running one
// whose execute has not left (here its select waits for the confirmation),
// could leave only after a reconnect: they are dropped, each with a line,
// and never sent.
TEST_F(CommandEntryTest, WaitingAndUnexecutedCommandsAreDroppedWithALineWhenTheTransferStops)
{
    const auto sent = ThreeCommandsGiven(0);
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(sent.size(), 1u); // the first one's select
    Channel(1).Disconnect();
    Ticks(1);
    const std::string log = Log("log_iec104.txt");
    for (int tag : {0, 1, 2})
        EXPECT_NE(log.find(" ExecuteTU - команда снята, sstID=" + std::to_string(tag) + ": нет связи с КП 1 \"КП\""),
                  std::string::npos)
            << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
    Bring(1);
    for (int k = 0; k < 3; ++k) {
        EXPECT_TRUE(Commands(1).empty());
        clock.Advance(3000); // past the first command's time-out too
    }
}

// A command whose execute left and whose answer never came because the
// link went ends with a line too: the station may or may not have acted.
TEST_F(CommandEntryTest, ALinkLostWhileTheExecuteAwaitsItsAnswerEndsTheCommandWithALine)
{
    stations = {WithCommand(1)}; // executed directly
    Start();
    Bring(1);
    ASSERT_TRUE(ExecuteTU(ctx, 1, TTUCommand::tuCommand_Off));
    ASSERT_EQ(Commands(1).size(), 1u);
    Channel(1).Disconnect();
    Ticks(1);
    EXPECT_EQ(Log("log_iec104.txt"), " ExecuteTU - команда без ответа, sstID=1: нет связи с КП 1 \"КП\", сигнал "
                                     "\"\" (ТУ 1:4001), команда Откл\n");
}

} // namespace
} // namespace gw::test
