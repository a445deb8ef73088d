// Groups: items, synchronous and asynchronous reads and writes, the periodic
// refresh, the item enumerator, cloning.
#include "fixture.h"

#include "opcda/item_enum.h"

#include <functional>

namespace opcda::test {
namespace {

class Group : public OpcFixture {
protected:
    void SetUp() override
    {
        OpcFixture::SetUp();
        server = connect();
        items = addGroup(*server, u"G", true, 250, 7);
        sync = items.as<IOPCSyncIO>();
        async = items.as<IOPCAsyncIO2>();
    }
    void TearDown() override
    {
        async.reset();
        sync.reset();
        items.reset();
        server.reset();
        OpcFixture::TearDown();
    }
    struct ReadResult {
        HRESULT hr;
        std::vector<HRESULT> errors;
        std::vector<WORD> qualities;
        std::vector<double> values;
        std::vector<std::uint64_t> times;
    };
    ReadResult syncRead(DWORD source, std::vector<OPCHANDLE> handles)
    {
        OPCITEMSTATE* states = nullptr;
        HRESULT* errors = nullptr;
        ReadResult r{
            sync->Read(source, static_cast<DWORD>(handles.size()), handles.data(), &states, &errors), {}, {}, {}, {}};
        for (std::size_t i = 0; states && i < handles.size(); ++i) {
            r.errors.push_back(errors[i]);
            r.qualities.push_back(states[i].wQuality);
            r.values.push_back(variantToDouble(states[i].vDataValue).value_or(-999));
            r.times.push_back(fileTimeValue(states[i].ftTimeStamp));
            VariantClear(&states[i].vDataValue);
        }
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
        return r;
    }
    HRESULT syncWrite(std::vector<OPCHANDLE> handles, std::vector<Variant> values, std::vector<HRESULT>* out = nullptr)
    {
        std::vector<VARIANT> raw;
        for (auto& v : values)
            raw.push_back(*v.get());
        HRESULT* errors = nullptr;
        const HRESULT hr = sync->Write(static_cast<DWORD>(handles.size()), handles.data(), raw.data(), &errors);
        if (out && errors)
            out->assign(errors, errors + handles.size());
        CoTaskMemFree(errors);
        return hr;
    }
    HRESULT asyncRead(std::vector<OPCHANDLE> handles, DWORD tid, DWORD* cancel = nullptr)
    {
        DWORD id = 0;
        HRESULT* errors = nullptr;
        const HRESULT hr = async->Read(static_cast<DWORD>(handles.size()), handles.data(), tid, &id, &errors);
        CoTaskMemFree(errors);
        if (cancel)
            *cancel = id;
        return hr;
    }
    static std::vector<OPCHANDLE> clientsOf(const RecordingDataCallback::Call& c)
    {
        std::vector<OPCHANDLE> out;
        for (const auto& e : c.entries)
            out.push_back(e.hClient);
        return out;
    }
    // Moves the clock past the update rate.
    void due()
    {
        clock.Advance(260);
        tick();
    }

