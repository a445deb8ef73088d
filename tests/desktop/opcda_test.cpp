// The OPC DA server inside the desktop program, reached by a client in this
// process through the class table: the menu's registration in the registry
// store, the counts of the main window, the shutdown request at closing, and
// a station's value from kpsim in a client's read.

#include "desktop_fixture.h"
#include "testkit/kpsim_process.h"

#include "compat/com/taskmem.h"
#include "desktop/desktop_service.h"
#include "desktop/main_window.h"
#include "desktop/opcda_in_process.h"
#include "desktop/texts.h"
#include "opcda/opc_defs.h"
#include "opcda/wide.h"
#include "service/tables.h"
#include "support/recording_shutdown.h"

#include <QAction>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

namespace gw::test {
namespace {

using namespace opcda;
using opcda::test::RecordingShutdown;

struct ItemState {
    Variant value;
    WORD quality = 0;
};

// An OPC DA client: one server object, at most one group.
class Client {
public:
    explicit Client(desktop::TOpcDaInProcess& opcDa)
    {
        created = opcDa.Classes().createInstance(CLSID_OPCDataAccess20, IOPCServer::iid, server.putVoid());
    }

    HRESULT AddGroup()
    {
        DWORD revised = 0;
        return server->AddGroup(u"G", TRUE, 100, 1, nullptr, nullptr, 0, &hGroup, &revised, IOPCItemMgt::iid,
                                reinterpret_cast<IUnknown**>(group.put()));
    }

    std::vector<OPCHANDLE> AddItems(std::vector<std::u16string> ids)
    {
        std::vector<OPCITEMDEF> defs;
        for (std::size_t i = 0; i < ids.size(); ++i)
            defs.push_back({nullptr, ids[i].data(), TRUE, static_cast<OPCHANDLE>(i + 1), 0, nullptr, VT_EMPTY, 0});
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        std::vector<OPCHANDLE> handles;
        if (group->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors) == S_OK)
            for (std::size_t i = 0; i < ids.size(); ++i)
                handles.push_back(results[i].hServer);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
        return handles;
    }

    ItemState ReadDevice(OPCHANDLE h)
    {
        OPCITEMSTATE* states = nullptr;
        HRESULT* errors = nullptr;
        ItemState got;
        if (group.as<IOPCSyncIO>()->Read(OPC_DS_DEVICE, 1, &h, &states, &errors) == S_OK) {
            VariantCopy(got.value.get(), &states[0].vDataValue);
            got.quality = states[0].wQuality;
            VariantClear(&states[0].vDataValue);
        }
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
        return got;
    }

    HRESULT created = E_FAIL;
    ComPtr<IOPCServer> server;
    ComPtr<IOPCItemMgt> group;
    OPCHANDLE hGroup = 0;
};

class DesktopOpcDa : public ::testing::Test {
protected:
    void SetUp() override
    {
        leaks = taskMemOutstanding();
        // The test program's folder stays the current one (the program switches to its own).
        opcDa.Init(desktop::texts::OpcProgId, desktop::texts::AppTitle, false, false);
        form.SetRegistration(opcDa.Registration());
    }
    void TearDown() override { EXPECT_EQ(taskMemOutstanding(), leaks) << "task memory left over"; }

    // Creation and the server's start, in the program's order.
    void Create(const std::string& cfg)
    {
        temp.Write("iec104.cfg", cfg);
        form.FormCreate();
        opcDa.Start();
    }
    QAction* Action(const char* name) { return form.findChild<QAction*>(name); }
    // The counts change on the window's 500 ms timer: keep the event loop going.
    bool CountsShow(const char* clients, const char* groups)
    {
        auto* c = form.findChild<QLabel*>("laClientCount");
        auto* g = form.findChild<QLabel*>("laGroupCount");
        return QTest::qWaitFor([&] { return c->text() == clients && g->text() == groups; }, 10000);
    }

