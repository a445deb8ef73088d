// The server object: groups by name, status, enumerators, browsing,
// properties, shutdown.
#include "fixture.h"

#include "opcda/string_enum.h"
#include "opcda/wide.h"

#include <set>
#include <thread>

namespace opcda::test {
namespace {

class Server : public OpcFixture {
protected:
    std::vector<std::u16string> drain(IEnumString& en)
    {
        std::vector<std::u16string> out;
        LPOLESTR s[4] = {};
        ULONG n = 0;
        while (en.Next(4, s, &n) == S_OK || n > 0) {
            for (ULONG i = 0; i < n; ++i) {
                out.emplace_back(s[i]);
                CoTaskMemFree(s[i]);
            }
            if (n < 4)
                break;
        }
        return out;
    }
    std::vector<std::u16string> groupNames(IOPCServer& server, DWORD scope)
    {
        ComPtr<IEnumString> en;
        EXPECT_EQ(server.CreateGroupEnumerator(scope, IEnumString::iid, reinterpret_cast<IUnknown**>(en.put())), S_OK);
        return drain(*en);
    }
    std::vector<std::u16string> browse(IOPCBrowseServerAddressSpace& b, DWORD filter)
    {
        ComPtr<IEnumString> en;
        EXPECT_EQ(b.BrowseOPCItemIDs(filter, u"", VT_EMPTY, 0, en.put()), S_OK);
        return drain(*en);
    }
    std::u16string takeString(LPWSTR s)
    {
        std::u16string r = s ? s : u"<null>";
        CoTaskMemFree(s);
        return r;
    }
};

TEST_F(Server, UniqueGroupNamesRatesAndRemoval)
{
    auto server = connect();
    OPCHANDLE h1 = 0;
    auto g1 = addGroup(*server, u"");
    auto g2 = addGroup(*server, u"");
    auto n1 = addGroup(*server, u"N", true, 0, 1, &h1);
    auto n2 = addGroup(*server, u"N", true, 50);
    auto n3 = addGroup(*server, u"N");
    EXPECT_EQ(groupNames(*server, OPC_ENUM_ALL), (std::vector<std::u16string>{u"", u"_1", u"N", u"N_1", u"N_2"}));
    const GroupState state = groupState(*n2.as<IOPCGroupStateMgt>());
    ASSERT_EQ(state.result, S_OK);
    EXPECT_EQ(state.name, u"N_1");
    EXPECT_EQ(state.rate, 100u);
    EXPECT_EQ(state.active, -1);
    EXPECT_EQ(server->RemoveGroup(h1, FALSE), S_OK);
    EXPECT_EQ(server->RemoveGroup(0xFFFFFF, FALSE), S_OK);
    EXPECT_EQ(groupNames(*server, OPC_ENUM_ALL).size(), 4u);
    // The client still holds the removed group, and it still works.
    EXPECT_EQ(addItems(*n1, {u"lifebit"}).size(), 1u);
}

TEST_F(Server, AddGroupAnswersTheInterfaceAskedFor)
{
    auto server = connect();
    ComPtr<IOPCGroupStateMgt> state;
    OPCHANDLE h = 0;
    DWORD revised = 0;
    ASSERT_EQ(server->AddGroup(u"G", TRUE, 250, 1, nullptr, nullptr, 0, &h, &revised, IOPCGroupStateMgt::iid,
                               reinterpret_cast<IUnknown**>(state.put())),
              S_OK);
    EXPECT_EQ(revised, 250u);
    // The pointer is the interface itself: its own method works.
    ASSERT_EQ(state->SetName(u"Renamed"), S_OK);
    ComPtr<IUnknown> unk;
    EXPECT_EQ(server->AddGroup(u"X", TRUE, 250, 1, nullptr, nullptr, 0, &h, &revised, IOPCShutdown::iid, unk.put()),
              E_NOINTERFACE);
    EXPECT_EQ(groupNames(*server, OPC_ENUM_ALL), std::vector<std::u16string>{u"Renamed"});
    ComPtr<IUnknown> byName;
    EXPECT_EQ(server->GetGroupByName(u"Renamed", IOPCSyncIO::iid, byName.put()), S_OK);
    EXPECT_EQ(server->GetGroupByName(u"none", IOPCSyncIO::iid, byName.put()), E_INVALIDARG);
    EXPECT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IEnumUnknown::iid, unk.put()), E_NOINTERFACE);
}