    ComPtr<IOPCServer> server;
    ComPtr<IOPCItemMgt> items;
    ComPtr<IOPCSyncIO> sync;
    ComPtr<IOPCAsyncIO2> async;
};

TEST_F(Group, AddItemsReportsUnknownIdsAndAcceptsBranches)
{
    HRESULT hr = S_OK;
    const auto h = addItems(*items, {u"St1.P1", u"nope", u"St1"}, true, VT_BSTR, &hr);
    EXPECT_EQ(hr, S_FALSE);
    ASSERT_EQ(h.size(), 3u);
    EXPECT_NE(h[0], 0u);
    EXPECT_EQ(h[1], 0u);
    EXPECT_NE(h[2], 0u);
    // The branch has no rights.
    const auto r = syncRead(OPC_DS_DEVICE, {h[2], h[0], 12345});
    EXPECT_EQ(r.errors, (std::vector<HRESULT>{OPC_E_BADRIGHTS, S_OK, OPC_E_INVALIDHANDLE}));
    EXPECT_EQ(r.hr, S_FALSE);
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    std::u16string id = u"St1.P2";
    OPCITEMDEF def{nullptr, id.data(), TRUE, 1, 0, nullptr, VT_EMPTY, 0};
    ASSERT_EQ(items->ValidateItems(1, &def, FALSE, &results, &errors), S_OK);
    EXPECT_EQ(results[0].vtCanonicalDataType, VT_I4);
    EXPECT_EQ(results[0].hServer, 0u);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
}

TEST_F(Group, SyncReadsFromCacheAndDevice)
{
    const gw::TDateTime stamp = clock.Now() - 0.1;
    publish(5, 42.5, 0xC0, stamp);
    const auto h = addItems(*items, {u"St1.M1"}, false);
    // The first read of a node goes to the device, even from the cache.
    items.as<IOPCGroupStateMgt>(); // keep the group active
    auto r = syncRead(OPC_DS_DEVICE, h);
    EXPECT_EQ(r.values[0], 42.5);
    EXPECT_EQ(r.qualities[0], 0xC0);
    EXPECT_EQ(r.times[0], fileTimeValue(fileTimeOf(clock.Now())));
    // Inactive item, cache: out of service, nothing else.
    r = syncRead(OPC_DS_CACHE, h);
    EXPECT_EQ(r.qualities[0], 0x1C);
    EXPECT_EQ(r.times[0], 0u);
    EXPECT_EQ(r.hr, S_OK);
    // Inactive group, cache: 28 for every readable item.
    BOOL off = FALSE;
    items.as<IOPCGroupStateMgt>()->SetState(nullptr, nullptr, &off, nullptr, nullptr, nullptr, nullptr);
    HRESULT* errors = nullptr;
    OPCHANDLE handle = h[0];
    items->SetActiveState(1, &handle, TRUE, &errors);
    CoTaskMemFree(errors);
    r = syncRead(OPC_DS_CACHE, h);
    EXPECT_EQ(r.qualities[0], 28);
    EXPECT_EQ(r.values[0], -999);
}

TEST_F(Group, SyncWritesCommandAndRespectRights)
{
    const auto h = addItems(*items, {u"St1.P1", u"lifebit", u"St1.P2"}, false, VT_BOOL);
    std::vector<HRESULT> errors;
    EXPECT_EQ(syncWrite({h[0], h[1], 999}, {Variant::fromBool(true), Variant::fromI4(1), Variant::fromI4(1)}, &errors),
              S_FALSE);
    EXPECT_EQ(errors, (std::vector<HRESULT>{S_OK, OPC_E_BADRIGHTS, OPC_E_INVALIDHANDLE}));
    EXPECT_EQ(commands, (std::vector<Command>{{0, gw::TTUCommand::tuCommand_On}}));
    EXPECT_EQ(syncWrite({h[2]}, {Variant::fromBool(false)}), S_OK);
    EXPECT_EQ(commands.back(), (Command{1, gw::TTUCommand::tuCommand_Off}));
}

// A write that sends no command says why in its item's error, synchronous
// or asynchronous alike; the client must not take it for a command given.
TEST_F(Group, WritesThatCommandNothingFailTheirItems)
{
    const auto h = addItems(*items, {u"St1.P1", u"St1.P2", u"St1.Connected", u"St1.M1"});
    auto sink = advise(*items);
    std::vector<Variant> values{Variant::fromBool(true), Variant::fromI4(3), Variant::fromBool(true),
                                Variant::fromString(u"x")};
    const std::vector<HRESULT> expected{E_FAIL, OPC_E_RANGE, E_FAIL, OPC_E_BADTYPE};
    commandsTaken = false; // the station has no data transfer
    std::vector<HRESULT> errors;
    EXPECT_EQ(syncWrite(h, values, &errors), S_FALSE);
    EXPECT_EQ(errors, expected);

    std::vector<VARIANT> raw;
    for (auto& v : values)
        raw.push_back(*v.get());
    std::vector<OPCHANDLE> handles = h;
    HRESULT* accepted = nullptr;
    DWORD cancel = 0;
    ASSERT_EQ(async->Write(4, handles.data(), raw.data(), 31, &cancel, &accepted), S_OK);
    CoTaskMemFree(accepted);
    tick();
    const auto calls = sink->take();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, "write");
    EXPECT_EQ(calls[0].masterError, S_FALSE);
    ASSERT_EQ(calls[0].entries.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(calls[0].entries[i].error, expected[i]) << i;
    // Only the single point's command was offered to the service, once per write.
    EXPECT_EQ(commands, (std::vector<Command>(2, {0, gw::TTUCommand::tuCommand_On})));
}

// A client that frees whatever the error array holds after a refused call
// must find it null, not the stale pointer it passed in.
TEST_F(Group, MissingPerItemArraysLeaveNoErrorArray)
{
    auto h = addItems(*items, {u"St1.P1"});
    const std::function<HRESULT(HRESULT**)> calls[] = {
        [&](HRESULT** e) { return sync->Write(1, h.data(), nullptr, e); },
        [&](HRESULT** e) { return items->SetClientHandles(1, h.data(), nullptr, e); },
        [&](HRESULT** e) { return items->SetDatatypes(1, h.data(), nullptr, e); },
    };
    HRESULT stale = S_OK;
    for (std::size_t i = 0; i < std::size(calls); ++i) {
        HRESULT* errors = &stale;
        EXPECT_EQ(calls[i](&errors), E_INVALIDARG) << i;
        EXPECT_EQ(errors, nullptr) << i;
    }
}

TEST_F(Group, PeriodicRefreshSendsMovedStampsOnly)
{
    auto sink = advise(*items);
    const gw::TDateTime t1 = clock.Now() - 0.01;
    publish(5, 1.5, 0xC0, t1);
    publish(3, 1, 0xC0, t1);
    const auto h = addItems(*items, {u"St1.M1", u"St1.P1", u"lifebit"});
    tick();
    EXPECT_TRUE(sink->take().empty()); // the rate has not passed
    due();
    auto calls = sink->take();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, "data");
    EXPECT_EQ(calls[0].transaction, 0u);
    EXPECT_EQ(calls[0].group, 7u);
    EXPECT_EQ(calls[0].masterQuality, 192);
    ASSERT_EQ(calls[0].entries.size(), 3u);
    EXPECT_EQ(calls[0].entries[0].hClient, 100u);
    EXPECT_EQ(calls[0].entries[0].value.get()->dblVal, 1.5);
    EXPECT_EQ(calls[0].entries[0].quality, 0xC0);
    EXPECT_EQ(calls[0].entries[1].value.vt(), VT_BOOL);
    // Only the measurement moves; lifebit moves at every read.
    const gw::TDateTime t2 = clock.Now() - 0.001;
    publish(5, 2.5, 0xC0, t2);
    due();
    calls = sink->take();
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].entries.size(), 2u);
    EXPECT_EQ(calls[0].entries[0].value.get()->dblVal, 2.5);
    EXPECT_EQ(fileTimeValue(calls[0].entries[0].time), fileTimeValue(fileTimeOf(t2)));
    EXPECT_EQ(calls[0].entries[1].hClient, 102u);
    // Removing every item stops the refresh; adding one starts it again.
    std::vector<OPCHANDLE> all = h;
    HRESULT* errors = nullptr;
    items->RemoveItems(3, all.data(), &errors);
    CoTaskMemFree(errors);
    due();
    EXPECT_TRUE(sink->take().empty());
    addItems(*items, {u"lifebit"});
    due();
    EXPECT_EQ(sink->take().size(), 1u);
    // Disabled callbacks: no data change.
    async->SetEnable(FALSE);
    due();
    EXPECT_TRUE(sink->take().empty());
    BOOL enabled = 1;
    async->GetEnable(&enabled);
    EXPECT_EQ(enabled, 0);
}

