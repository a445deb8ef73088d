// An OPC DA client in the order clients use, against the real service and
// kpsim: items first and Advise after; a group and an item switched off and
// on; callbacks off with an occasional Refresh2, then on again; item
// properties; a read cancelled and its completion awaited.
#include "service_fixture.h"

namespace opcda::test {
namespace {

class ClientOrder : public ServiceEndToEnd {
protected:
    // Every station item good and Connected true, as the service has them
    // after the interrogation.
    static bool everyItemGood(const RecordingDataCallback::Call& call)
    {
        for (const OPCHANDLE h : {hConnected, hSP, hDP, hME}) {
            const auto* e = entry(call, h);
            if (!e || e->quality != 0xC0)
                return false;
        }
        return isTrue(entry(call, hConnected)->value);
    }

    // Updates until the station's values are in and every item has had a
    // periodic refresh with them.
    void settle()
    {
        ASSERT_TRUE(readUntil(*group, hConnected, [](const OPCITEMSTATE& s) {
            return s.vDataValue.vt == VT_BOOL && s.vDataValue.boolVal == VARIANT_TRUE;
        }));
        for (const OPCHANDLE h : {hSP, hDP, hME})
            ASSERT_TRUE(readUntil(*group, h, [](const OPCITEMSTATE& s) { return s.wQuality == 0xC0; })) << h;
        update();
    }

    void SetUp() override
    {
        leaks = taskMemOutstanding();
        ASSERT_NO_FATAL_FAILURE(startStation());
        server = connect();
        group = addGroup(*server);
        async = group.as<IOPCAsyncIO2>();
    }
    void TearDown() override
    {
        if (cp)
            cp->Unadvise(cookie);
        cp.reset();
        async.reset();
        group.reset();
        server.reset();
        classes.revokeClass(CLSID_OPCDataAccess20);
        EXPECT_EQ(taskMemOutstanding(), leaks);
    }