TEST_F(Server, ConcurrentAddGroupsGetDistinctNames)
{
    auto server = connect();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i)
                addGroup(*server, u"Same");
        });
    for (auto& t : threads)
        t.join();
    const auto names = groupNames(*server, OPC_ENUM_ALL);
    EXPECT_EQ(names.size(), 40u);
    EXPECT_EQ(std::set<std::u16string>(names.begin(), names.end()).size(), 40u);
}

TEST_F(Server, PublicGroupsScopesAndMoveToPublic)
{
    auto server = connect();
    auto a = addGroup(*server, u"A");
    auto b = addGroup(*server, u"B");
    auto pub = b.as<IOPCPublicGroupStateMgt>();
    EXPECT_EQ(pub->MoveToPublic(), S_OK);
    EXPECT_EQ(pub->MoveToPublic(), E_FAIL);
    BOOL isPublic = 0;
    pub->GetState(&isPublic);
    EXPECT_EQ(isPublic, -1);
    const struct {
        DWORD scope;
        std::vector<std::u16string> names;
    } scopes[] = {{1, {u"A"}}, {2, {u"B"}},       {3, {u"A", u"B"}}, {4, {u"A"}},
                  {5, {u"B"}}, {6, {u"A", u"B"}}, {9, {u"A"}}};
    for (const auto& s : scopes)
        EXPECT_EQ(groupNames(*server, s.scope), s.names) << s.scope;
    // A renamed group that takes another's name: the right one goes public.
    auto aState = a.as<IOPCGroupStateMgt>();
    aState->SetName(u"B");
    EXPECT_EQ(a.as<IOPCPublicGroupStateMgt>()->MoveToPublic(), S_OK);
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_EQ(server->GetStatus(&status), S_OK);
    EXPECT_EQ(status->dwGroupCount, 2u);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    ComPtr<IUnknown> g;
    auto publicGroups = server.as<IOPCServerPublicGroups>();
    EXPECT_EQ(publicGroups->GetPublicGroupByName(u"B", IOPCItemMgt::iid, g.put()), S_OK);
    EXPECT_EQ(publicGroups->GetPublicGroupByName(u"Z", IOPCItemMgt::iid, g.put()), E_INVALIDARG);
}

TEST_F(Server, StatusTextsLocalesAndPersistence)
{
    auto server = connect();
    OPCSERVERSTATUS* status = nullptr;
    EXPECT_EQ(server->GetStatus(nullptr), E_INVALIDARG);
    ASSERT_EQ(server->GetStatus(&status), S_OK);
    EXPECT_EQ(fileTimeValue(status->ftLastUpdateTime), fileTimeValue(fileTimeOf(0)));
    EXPECT_EQ(fileTimeValue(status->ftStartTime), fileTimeValue(fileTimeOf(clock.Now())));
    EXPECT_EQ(status->dwServerState, 1u);
    EXPECT_EQ(status->dwBandWidth, 0xFFFFFFFFu);
    EXPECT_EQ(status->wMajorVersion + status->wMinorVersion + status->wBuildNumber, 3);
    EXPECT_EQ(takeString(status->szVendorInfo), u"Norvane OPC DA 2.0 Server");
    CoTaskMemFree(status);

    LPWSTR text = nullptr;
    server->GetErrorString(5, 0, &text);
    EXPECT_EQ(takeString(text), u"Error 5");
    server->GetErrorString(OPC_E_UNKNOWNITEMID, 0, &text);
    EXPECT_EQ(takeString(text), u"Error -1073479673");
    auto common = server.as<IOPCCommon>();
    common->GetErrorString(5, &text);
    EXPECT_EQ(takeString(text), u"Data Access Error 5 ");
    DWORD count = 9;
    LCID* lcids = reinterpret_cast<LCID*>(&count);
    EXPECT_EQ(common->QueryAvailableLocaleIDs(&count, &lcids), S_FALSE);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(lcids, nullptr);
    common->SetLocaleID(0x419);
    LCID lcid = 0;
    common->GetLocaleID(&lcid);
    EXPECT_EQ(lcid, 0x419u);
    auto persist = server.as<IPersistFile>();
    EXPECT_EQ(persist->Save(u"x", TRUE), S_FALSE);
    LPOLESTR file = reinterpret_cast<LPOLESTR>(&count);
    EXPECT_EQ(persist->GetCurFile(&file), S_FALSE);
    EXPECT_EQ(file, nullptr);
    EXPECT_TRUE(server.as<IPersist>());
    EXPECT_TRUE(server.as<IDispatch>());
    EXPECT_TRUE(server.as<IOPCDataAccess20>());
    EXPECT_EQ(server.as<IUnknown>().get(), persist.as<IUnknown>().get());
}