// The usual client order: items first, a while later Advise. Each new
// callback starts with every active item.
TEST_F(Group, ClientThatAdvisesAfterItsItemsGetsEveryValue)
{
    publish(5, 1.5, 0xC0, clock.Now() - 0.01);
    publish(3, 1, 0xC0, clock.Now() - 0.01);
    addItems(*items, {u"St1.M1", u"St1.P1", u"St1.P2"});
    due(); // periodic refreshes before anyone listens
    due();
    for (int round = 0; round < 2; ++round) { // the second time after an Unadvise
        auto sink = advise(*items);
        due();
        auto calls = sink->take();
        ASSERT_EQ(calls.size(), 1u) << round;
        EXPECT_EQ(calls[0].transaction, 0u);
        EXPECT_EQ(clientsOf(calls[0]), (std::vector<OPCHANDLE>{100, 101, 102})) << round;
        EXPECT_EQ(calls[0].entries[0].value.get()->dblVal, 1.5);
        EXPECT_EQ(calls[0].entries[0].quality, 0xC0);
        due();
        EXPECT_TRUE(sink->take().empty()) << round; // nothing moved
        ComPtr<IConnectionPoint> cp;
        items.as<IConnectionPointContainer>()->FindConnectionPoint(IOPCDataCallback::iid, cp.put());
        ASSERT_EQ(cp->Unadvise(1), S_OK);
    }
}