    long leaks = 0;
    TempDir temp;
    desktop::TDesktopService service{temp.path(), false};
    desktop::TOpcDaInProcess opcDa{service.Context(), temp.File("opcstation")};
    RecordingPrompts prompts;
    desktop::TOPCForm form{service, opcDa, prompts, false};
};

TEST_F(DesktopOpcDa, MenuRegistersInTheStoreAndUnregisterRemovesIt)
{
    Create(";kol,0\r\n");
    com::InMemoryRegistry& registry = opcDa.Registry();
    const std::string clsid = CLSID_OPCDataAccess20.toString();
    const std::string serverKey = "CLSID\\" + clsid;
    Action("N10")->trigger();
    EXPECT_EQ(registry.getValue("Norvane.OPCServer", ""), "Norvane");
    EXPECT_EQ(registry.getValue("Norvane.OPCServer\\Clsid", ""), clsid);
    EXPECT_TRUE(registry.keyExists("Norvane.OPCServer\\OPC"));
    EXPECT_EQ(registry.getValue(serverKey + "\\ProgID", ""), "Norvane.OPCServer");
    EXPECT_EQ(registry.getValue("AppID\\" + clsid, "RunAs"), "Interactive User");
    EXPECT_TRUE(opcDa.Categories().implements(CLSID_OPCDataAccess20, CATID_OPCDAServer20));

    Action("N11")->trigger();
    for (const std::string& key : {std::string("Norvane.OPCServer"), serverKey, "AppID\\" + clsid})
        EXPECT_FALSE(registry.keyExists(key)) << key;
    EXPECT_FALSE(opcDa.Categories().implements(CLSID_OPCDataAccess20, CATID_OPCDAServer20));

    // Without write access the command fails into the exception log, silently.
    registry.setReadOnly(true);
    Action("N10")->trigger();
    EXPECT_FALSE(registry.keyExists("Norvane.OPCServer"));
    EXPECT_NE(temp.Read(desktop::texts::ErrorLogFile).find(" . Class Name = "), std::string::npos);
    EXPECT_TRUE(prompts.infos.empty());
}

TEST_F(DesktopOpcDa, CountsFollowTheClientsAndClosingAsksThemToShutDown)
{
    Create(";kol,0\r\n");
    EXPECT_TRUE(CountsShow("0", "0"));
    Client first(opcDa), second(opcDa);
    ASSERT_EQ(first.created, S_OK);
    ASSERT_EQ(second.created, S_OK);
    ASSERT_EQ(first.AddGroup(), S_OK);
    EXPECT_TRUE(CountsShow("2", "1"));

    auto asked = makeCom<RecordingShutdown>();
    ComPtr<IConnectionPoint> cp;
    ASSERT_EQ(first.server.as<IConnectionPointContainer>()->FindConnectionPoint(IOPCShutdown::iid, cp.put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(cp->Advise(asked->identity(), &cookie), S_OK);
    form.close();
    EXPECT_EQ(asked->reasons, std::vector<std::u16string>{u"Terminated by User."});

    // The client goes as asked: its group, then its server object.
    EXPECT_EQ(first.server->RemoveGroup(first.hGroup, FALSE), S_OK);
    first.group.reset();
    EXPECT_TRUE(CountsShow("2", "0"));
    cp->Unadvise(cookie);
    cp.reset();
    first.server.reset();
    second.server.reset();
    EXPECT_TRUE(CountsShow("0", "0"));
}

TEST_F(DesktopOpcDa, StationValueFromKpsimReachesAClientsRead)
{
    KpsimProcess kpsim(
        {"--listen", "127.0.0.1:0", "--ca", "1", "--sp", "100:4", "--dp", "200:2", "--me-float", "300:4"});
    std::string cfg = ExampleStations({kpsim.ListenPort(1)});
    cfg.replace(cfg.find("OPC_UA_use,1"), 12, "OPC_UA_use,0"); // no OPC UA port taken beside the test
    Create(cfg);
    ASSERT_TRUE(form.PollingOn());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return kpsim.WaitFor("interrogation station=1", std::chrono::milliseconds(20)).has_value(); }, 10000));
    const T_KP& kp = service.Context().Stations.KpTable[1];
    ASSERT_EQ(kp.TS_arr[1].AdrIOA, 100);
    ASSERT_EQ(kp.TS_arr[1].Type_Var, 0); // a single point: a boolean item
    {
        Client client(opcDa);
        ASSERT_EQ(client.created, S_OK);
        ASSERT_EQ(client.AddGroup(), S_OK);
        const auto handles =
            client.AddItems({toWide(kp.NameKP + ".Connected"), toWide(kp.NameKP + "." + kp.TS_arr[1].NameTS)});
        ASSERT_EQ(handles.size(), 2u);
        // Each value the station sends, as the service's tick puts it in the table.
        for (const bool on : {true, false}) {
            kpsim.Control(on ? "set 1 100 1" : "set 1 100 0");
            EXPECT_TRUE(QTest::qWaitFor(
                [&] {
                    const ItemState s = client.ReadDevice(handles[1]);
                    return s.quality == 0xC0 && s.value.vt() == VT_BOOL
                           && (s.value.get()->boolVal == VARIANT_TRUE) == on;
                },
                10000))
                << "the point reads " << on;
        }
        const ItemState connected = client.ReadDevice(handles[0]);
        EXPECT_EQ(connected.value.vt(), VT_BOOL);
        EXPECT_EQ(connected.value.get()->boolVal, VARIANT_TRUE);
    }
    form.close();
}

} // namespace
} // namespace gw::test