// The station items have no properties: every id asked for is refused in
// its entry and the call says so, never an empty success.
TEST_F(Server, ItemPropertiesTheItemLacksAreRefused)
{
    auto server = connect();
    auto props = server.as<IOPCItemProperties>();
    DWORD count = 5;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    std::u16string life = u"lifebit", none = u"none";
    EXPECT_EQ(props->QueryAvailableProperties(life.data(), &count, &ids, &descriptions, &types), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(props->QueryAvailableProperties(none.data(), &count, &ids, &descriptions, &types), OPC_E_INVALIDITEMID);
    LPWSTR* newIds = nullptr;
    HRESULT* errors = nullptr;
    DWORD standard[] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(props->LookupItemIDs(life.data(), 0, standard, &newIds, &errors), E_INVALIDARG);
    EXPECT_EQ(props->LookupItemIDs(none.data(), 0, standard, &newIds, &errors), OPC_E_INVALIDITEMID);
    VARIANT* data = nullptr;
    ASSERT_EQ(props->GetItemProperties(life.data(), 6, standard, &data, &errors), S_FALSE);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(errors[i], OPC_E_INVALID_PID) << i;
        EXPECT_EQ(data[i].vt, VT_EMPTY) << i;
    }
    CoTaskMemFree(data);
    CoTaskMemFree(errors);
    ASSERT_EQ(props->LookupItemIDs(life.data(), 6, standard, &newIds, &errors), S_FALSE);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(errors[i], OPC_E_INVALID_PID) << i;
        EXPECT_EQ(newIds[i], nullptr) << i;
    }
    CoTaskMemFree(newIds);
    CoTaskMemFree(errors);
}