// A client that switches its group on, in the usual order (inactive group,
// items, Advise, then active), gets every active item at the next update;
// and again each time it switches the group off and on, the values unchanged.
TEST_F(Group, ActivatedGroupSendsEveryActiveItem)
{
    publish(5, 1.5, 0xC0, clock.Now() - 0.01);
    publish(3, 1, 0xC0, clock.Now() - 0.01);
    auto off = addGroup(*server, u"Off", false, 250, 8);
    auto state = off.as<IOPCGroupStateMgt>();
    const auto h = addItems(*off, {u"St1.M1", u"St1.P1", u"St1.P2"});
    HRESULT* errors = nullptr;
    OPCHANDLE p2 = h[2];
    ASSERT_EQ(off->SetActiveState(1, &p2, FALSE, &errors), S_OK);
    CoTaskMemFree(errors);
    auto sink = advise(*off);
    const auto setActive = [&](BOOL active) {
        return state->SetState(nullptr, nullptr, &active, nullptr, nullptr, nullptr, nullptr);
    };
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(setActive(TRUE), S_OK);
        due();
        auto calls = sink->take();
        ASSERT_EQ(calls.size(), 1u) << round;
        EXPECT_EQ(calls[0].transaction, 0u);
        EXPECT_EQ(calls[0].group, 8u);
        EXPECT_EQ(clientsOf(calls[0]), (std::vector<OPCHANDLE>{100, 101})) << round;
        EXPECT_EQ(calls[0].entries[0].value.get()->dblVal, 1.5);
        EXPECT_EQ(calls[0].entries[0].quality, 0xC0);
        due();
        EXPECT_TRUE(sink->take().empty()) << round; // nothing moved
        ASSERT_EQ(setActive(FALSE), S_OK);
    }
}

// An item switched on is sent at the next update with its current value,
// although it did not change; an item that was on already is not resent.
TEST_F(Group, ActivatedItemIsSentAtTheNextUpdate)
{
    publish(5, 1.5, 0xC0, clock.Now() - 0.01);
    publish(3, 1, 0xC0, clock.Now() - 0.01);
    auto h = addItems(*items, {u"St1.M1", u"St1.P1"});
    auto sink = advise(*items);
    due();
    auto first = sink->take();
    ASSERT_EQ(first.size(), 1u);
    const auto stamp = fileTimeValue(first[0].entries[0].time);
    const auto setActive = [&](std::vector<OPCHANDLE> handles, BOOL active) {
        HRESULT* errors = nullptr;
        const HRESULT hr = items->SetActiveState(static_cast<DWORD>(handles.size()), handles.data(), active, &errors);
        CoTaskMemFree(errors);
        return hr;
    };
    ASSERT_EQ(setActive({h[0]}, FALSE), S_OK);
    due();
    EXPECT_TRUE(sink->take().empty());
    ASSERT_EQ(setActive({h[0], h[1]}, TRUE), S_OK);
    due();
    auto calls = sink->take();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].transaction, 0u);
    EXPECT_EQ(clientsOf(calls[0]), std::vector<OPCHANDLE>{100});
    EXPECT_EQ(calls[0].entries[0].value.get()->dblVal, 1.5);
    EXPECT_EQ(calls[0].entries[0].quality, 0xC0);
    EXPECT_EQ(fileTimeValue(calls[0].entries[0].time), stamp);
    due();
    EXPECT_TRUE(sink->take().empty()); // nothing moved
}

