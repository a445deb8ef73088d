// Lifetimes and threads: groups outliving their server, releases inside
// callbacks, item changes while the real ticker runs, Unadvise during a tick.
#include "fixture.h"

#include <atomic>
#include <thread>

namespace opcda::test {
namespace {

class Lifetime : public OpcFixture {};

TEST_F(Lifetime, GroupOutlivesItsServer)
{
    const long objects = ComModule::instance().objectCount();
    ComPtr<IOPCItemMgt> group;
    {
        auto server = connect();
        group = addGroup(*server, u"G");
    }
    EXPECT_EQ(core->GetServerCount(), 0);
    const auto h = addItems(*group, {u"St1.P1"});
    auto sink = advise(*group);
    clock.Advance(300);
    tick();
    EXPECT_EQ(sink->take().size(), 1u); // the refresh runs; no server stamp to set
    HRESULT* errors = nullptr;
    OPCITEMSTATE* states = nullptr;
    std::vector<OPCHANDLE> handles = h;
    EXPECT_EQ(group.as<IOPCSyncIO>()->Read(OPC_DS_DEVICE, 1, handles.data(), &states, &errors), S_OK);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    group.reset();
    sink.reset();
    EXPECT_EQ(ComModule::instance().objectCount(), objects);
}

TEST_F(Lifetime, GroupReleasedInsideItsDataChange)
{
    auto server = connect();
    OPCHANDLE hGroup = 0;
    ComPtr<IOPCItemMgt> group = addGroup(*server, u"G", true, 100, 1, &hGroup);
    addItems(*group, {u"lifebit"});
    auto sink = advise(*group);
    sink->onData = [&] {
        server->RemoveGroup(hGroup, FALSE);
        group.reset(); // the last client reference
    };
    clock.Advance(200);
    tick();
    EXPECT_FALSE(group);
    EXPECT_EQ(sink->take().size(), 1u);
    // The group went after the tick; its connection point let the sink go.
    sink->onData = nullptr;
    EXPECT_EQ(sink->AddRef(), 2u);
    sink->Release();
    tick();
}

TEST_F(Lifetime, ServerReleasedWhileAGroupIsAdvised)
{
    auto server = connect();
    auto group = addGroup(*server, u"G");
    addItems(*group, {u"lifebit"});
    auto sink = advise(*group);
    server.reset();
    ComPtr<IConnectionPoint> cp;
    group.as<IConnectionPointContainer>()->FindConnectionPoint(IOPCDataCallback::iid, cp.put());
    group.reset();
    clock.Advance(300);
    tick();
    EXPECT_EQ(sink->take().size(), 1u); // the connection point still holds the group
    cp->Unadvise(1);
    cp.reset();
    tick();
    EXPECT_TRUE(sink->take().empty());
}

// The real ticker thread against clients changing items on three threads.
TEST_F(Lifetime, ItemChangesWhileTheTickerRuns)
{
    auto server = connect();
    auto group = addGroup(*server, u"G", true, 100);
    addItems(*group, {u"St1.P1", u"St1.M1"});
    auto sink = advise(*group);
    core->ticker().start(std::chrono::milliseconds(1));
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                auto h = addItems(*group, {u"St1.P2", u"lifebit", u"St2.Q1"});
                HRESULT* errors = nullptr;
                group->SetActiveState(static_cast<DWORD>(h.size()), h.data(), i % 2, &errors);
                CoTaskMemFree(errors);
                if (t == 0) {
                    DWORD cancel = 0;
                    group.as<IOPCAsyncIO2>()->Read(static_cast<DWORD>(h.size()), h.data(), 1 + i, &cancel, &errors);
                    CoTaskMemFree(errors);
                }
                group->RemoveItems(static_cast<DWORD>(h.size()), h.data(), &errors);
                CoTaskMemFree(errors);
                clock.Advance(7);
            }
        });
    for (auto& t : threads)
        t.join();
    const std::uint64_t seen = core->ticker().ticks();
    EXPECT_TRUE(core->ticker().waitForTicks(seen + 2, std::chrono::seconds(10)));
    core->ticker().stop();
    sink->take();
}

TEST_F(Lifetime, UnadviseDuringATick)
{
    auto server = connect();
    auto group = addGroup(*server, u"G", true, 100);
    addItems(*group, {u"lifebit", u"St1.M1"});
    auto sink = advise(*group);
    ComPtr<IConnectionPoint> cp;
    group.as<IConnectionPointContainer>()->FindConnectionPoint(IOPCDataCallback::iid, cp.put());
    core->ticker().start(std::chrono::milliseconds(1));
    for (int i = 0; i < 50; ++i) {
        clock.Advance(150);
        EXPECT_EQ(cp->Unadvise(1), S_OK);
        DWORD cookie = 0;
        EXPECT_EQ(cp->Advise(sink->identity(), &cookie), S_OK);
        core->ticker().waitForTicks(core->ticker().ticks() + 1, std::chrono::seconds(5));
    }
    core->ticker().stop();
    cp->Unadvise(1);
    sink->take();
    EXPECT_EQ(sink->AddRef(), 2u);
    sink->Release();
}

TEST_F(Lifetime, LastObjectGoneIsReported)
{
    std::atomic<int> fired{0};
    ComModule::instance().setAllReleasedHook([&] { ++fired; });
    {
        auto server = connect();
        auto group = addGroup(*server, u"G");
    }
    classes.revokeClass(CLSID_OPCDataAccess20);
    ComModule::instance().setAllReleasedHook(nullptr);
    EXPECT_EQ(ComModule::instance().objectCount(), 0);
    EXPECT_GE(fired.load(), 1);
}

} // namespace
} // namespace opcda::test