// An address space that does provide properties: provided ids answer, the
// others fail in their entries, and the call is S_OK only when all answered.
TEST_F(Server, ItemPropertiesAnswerTheProvidedIds)
{
    auto own = std::make_shared<sOPC>(clock, zone);
    own->FOnInitAddressSpace = [&] {
        own->AddLeaf(0, 1, u"T", VT_R8, 3);
        own->AddProperty(1, 100, u"EU", u"Unit", VT_BSTR, *Variant::fromString(u"kV").get());
        own->AddProperty(1, 101, u"", u"Scale", VT_R8, *Variant::fromR8(0.5).get());
    };
    own->setStartDelay(std::chrono::milliseconds(0));
    own->setManualTicks(true);
    own->Start();
    auto props = makeCom<sOPCDataAccess>(own).as<IOPCItemProperties>();
    ASSERT_TRUE(props);
    std::u16string t = u"T";
    struct Case {
        std::vector<DWORD> ids;
        HRESULT result;
        std::vector<HRESULT> properties, lookups;
    };
    const Case cases[] = {
        {{100, 101}, S_OK, {S_OK, S_OK}, {S_OK, OPC_E_INVALID_PID}},
        {{101, 7}, S_FALSE, {S_OK, OPC_E_INVALID_PID}, {OPC_E_INVALID_PID, OPC_E_INVALID_PID}},
        {{100}, S_OK, {S_OK}, {S_OK}},
    };
    for (const Case& c : cases) {
        std::vector<DWORD> ids = c.ids;
        const auto n = static_cast<DWORD>(ids.size());
        VARIANT* data = nullptr;
        HRESULT* errors = nullptr;
        ASSERT_EQ(props->GetItemProperties(t.data(), n, ids.data(), &data, &errors), c.result) << ids[0];
        for (DWORD i = 0; i < n; ++i) {
            EXPECT_EQ(errors[i], c.properties[i]) << ids[i];
            if (ids[i] == 100) {
                EXPECT_EQ(std::u16string(data[i].bstrVal), u"kV");
            } else if (ids[i] == 101) {
                EXPECT_EQ(data[i].dblVal, 0.5);
            }
            VariantClear(&data[i]);
        }
        CoTaskMemFree(data);
        CoTaskMemFree(errors);
        LPWSTR* newIds = nullptr;
        const HRESULT lookedUp = props->LookupItemIDs(t.data(), n, ids.data(), &newIds, &errors);
        EXPECT_EQ(lookedUp, c.lookups == std::vector<HRESULT>(n, S_OK) ? S_OK : S_FALSE) << ids[0];
        for (DWORD i = 0; i < n; ++i) {
            EXPECT_EQ(errors[i], c.lookups[i]) << ids[i];
            EXPECT_EQ(newIds[i] ? std::u16string(newIds[i]) : u"<null>", ids[i] == 100 ? u"T.EU" : u"<null>");
            CoTaskMemFree(newIds[i]);
        }
        CoTaskMemFree(newIds);
        CoTaskMemFree(errors);
    }
}

TEST_F(Server, BrowsesStationsAndTheirItems)
{
    auto server = connect();
    auto b = server.as<IOPCBrowseServerAddressSpace>();
    DWORD org = 0;
    b->QueryOrganization(&org);
    EXPECT_EQ(org, 1u);
    EXPECT_EQ(browse(*b, OPC_BRANCH), (std::vector<std::u16string>{u"St1", u"St2"}));
    EXPECT_EQ(browse(*b, OPC_LEAF), std::vector<std::u16string>{u"lifebit"});
    EXPECT_TRUE(browse(*b, OPC_FLAT).empty());
    EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_UP, u""), E_FAIL);
    EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"lifebit"), E_FAIL);
    EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"St1"), S_OK);
    EXPECT_EQ(browse(*b, OPC_LEAF), (std::vector<std::u16string>{u"Connected", u"P1", u"P2", u"M1"}));
    EXPECT_TRUE(browse(*b, OPC_BRANCH).empty());
    LPWSTR id = nullptr;
    std::u16string connected = u"Connected", lifebit = u"lifebit";
    b->GetItemID(connected.data(), &id);
    EXPECT_EQ(takeString(id), u"St1.Connected");
    b->GetItemID(lifebit.data(), &id);
    EXPECT_EQ(takeString(id), u"?");
    EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_UP, nullptr), S_OK);
    EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, u"St2.Q1"), E_INVALIDARG);
    EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, u"St2"), S_OK);
    EXPECT_EQ(browse(*b, OPC_LEAF), (std::vector<std::u16string>{u"Connected", u"Q1"}));
    EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, u""), S_OK);
    EXPECT_EQ(browse(*b, OPC_BRANCH).size(), 2u);
    ComPtr<IEnumString> paths;
    EXPECT_EQ(b->BrowseAccessPaths(u"lifebit", paths.put()), S_FALSE);
    EXPECT_FALSE(paths);
    EXPECT_EQ(b->BrowseAccessPaths(u"none", paths.put()), E_UNEXPECTED);
}