// Callbacks off stops the periodic data changes only: a Refresh2 completes,
// and what changed meanwhile goes out once they are on again.
TEST_F(Group, CallbacksOffStillRefreshAndCatchUpWhenOn)
{
    publish(5, 1.5, 0xC0, clock.Now() - 0.01);
    addItems(*items, {u"St1.M1", u"St1.P1", u"St1.P2"});
    auto sink = advise(*items);
    due();
    sink->take();
    ASSERT_EQ(async->SetEnable(FALSE), S_OK);
    DWORD cancel = 0;
    ASSERT_EQ(async->Refresh2(OPC_DS_CACHE, 31, &cancel), S_OK);
    tick();
    auto calls = sink->take();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, "data");
    EXPECT_EQ(calls[0].transaction, 31u);
    EXPECT_EQ(clientsOf(calls[0]), (std::vector<OPCHANDLE>{100, 101, 102}));
    const gw::TDateTime t2 = clock.Now() - 0.001;
    publish(5, 2.5, 0xC0, t2);
    due();
    due();
    EXPECT_TRUE(sink->take().empty());
    ASSERT_EQ(async->SetEnable(TRUE), S_OK);
    due();
    calls = sink->take();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].transaction, 0u);
    EXPECT_EQ(clientsOf(calls[0]), std::vector<OPCHANDLE>{100});
    EXPECT_EQ(calls[0].entries[0].value.get()->dblVal, 2.5);
    EXPECT_EQ(fileTimeValue(calls[0].entries[0].time), fileTimeValue(fileTimeOf(t2)));
}

TEST_F(Group, AsyncReadsAnswerEveryAcceptedRequest)
{
    publish(5, 3.5, 0xC0, clock.Now());
    const auto h = addItems(*items, {u"St1.M1", u"St1.P1"});
    EXPECT_EQ(asyncRead(h, 1), CONNECT_E_NOCONNECTION);
    auto sink = advise(*items);
    EXPECT_EQ(asyncRead(h, 0), E_INVALIDARG);
    HRESULT* errors = nullptr;
    OPCHANDLE second = h[1];
    items->SetActiveState(1, &second, FALSE, &errors);
    CoTaskMemFree(errors);
    EXPECT_EQ(asyncRead({h[0], 4242, h[1]}, 11), S_OK);
    EXPECT_EQ(asyncRead({h[1]}, 12), S_OK); // only an inactive item: still answered
    // Callbacks off: read completions still come.
    async->SetEnable(FALSE);
    tick();
    auto calls = sink->take();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].kind, "read");
    EXPECT_EQ(calls[0].transaction, 11u);
    EXPECT_EQ(calls[0].masterError, S_FALSE);
    ASSERT_EQ(calls[0].entries.size(), 3u);
    EXPECT_EQ(calls[0].entries[0].error, S_OK);
    EXPECT_EQ(calls[0].entries[0].value.get()->dblVal, 3.5);
    EXPECT_EQ(calls[0].entries[1].error, OPC_E_INVALIDHANDLE);
    EXPECT_EQ(calls[0].entries[1].quality, 0);
    EXPECT_EQ(calls[0].entries[2].error, E_FAIL);
    EXPECT_EQ(calls[0].entries[2].quality, 28);
    EXPECT_EQ(calls[0].entries[2].hClient, 101u);
    EXPECT_EQ(calls[1].masterError, S_FALSE);
}

