// The address space built from the stations, and the read and write
// callbacks over the service's OPC item table.
#include "fixture.h"

#include "opcda/wide.h"

#include <stdexcept>
#include <thread>

namespace opcda::test {
namespace {

class AddressSpace : public OpcFixture {
protected:
    sOPCNode& built(const std::u16string& id)
    {
        core->InitAddressSpace();
        sOPCNode* n = core->GetOPCNode(id, -1);
        EXPECT_NE(n, nullptr) << toUtf8(id);
        return *n;
    }
    void read(sOPCNode& n) { core->ItemRead(n, u"", VT_EMPTY); }
    HRESULT write(sOPCNode& n, const Variant& v, VARTYPE requested)
    {
        return core->ItemWrite(n, *v.get(), u"", requested);
    }
};

TEST_F(AddressSpace, NumbersStationsAsTheService)
{
    core->InitAddressSpace();
    struct Row {
        std::u16string id;
        int ident, parent, type;
        VARTYPE vt;
        DWORD rights;
    };
    const Row rows[] = {
        {u"St1", 1, 0, ntBranch, VT_EMPTY, 0},        {u"St1.Connected", 2, 1, ntLeaf, VT_BOOL, 3},
        {u"St1.P1", 3, 1, ntLeaf, VT_BOOL, 3},        {u"St1.P2", 4, 1, ntLeaf, VT_I4, 3},
        {u"St1.M1", 5, 1, ntLeaf, VT_R8, 3},          {u"St2", 6, 0, ntBranch, VT_EMPTY, 0},
        {u"St2.Connected", 7, 6, ntLeaf, VT_BOOL, 3}, {u"St2.Q1", 8, 6, ntLeaf, VT_BOOL, 3},
        {u"lifebit", 10, 0, ntLeaf, VT_INT, 1},
    };
    ASSERT_EQ(core->nodeCount(), 9);
    for (int i = 0; i < 9; ++i) {
        const sOPCNode& n = core->node(i);
        EXPECT_EQ(n.stItemID, rows[i].id);
        EXPECT_EQ(n.Ident, rows[i].ident);
        EXPECT_EQ(n.Parent, rows[i].parent);
        EXPECT_EQ(n.NodeType, rows[i].type);
        EXPECT_EQ(n.vtCanonicalDataType, rows[i].vt);
        EXPECT_EQ(n.dwAccessRights, rows[i].rights);
        // The service gave the same numbers to its rows and stations.
        if (n.NodeType == ntLeaf && rows[i].ident != 10 && rows[i].ident != 2 && rows[i].ident != 7) {
            EXPECT_NE(ctx.Items.OpcItems[static_cast<std::size_t>(n.Ident)].Nomer_Tag, gw::NoOpcTag);
        }
    }
    EXPECT_EQ(model.LifebitIdent(), 10);
    EXPECT_EQ(ctx.Stations.KpTable[2].Nom_OPC_1st, 6);
    EXPECT_EQ(core->GetOPCNode(u"", 7)->stItemID, u"St2.Connected");
    EXPECT_EQ(core->GetOPCNode(u"nope", -1), nullptr);
}

TEST(AddressSpaceBuild, WithoutCallbackOrWithAFailingOne)
{
    gw::test::FakeClock clock;
    sOPC bare(clock);
    bare.InitAddressSpace();
    ASSERT_EQ(bare.nodeCount(), 1);
    EXPECT_EQ(bare.node(0).stItemID, u"No address space defined!");
    EXPECT_EQ(bare.node(0).dwAccessRights, 3u);
    // Without a write callback the node takes the value and the time.
    bare.ItemWrite(bare.node(0), *Variant::fromI4(5).get(), u"", VT_EMPTY);
    EXPECT_EQ(bare.node(0).snapshot().value.get()->lVal, 5);
    EXPECT_EQ(bare.node(0).snapshot().time, clock.Now());

    sOPC failing(clock);
    failing.FOnInitAddressSpace = [&] {
        failing.AddBranch(0, 1, u"A");
        failing.AddLeaf(1, 2, u"B", VT_I4, 3);
        throw std::runtime_error("broken");
    };
    failing.InitAddressSpace();
    failing.InitAddressSpace();
    ASSERT_EQ(failing.nodeCount(), 3);
    EXPECT_EQ(failing.node(1).stItemID, u"A.B");
    EXPECT_EQ(failing.node(2).stItemID, u"No address space defined (Exception)!");
}

TEST(AddressSpaceBuild, DuplicatesFindTheFirstAndCyclesEnd)
{
    gw::test::FakeClock clock;
    sOPC core(clock);
    core.FOnInitAddressSpace = [&] {
        core.AddBranch(0, 1, u"A");
        core.AddBranch(0, 2, u"A");
        core.AddLeaf(2, 3, u"x", VT_I4, 3);
        core.AddBranch(5, 4, u"loop1"); // parents of each other
        core.AddBranch(4, 5, u"loop2");
    };
    core.InitAddressSpace();
    EXPECT_EQ(core.GetOPCNode(u"A", -1)->Ident, 1);
    EXPECT_EQ(core.node(2).stItemID, u"A.x");
    EXPECT_FALSE(core.node(3).stItemID.empty());
}

TEST(AddressSpaceBuild, LaterCallersWaitForTheFirstBuild)
{
    gw::test::FakeClock clock;
    sOPC core(clock);
    std::atomic<bool> inBuild{false};
    std::atomic<bool> release{false};
    core.FOnInitAddressSpace = [&] {
        inBuild = true;
        while (!release)
            std::this_thread::yield();
        core.AddLeaf(0, 1, u"only", VT_I4, 3);
    };
    std::thread first([&] { core.InitAddressSpace(); });
    while (!inBuild)
        std::this_thread::yield();
    std::atomic<bool> secondDone{false};
    std::thread second([&] {
        core.InitAddressSpace();
        secondDone = true;
        EXPECT_NE(core.GetOPCNode(u"only", -1), nullptr);
    });
    EXPECT_FALSE(secondDone);
    release = true;
    first.join();
    second.join();
}

TEST_F(AddressSpace, ReadTableFollowsTheItemRows)
{
    core->InitAddressSpace();
    const gw::TDateTime now = clock.Now();
    struct Case {
        const char16_t* id;
        int row;
        double value;
        int quality;
        gw::TDateTime stamp;
        VARTYPE vt;
        double expected;
        gw::TDateTime expectedTime;
    };
    const Case cases[] = {
        {u"St1.M1", 5, 12.5, 0xC0, now - 2.0 / 24, VT_R8, 12.5, now - 2.0 / 24}, // 2 h old: kept
        {u"St1.M1", 5, 13.5, 0xC0, now - 2.0, VT_R8, 13.5, now},                 // 2 days old: now
        {u"St1.M1", 5, 13.5, 0x14, now - 1.0 / 24, VT_R8, 13.5, now},            // quality moved: now
        {u"St1.P2", 4, 2.0, 0xC0, now - 1.0 / 24, VT_I8, 2, now - 1.0 / 24},     // double point
        {u"St1.P1", 3, 1.0, 0xC0, now - 1.0 / 24, VT_BOOL, -1, now - 1.0 / 24},  // single point on
        {u"St1.P1", 3, 0.0, 0xC0, now - 1.0 / 24, VT_BOOL, 0, now - 1.0 / 24},
        {u"St1.Connected", 2, 1.0, 0xC0, now - 1.0 / 24, VT_BOOL, -1, now}, // always now
    };
    // A first good reading: a measurement or double point whose quality moves
    // takes the current time, so each node starts at the row's good quality.
    for (int row = 2; row <= 5; ++row) {
        publish(row, -5, 0xC0, now - 0.5);
        read(*core->GetOPCNode(u"", row));
    }
    for (const Case& c : cases) {
        publish(c.row, c.value, c.quality, c.stamp);
        sOPCNode& n = built(c.id);
        read(n);
        const NodeSnapshot s = n.snapshot();
        EXPECT_EQ(s.value.vt(), c.vt) << toUtf8(c.id);
        EXPECT_EQ(variantToDouble(*s.value.get()), c.expected) << toUtf8(c.id);
        EXPECT_EQ(s.quality, c.quality) << toUtf8(c.id);
        EXPECT_DOUBLE_EQ(s.time, c.expectedTime) << toUtf8(c.id);
    }
}

TEST_F(AddressSpace, UnchangedRowLeavesTheNodeAndFirstReadAfterStartRefreshes)
{
    const gw::TDateTime t0 = clock.Now() - 0.01;
    publish(5, 1.0, 0xC0, t0);
    sOPCNode& n = built(u"St1.M1");
    read(n);
    publish(5, 1.5, 0xC0, t0);
    read(n);
    EXPECT_DOUBLE_EQ(n.snapshot().time, t0);
    EXPECT_FALSE(ctx.Items.OpcItems[5].FirstOpros);
    publish(5, 1.5, 0xC0, t0 + 0.001); // same value and quality: the new stamp is not taken
    read(n);
    EXPECT_DOUBLE_EQ(n.snapshot().time, t0);
    ctx.Items.OpcItems[5].FirstOpros = true;
    read(n);
    EXPECT_DOUBLE_EQ(n.snapshot().time, t0 + 0.001);
}

// Otherwise the periodic refresh, which follows stamps, would never report
// that a single point went bad while its row kept the old stamp.
TEST_F(AddressSpace, SinglePointQualityChangeMovesTheStamp)
{
    const gw::TDateTime t0 = clock.Now() - 0.01;
    publish(3, 1, 0xC0, t0);
    sOPCNode& n = built(u"St1.P1");
    read(n);
    publish(3, 1, 0x00, t0);
    clock.Advance(5000);
    read(n);
    EXPECT_EQ(n.snapshot().quality, 0);
    EXPECT_EQ(n.snapshot().time, clock.Now());
}

TEST_F(AddressSpace, LifebitCountsSecondsAndFailingReadsGoOutOfService)
{
    sOPCNode& life = built(u"lifebit");
    read(life);
    const NodeSnapshot a = life.snapshot();
    clock.Advance(10);
    read(life);
    const NodeSnapshot b = life.snapshot();
    EXPECT_EQ(a.value.vt(), VT_UI2);
    EXPECT_EQ(a.quality, 0xC0);
    EXPECT_NE(a.time, b.time);

    core->FOnRead = [](sOPCNode&, const std::u16string&, VARTYPE) { throw std::runtime_error("x"); };
    sOPCNode& m = built(u"St1.M1");
    read(m);
    EXPECT_EQ(m.snapshot().value.vt(), VT_EMPTY);
    EXPECT_EQ(m.snapshot().quality, 0x1C);
    EXPECT_EQ(m.snapshot().time, clock.Now());
}

TEST_F(AddressSpace, WritesBecomeCommandsOfTheRightSignal)
{
    struct Case {
        const char16_t* id;
        Variant value;
        VARTYPE requested;
        std::vector<Command> expected;
        HRESULT result;
    };
    using gw::TTUCommand;
    const Case cases[] = {
        {u"St1.P1", Variant::fromBool(true), VT_BOOL, {{0, TTUCommand::tuCommand_On}}, S_OK},
        {u"St1.P1", Variant::fromBool(false), VT_BOOL, {{0, TTUCommand::tuCommand_Off}}, S_OK},
        {u"St1.P1", Variant::fromI4(1), VT_BOOL, {{0, TTUCommand::tuCommand_Off}}, S_OK}, // 1 is not true (-1)
        {u"St1.P1", Variant::fromBool(true), VT_EMPTY, {{0, TTUCommand::tuCommand_On}}, S_OK},
        {u"St1.P1", Variant::fromI4(0), VT_EMPTY, {{0, TTUCommand::tuCommand_Off}}, S_OK},
        {u"St1.P2", Variant::fromI4(2), VT_EMPTY, {{1, TTUCommand::tuCommand_On}}, S_OK},
        {u"St1.P2", Variant::fromR8(2.0), VT_EMPTY, {{1, TTUCommand::tuCommand_On}}, S_OK},
        {u"St1.P2", Variant::fromI4(1), VT_EMPTY, {{1, TTUCommand::tuCommand_Off}}, S_OK},
        {u"St1.P2", Variant::fromI4(0), VT_EMPTY, {}, OPC_E_RANGE},
        {u"St1.P2", Variant::fromI4(3), VT_EMPTY, {}, OPC_E_RANGE},
        {u"St2.Q1", Variant::fromI4(1), VT_EMPTY, {{3, TTUCommand::tuCommand_On}}, S_OK},
        {u"St1.M1", Variant::fromR8(-1), VT_EMPTY, {{2, TTUCommand::tuCommand_On}}, S_OK},
        {u"St1.P1", Variant::fromString(u"abc"), VT_EMPTY, {}, OPC_E_BADTYPE}, // no number: no command
        {u"St1.P1", Variant::fromString(u"abc"), VT_BOOL, {}, OPC_E_BADTYPE},
        {u"St1.Connected", Variant::fromBool(true), VT_BOOL, {}, E_FAIL},
        {u"St2.Connected", Variant::fromI4(1), VT_EMPTY, {}, E_FAIL},
    };
    for (const Case& c : cases) {
        commands.clear();
        sOPCNode& n = built(c.id);
        clock.Advance(1000);
        EXPECT_EQ(write(n, c.value, c.requested), c.result) << toUtf8(c.id) << " vt " << c.value.vt();
        EXPECT_EQ(commands, c.expected) << toUtf8(c.id) << " vt " << c.value.vt();
        EXPECT_EQ(n.snapshot().time, clock.Now());
    }
}

// A command the service refuses (no data transfer, no command address, a
// full queue) is the write's failure, not a success.
TEST_F(AddressSpace, ARefusedCommandFailsTheWrite)
{
    commandsTaken = false;
    EXPECT_EQ(write(built(u"St1.P1"), Variant::fromBool(true), VT_BOOL), E_FAIL);
    EXPECT_EQ(commands, (std::vector<Command>{{0, gw::TTUCommand::tuCommand_On}}));
}

TEST_F(AddressSpace, AnotherNumberingStopsReadsAndWrites)
{
    publish(3, 1, 0xC0, clock.Now());
    sOPCNode& n = built(u"St1.P1");
    read(n);
    EXPECT_EQ(n.snapshot().quality, 0xC0);
    // A restart with a configuration that has one point fewer in front.
    ctx.Stations.KpTable[1].TS_arr.erase(ctx.Stations.KpTable[1].TS_arr.begin() + 1);
    ctx.Stations.KpTable[1].Kol_TS = 1;
    gw::NumberOpcItems(ctx);
    ctx.Running.Run = std::make_unique<gw::TServiceRun>();
    read(n);
    EXPECT_EQ(n.snapshot().quality, 0);
    EXPECT_EQ(write(n, Variant::fromBool(true), VT_BOOL), E_FAIL);
    EXPECT_TRUE(commands.empty());
}

TEST_F(AddressSpace, ConfiguratorModeBuildsNothing)
{
    ctx.Switches.ConfiguratorMode = true;
    core->InitAddressSpace();
    EXPECT_EQ(core->nodeCount(), 0);
}

TEST(AddressSpaceNoStation, OnlyLifebitAsTwo)
{
    gw::TServiceContext ctx;
    ctx.Running.Run = std::make_unique<gw::TServiceRun>();
    gw::test::FakeClock clock;
    sOPC core(clock);
    StationModel model(ctx, [](int, gw::TTUCommand) { return true; });
    model.bind(core);
    core.InitAddressSpace();
    ASSERT_EQ(core.nodeCount(), 1);
    EXPECT_EQ(core.node(0).Ident, 2);
    EXPECT_EQ(core.node(0).stItemID, u"lifebit");
    ctx.Running.Run.reset();
}

} // namespace
} // namespace opcda::test