TEST_F(Server, StringEnumeratorSequencesAndClones)
{
    auto list = std::make_shared<const std::vector<std::u16string>>(std::vector<std::u16string>{u"a", u"b", u"c"});
    auto en = makeCom<sOPCStringEnumerator>(list);
    LPOLESTR s[10] = {};
    ULONG n = 0;
    EXPECT_EQ(en->Next(10, s, &n), S_FALSE);
    EXPECT_EQ(n, 3u);
    for (ULONG i = 0; i < n; ++i)
        CoTaskMemFree(s[i]);
    EXPECT_EQ(en->Next(1, s, &n), S_FALSE);
    EXPECT_EQ(n, 0u);
    en->Reset();
    EXPECT_EQ(en->Skip(5), S_FALSE);
    EXPECT_EQ(en->Next(1, s, nullptr), S_FALSE); // at the end; a null count is fine for one
    EXPECT_EQ(en->Next(0, s, &n), ENUM_VALUE_OUT_OF_RANGE);
    EXPECT_EQ(en->Next(2, s, nullptr), E_INVALIDARG);
    en->Reset();
    EXPECT_EQ(en->Skip(0xFFFFFFFFu), S_FALSE); // no wrap-around
    en->Reset();
    EXPECT_EQ(en->Next(2, s, &n), S_OK);
    CoTaskMemFree(s[0]);
    CoTaskMemFree(s[1]);
    ComPtr<IEnumString> clone;
    ASSERT_EQ(en->Clone(clone.put()), S_OK);
    en.reset();
    list.reset();
    EXPECT_EQ(clone->Next(1, s, nullptr), S_OK);
    EXPECT_EQ(std::u16string(s[0]), u"c");
    CoTaskMemFree(s[0]);
}

TEST_F(Server, ShutdownReachesOnlyAnAdvisedSink)
{
    auto server = connect();
    auto cpc = server.as<IConnectionPointContainer>();
    ComPtr<IConnectionPoint> cp;
    EXPECT_EQ(cpc->FindConnectionPoint(IOPCDataCallback::iid, cp.put()), E_NOINTERFACE);
    ASSERT_EQ(cpc->FindConnectionPoint(IOPCShutdown::iid, cp.put()), S_OK);
    auto sink = makeCom<RecordingShutdown>();
    DWORD cookie = 0;
    ASSERT_EQ(cp->Advise(sink->identity(), &cookie), S_OK);
    EXPECT_EQ(cp->Advise(sink->identity(), &cookie), CONNECT_E_ADVISELIMIT);
    EXPECT_EQ(core->GetServerCount(), 1);
    core->ShutDown();
    EXPECT_EQ(sink->reasons, std::vector<std::u16string>{u"Terminated by User."});
    ASSERT_EQ(cp->Unadvise(1), S_OK);
    core->ShutDown();
    EXPECT_EQ(sink->reasons.size(), 1u);
    cp.reset();
    cpc.reset();
    server.reset();
    EXPECT_EQ(core->GetServerCount(), 0);
}

// A client that releases its server from inside the shutdown request.
TEST_F(Server, ShutdownSurvivesAReleaseInsideTheRequest)
{
    struct Releasing final : ComObject<IOPCShutdown> {
        ComPtr<IOPCServer> server;
        HRESULT ShutdownRequest(LPCWSTR) override
        {
            server.reset();
            return S_OK;
        }
    };
    auto sink = makeCom<Releasing>();
    {
        auto server = connect();
        ComPtr<IConnectionPoint> cp;
        server.as<IConnectionPointContainer>()->FindConnectionPoint(IOPCShutdown::iid, cp.put());
        DWORD cookie = 0;
        cp->Advise(sink->identity(), &cookie);
        sink->server = server;
    }
    core->ShutDown();
    EXPECT_EQ(core->GetServerCount(), 0);
}

TEST_F(Server, GroupCountsAcrossClients)
{
    EXPECT_EQ(core->GetGroupCount(), 0);
    auto s1 = connect();
    auto s2 = connect();
    auto g1 = addGroup(*s1, u"a");
    auto g2 = addGroup(*s2, u"a");
    g2.as<IOPCPublicGroupStateMgt>()->MoveToPublic();
    EXPECT_EQ(core->GetGroupCount(), 2);
}

} // namespace
} // namespace opcda::test