TEST_F(Group, AsyncWritesRefreshesAndCancel)
{
    const auto h = addItems(*items, {u"St1.P1", u"St1.P2"});
    auto sink = advise(*items);
    HRESULT* errors = nullptr;
    OPCHANDLE second = h[1];
    items->SetActiveState(1, &second, FALSE, &errors);
    CoTaskMemFree(errors);
    std::vector<VARIANT> values{*Variant::fromBool(true).get(), *Variant::fromI4(2).get()};
    std::vector<OPCHANDLE> handles = h;
    DWORD cancel = 0;
    ASSERT_EQ(async->Write(2, handles.data(), values.data(), 21, &cancel, &errors), S_OK);
    CoTaskMemFree(errors);
    DWORD refreshId = 0;
    EXPECT_EQ(async->Refresh2(OPC_DS_CACHE, 0, &refreshId), E_INVALIDARG);
    ASSERT_EQ(async->Refresh2(OPC_DS_CACHE, 22, &refreshId), S_OK);
    DWORD cancelled = 0;
    ASSERT_EQ(asyncRead(h, 23, &cancelled), S_OK);
    EXPECT_EQ(async->Cancel2(cancelled), S_OK);
    tick();
    EXPECT_EQ(async->Cancel2(cancel), E_FAIL);    // already done
    EXPECT_EQ(async->Cancel2(cancelled), E_FAIL); // closed already
    tick();
    auto calls = sink->take();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].kind, "write");
    EXPECT_EQ(calls[0].masterError, S_FALSE);
    EXPECT_EQ(calls[0].entries[0].error, S_OK);
    EXPECT_EQ(calls[0].entries[1].error, E_FAIL);
    EXPECT_EQ(commands, (std::vector<Command>{{0, gw::TTUCommand::tuCommand_On}}));
    EXPECT_EQ(calls[1].kind, "data");
    EXPECT_EQ(calls[1].transaction, 22u);
    EXPECT_EQ(calls[1].entries.size(), 1u); // the active item only
    // The cancelled read is closed by its cancel completion alone.
    EXPECT_EQ(calls[2].kind, "cancel");
    EXPECT_EQ(calls[2].transaction, 23u);
    EXPECT_EQ(calls[2].group, 7u);
    // Inactive group or no active item: E_FAIL.
    BOOL off = FALSE;
    items.as<IOPCGroupStateMgt>()->SetState(nullptr, nullptr, &off, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(async->Refresh2(OPC_DS_CACHE, 24, &refreshId), E_FAIL);
}

// A Refresh2 answers its own transaction only: a change it carried is still
// sent once by the periodic data changes.
TEST_F(Group, RefreshLeavesThePeriodicChangesWhole)
{
    publish(5, 1.5, 0xC0, clock.Now() - 0.01);
    addItems(*items, {u"St1.M1"});
    auto sink = advise(*items);
    due();
    sink->take();
    publish(5, 2.5, 0xC0, clock.Now() - 0.001);
    DWORD cancel = 0;
    ASSERT_EQ(async->Refresh2(OPC_DS_DEVICE, 61, &cancel), S_OK);
    tick();
    auto calls = sink->take();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].transaction, 61u);
    EXPECT_EQ(calls[0].entries[0].value.get()->dblVal, 2.5);
    due();
    calls = sink->take();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].transaction, 0u);
    EXPECT_EQ(calls[0].entries[0].value.get()->dblVal, 2.5);
    due();
    EXPECT_TRUE(sink->take().empty()); // sent once
}

// A Refresh2 the server accepted always completes, also when its items went
// before the tick; one with nothing readable to send is refused at the call.
TEST_F(Group, AcceptedRefreshCompletesAfterItsItemsWent)
{
    auto sink = advise(*items);
    addItems(*items, {u"St1"});
    DWORD cancel = 0;
    EXPECT_EQ(async->Refresh2(OPC_DS_CACHE, 41, &cancel), E_FAIL);
    auto point = addItems(*items, {u"St1.P1"});
    ASSERT_EQ(async->Refresh2(OPC_DS_DEVICE, 42, &cancel), S_OK);
    HRESULT* errors = nullptr;
    ASSERT_EQ(items->RemoveItems(1, point.data(), &errors), S_OK);
    CoTaskMemFree(errors);
    tick();
    const auto calls = sink->take();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, "data");
    EXPECT_EQ(calls[0].transaction, 42u);
    EXPECT_EQ(calls[0].masterError, E_FAIL);
    EXPECT_TRUE(calls[0].entries.empty());
}