    long leaks = 0;
    ComPtr<IOPCServer> server;
    ComPtr<IOPCItemMgt> group;
    ComPtr<IOPCAsyncIO2> async;
};

// Values that do not change, as a breaker that stays closed, are there at
// the first update after Advise.
TEST_F(ClientOrder, ItemsAddedBeforeAdviseArriveAtTheFirstUpdate)
{
    ASSERT_NO_FATAL_FAILURE(settle());
    auto sink = advise(*group);
    EXPECT_TRUE(dataChangeUntil(*sink, [](const auto& call) { return call.transaction == 0 && everyItemGood(call); }))
        << "every item with its value, unchanged since AddItems";
}

// A group switched off and on again, or an item, sends the values it has at
// the next update, unchanged as they are.
TEST_F(ClientOrder, SwitchedOnGroupAndItemArriveWithTheirValues)
{
    ASSERT_NO_FATAL_FAILURE(settle());
    auto sink = advise(*group);
    ASSERT_TRUE(dataChangeUntil(*sink, [](const auto& call) { return everyItemGood(call); }));
    auto state = group.as<IOPCGroupStateMgt>();
    for (const BOOL active : {FALSE, TRUE}) {
        BOOL a = active;
        ASSERT_EQ(state->SetState(nullptr, nullptr, &a, nullptr, nullptr, nullptr, nullptr), S_OK);
    }
    EXPECT_TRUE(dataChangeUntil(*sink, [](const auto& call) { return call.transaction == 0 && everyItemGood(call); }))
        << "every item again once the group is on";

    OPCHANDLE me = handles.at(hME - 1);
    for (const BOOL active : {FALSE, TRUE}) {
        HRESULT* errors = nullptr;
        ASSERT_EQ(group->SetActiveState(1, &me, active, &errors), S_OK);
        CoTaskMemFree(errors);
    }
    EXPECT_TRUE(dataChangeUntil(*sink, [](const auto& call) {
        const auto* e = entry(call, hME);
        return call.transaction == 0 && e && e->quality == 0xC0;
    })) << "the measurement once it is on again";
}

// SetEnable(FALSE) stops the periodic data changes only: a Refresh2 still
// completes, and a change made meanwhile goes out once they are on again.
TEST_F(ClientOrder, CallbacksOffRefreshCompletesAndChangesFollowWhenOn)
{
    auto sink = advise(*group);
    ASSERT_NO_FATAL_FAILURE(settle());
    ASSERT_EQ(async->SetEnable(FALSE), S_OK);
    DWORD cancelId = 0;
    ASSERT_EQ(async->Refresh2(OPC_DS_CACHE, 77, &cancelId), S_OK);
    std::vector<RecordingDataCallback::Call> seen;
    EXPECT_TRUE(callUntil(
        *sink, [](const auto& call) { return call.transaction == 77; }, &seen))
        << "the refresh completes while callbacks are off";
    if (!seen.empty() && seen.back().transaction == 77) {
        EXPECT_EQ(seen.back().kind, "data");
        EXPECT_TRUE(everyItemGood(seen.back()));
    }

    kpsim->Control("set 1 100 1");
    ASSERT_TRUE(readUntil(*group, hSP, [](const OPCITEMSTATE& s) {
        return s.vDataValue.vt == VT_BOOL && s.vDataValue.boolVal == VARIANT_TRUE;
    }));
    update(); // a periodic refresh with the new value, callbacks still off
    for (const auto& call : sink->take())
        EXPECT_NE(call.transaction, 0u) << "no periodic data change while callbacks are off";

    ASSERT_EQ(async->SetEnable(TRUE), S_OK);
    EXPECT_TRUE(dataChangeUntil(*sink, [](const auto& call) {
        const auto* sp = entry(call, hSP);
        return call.transaction == 0 && sp && isTrue(sp->value) && sp->quality == 0xC0;
    })) << "the single point switched on while callbacks were off";
}

// The station items have no properties: each asked for is refused, and the
// calls say that not all entries succeeded.
TEST_F(ClientOrder, PropertiesNotProvidedAreRefused)
{
    auto props = server.as<IOPCItemProperties>();
    std::u16string me = u"KP1.ME";
    DWORD ids[] = {1, 2, 3, 4, 5, 6};
    VARIANT* data = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_EQ(props->GetItemProperties(me.data(), 6, ids, &data, &errors), S_FALSE);
    for (int i = 0; data && i < 6; ++i) {
        EXPECT_EQ(errors[i], OPC_E_INVALID_PID) << ids[i];
        VariantClear(&data[i]);
    }
    CoTaskMemFree(data);
    CoTaskMemFree(errors);
    LPWSTR* newIds = nullptr;
    EXPECT_EQ(props->LookupItemIDs(me.data(), 6, ids, &newIds, &errors), S_FALSE);
    for (int i = 0; newIds && i < 6; ++i) {
        EXPECT_EQ(errors[i], OPC_E_INVALID_PID) << ids[i];
        EXPECT_EQ(newIds[i], nullptr) << ids[i];
        CoTaskMemFree(newIds[i]);
    }
    CoTaskMemFree(newIds);
    CoTaskMemFree(errors);
}

// A read cancelled before the server got to it is closed by one
// OnCancelComplete and nothing else; the read queued after it completes.
TEST_F(ClientOrder, CancelledReadIsClosedByItsCancelCompletionOnly)
{
    auto sink = advise(*group);
    ASSERT_NO_FATAL_FAILURE(settle());
    const auto asyncRead = [&](DWORD tid) {
        DWORD cancelId = 0;
        HRESULT* errors = nullptr;
        EXPECT_EQ(async->Read(static_cast<DWORD>(handles.size()), handles.data(), tid, &cancelId, &errors), S_OK);
        CoTaskMemFree(errors);
        return cancelId;
    };
    const DWORD cancelled = asyncRead(41);
    ASSERT_EQ(async->Cancel2(cancelled), S_OK);
    asyncRead(42);
    std::vector<RecordingDataCallback::Call> seen;
    ASSERT_TRUE(callUntil(
        *sink, [](const auto& call) { return call.kind == "read" && call.transaction == 42; }, &seen));
    int cancels = 0;
    for (const auto& call : seen) {
        if (call.transaction != 41)
            continue;
        EXPECT_EQ(call.kind, "cancel");
        EXPECT_EQ(call.group, 1u);
        ++cancels;
    }
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(async->Cancel2(cancelled), E_FAIL);
}

} // namespace
} // namespace opcda::test