TEST_F(Group, UnadviseStopsEverySend)
{
    addItems(*items, {u"lifebit"});
    auto sink = advise(*items);
    ComPtr<IConnectionPoint> cp;
    items.as<IConnectionPointContainer>()->FindConnectionPoint(IOPCDataCallback::iid, cp.put());
    DWORD cookie = 0;
    EXPECT_EQ(cp->Advise(sink->identity(), &cookie), CONNECT_E_ADVISELIMIT);
    EXPECT_EQ(cp->Unadvise(2), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(cp->Unadvise(1), S_OK);
    due();
    EXPECT_TRUE(sink->take().empty());
    EXPECT_EQ(asyncRead({1}, 5), CONNECT_E_NOCONNECTION);
    // The sink holds only the test's reference again.
    EXPECT_EQ(sink->AddRef(), 2u);
    sink->Release();
}

TEST_F(Group, ItemEnumeratorWalksTheLiveList)
{
    ComPtr<IUnknown> unk;
    EXPECT_EQ(items->CreateEnumerator(IEnumOPCItemAttributes::iid, unk.put()), S_FALSE);
    addItems(*items, {u"St1.P1", u"St1.P2", u"St1.M1"});
    ComPtr<IEnumOPCItemAttributes> en;
    EXPECT_EQ(items->CreateEnumerator(IOPCSyncIO::iid, reinterpret_cast<IUnknown**>(en.put())), E_NOINTERFACE);
    ASSERT_EQ(items->CreateEnumerator(IEnumOPCItemAttributes::iid, reinterpret_cast<IUnknown**>(en.put())), S_OK);
    OPCITEMATTRIBUTES* attrs = nullptr;
    ULONG n = 0;
    EXPECT_EQ(en->Next(0, &attrs, &n), ENUM_VALUE_OUT_OF_RANGE);
    EXPECT_EQ(en->Next(5, &attrs, &n), S_FALSE);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(std::u16string(attrs[2].szItemID), u"St1.M1");
    EXPECT_EQ(attrs[2].vtCanonicalDataType, VT_R8);
    EXPECT_EQ(attrs[0].vEUInfo.vt, VT_I4);
    freeItemAttributes(attrs, n);
    EXPECT_EQ(en->Next(5, &attrs, &n), S_FALSE);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(attrs, nullptr);
    en->Reset();
    EXPECT_EQ(en->Next(2, &attrs, &n), S_OK);
    freeItemAttributes(attrs, n);
    ComPtr<IEnumOPCItemAttributes> clone;
    en->Clone(clone.put());
    EXPECT_EQ(clone->Next(1, &attrs, &n), S_OK);
    EXPECT_EQ(std::u16string(attrs[0].szItemID), u"St1.M1");
    freeItemAttributes(attrs, n);
    en->Reset();
    EXPECT_EQ(en->Skip(3), S_OK);
    en->Reset();
    EXPECT_EQ(en->Skip(4), S_FALSE);
    // "As many as there are": what is left, in an array of that size.
    en->Reset();
    EXPECT_EQ(en->Next(0xFFFFFFFFu, &attrs, &n), S_FALSE);
    EXPECT_EQ(n, 3u);
    freeItemAttributes(attrs, n);
    // The enumerator keeps the group: it outlives the client's references.
    items.reset();
    sync.reset();
    async.reset();
    server.reset();
    clone->Reset();
    EXPECT_EQ(clone->Next(1, &attrs, &n), S_OK);
    freeItemAttributes(attrs, n);
}

TEST_F(Group, CloneCopiesItemsInactiveWithNewHandles)
{
    const auto h = addItems(*items, {u"St1.P1", u"St1.M1"});
    auto state = items.as<IOPCGroupStateMgt>();
    ComPtr<IUnknown> unk;
    EXPECT_EQ(state->CloneGroup(u"C", IOPCGroupStateMgt::iid, unk.put()), E_NOINTERFACE);
    ComPtr<IOPCItemMgt> clone;
    ASSERT_EQ(state->CloneGroup(u"G", IOPCItemMgt::iid, reinterpret_cast<IUnknown**>(clone.put())), S_OK);
    const GroupState cloned = groupState(*clone.as<IOPCGroupStateMgt>());
    ASSERT_EQ(cloned.result, S_OK);
    EXPECT_EQ(cloned.name, u"G_1");
    EXPECT_EQ(cloned.active, 0);
    EXPECT_EQ(cloned.rate, 250u);
    EXPECT_EQ(cloned.client, 7u);
    ComPtr<IEnumOPCItemAttributes> en;
    clone->CreateEnumerator(IEnumOPCItemAttributes::iid, reinterpret_cast<IUnknown**>(en.put()));
    OPCITEMATTRIBUTES* attrs = nullptr;
    ULONG n = 0;
    en->Next(5, &attrs, &n);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(std::u16string(attrs[1].szItemID), u"St1.M1");
    EXPECT_EQ(attrs[0].hClient, 100u);
    freeItemAttributes(attrs, n);
    // Once the server is gone a clone cannot join it.
    clone.reset();
    en.reset();
    server.reset();
    EXPECT_EQ(state->CloneGroup(u"D", IUnknown::iid, unk.put()), E_FAIL);
    EXPECT_EQ(items.as<IOPCPublicGroupStateMgt>()->MoveToPublic(), E_FAIL);
}

TEST_F(Group, InvalidHandlesInEverySetter)
{
    OPCHANDLE bad = 77;
    HRESULT* errors = nullptr;
    EXPECT_EQ(items->SetActiveState(1, &bad, TRUE, &errors), S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_INVALIDHANDLE);
    CoTaskMemFree(errors);
    OPCHANDLE client = 1;
    EXPECT_EQ(items->SetClientHandles(1, &bad, &client, &errors), S_FALSE);
    CoTaskMemFree(errors);
    VARTYPE vt = VT_R8;
    EXPECT_EQ(items->SetDatatypes(1, &bad, &vt, &errors), S_FALSE);
    CoTaskMemFree(errors);
    EXPECT_EQ(items->RemoveItems(1, &bad, &errors), S_FALSE);
    CoTaskMemFree(errors);
    EXPECT_EQ(items->AddItems(0, nullptr, nullptr, nullptr), E_INVALIDARG);
    DWORD revised = 0;
    DWORD zero = 0;
    items.as<IOPCGroupStateMgt>()->SetState(&zero, &revised, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(revised, 100u);
}

TEST_F(Group, ResultArraysFailTogether)
{
    std::u16string id = u"St1.P1";
    OPCITEMDEF def{nullptr, id.data(), TRUE, 1, 0, nullptr, VT_EMPTY, 0};
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    taskMemFailAfter(2);
    EXPECT_EQ(items->AddItems(1, &def, &results, &errors), E_OUTOFMEMORY);
    taskMemFailAfter(0);
    EXPECT_EQ(results, nullptr);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(items.as<IOPCItemMgt>()->CreateEnumerator(IUnknown::iid, reinterpret_cast<IUnknown**>(&results)),
              S_FALSE);
}

TEST(Stopwatch, ElapsedWhileRunningAndAfterStop)
{
    gw::test::FakeClock clock;
    sTimer t(clock, false);
    EXPECT_EQ(t.msTime(), 0);
    t.Start();
    clock.Advance(120);
    EXPECT_EQ(t.msTime(), 120);
    t.Stop();
    clock.Advance(50);
    EXPECT_EQ(t.msTime(), 120);
    EXPECT_FALSE(t.isRunning());
}

} // namespace
} // namespace opcda::test
