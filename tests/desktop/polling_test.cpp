// Polling started and stopped from the main window against a real station
// simulator over loopback, and the start/stop logic on its own.

#include "desktop_fixture.h"
#include "testkit/free_port.h"
#include "testkit/kpsim_process.h"
#include "testkit/one_station.h"

#include "desktop/desktop_service.h"
#include "desktop/main_window.h"
#include "desktop/opcda_server.h"
#include "desktop/polling_controller.h"
#include "desktop/texts.h"
#include "service/tables.h"

#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <stdexcept>

namespace gw::test {
namespace {

using desktop::TOPCForm;

class MainWindowPolling : public ::testing::Test {
protected:
    void SetUp() override
    {
        kpsim = std::make_unique<KpsimProcess>(std::vector<std::string>{
            "--listen", "127.0.0.1:0", "--ca", "1", "--sp", "100:4", "--dp", "200:2", "--me-float", "300:4"});
        temp.Write("iec104.cfg", ExampleStations({kpsim->ListenPort(1)}));
        service = std::make_unique<desktop::TDesktopService>(temp.path(), true);
        form = std::make_unique<TOPCForm>(*service, opcDa, prompts, true);
    }
    void TearDown() override
    {
        form.reset();
        service.reset();
    }
    QString Cell(const char* grid, int row, int column)
    {
        const auto& g = std::string(grid) == "TS" ? form->Grids().ts : form->Grids().ti;
        if (static_cast<std::size_t>(row) >= g.size())
            return {};
        return QString::fromStdString(g[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)]);
    }
    // The tick runs on this thread's event loop: keep it going while waiting.
    bool WaitForKpsim(const std::string& prefix)
    {
        return QTest::qWaitFor([&] { return kpsim->WaitFor(prefix, std::chrono::milliseconds(20)).has_value(); },
                               10000);
    }
    QPushButton* Button1() { return form->centralWidget()->findChild<QPushButton*>("Button1"); }

    TempDir temp;
    std::unique_ptr<KpsimProcess> kpsim;
    desktop::TNullOpcDaServer opcDa;
    RecordingPrompts prompts;
    std::unique_ptr<desktop::TDesktopService> service;
    std::unique_ptr<TOPCForm> form;
};

TEST_F(MainWindowPolling, StartsAtCreationShowsLiveValuesAndStopsByTheButton)
{
    form->FormCreate();
    ASSERT_TRUE(form->PollingOn());
    EXPECT_EQ(Button1()->text(), QString::fromUtf8(desktop::texts::StopPolling));
    EXPECT_FALSE(form->centralWidget()->findChild<QPushButton*>("BitBtn1")->isEnabled());
    ASSERT_TRUE(WaitForKpsim("interrogation station=1"));
    // The station answers the general interrogation; the grid shows it.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            form->OutStingGrigTsTit();
            return Cell("TS", 1, 3) == QString::fromUtf8(desktop::texts::Connected) && !Cell("TI", 1, 4).isEmpty()
                   && !Cell("TS", 2, 4).isEmpty();
        },
        10000));
    EXPECT_EQ(Cell("TS", 2, 2), "1,100");
    EXPECT_EQ(Cell("TI", 1, 2), "1,300");
    EXPECT_EQ(Cell("TI", 1, 5).size(), 12); // "%12.3f"
    EXPECT_TRUE(prompts.infos.empty());     // no advice for the start at creation

    QTest::mouseClick(Button1(), Qt::LeftButton);
    EXPECT_FALSE(form->PollingOn());
    EXPECT_EQ(Button1()->text(), QString::fromUtf8(desktop::texts::StartPolling));
    EXPECT_TRUE(form->centralWidget()->findChild<QPushButton*>("BitBtn1")->isEnabled());
    EXPECT_TRUE(WaitForKpsim("disconnected station=1"));
    // Configurator mode: a start by the button gives no restart advice either.
    QTest::mouseClick(Button1(), Qt::LeftButton);
    EXPECT_TRUE(form->PollingOn());
    EXPECT_TRUE(prompts.infos.empty());
}

TEST_F(MainWindowPolling, PassiveStationShowsItsPortAndConnection)
{
    const int port = FreePort();
    kpsim = std::make_unique<KpsimProcess>(std::vector<std::string>{
        "--connect", "127.0.0.1:" + std::to_string(port), "--ca", "1", "--sp", "100:4", "--reconnect", "100"});
    TOneStation station;
    station.port = port;
    station.passive = true;
    station.startDt = true;
    station.points = {TCfgPoint(100)};
    temp.Write("iec104.cfg", OneStationCfg(station));
    form->FormCreate();
    ASSERT_TRUE(form->PollingOn());
    ASSERT_TRUE(WaitForKpsim("startdt station=1"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            form->OutStingGrigTsTit();
            return Cell("TS", 1, 5) == QString::fromUtf8(desktop::texts::ConnectionsPrefix) + "1";
        },
        10000));
    EXPECT_EQ(Cell("TS", 1, 4), QString::fromUtf8(desktop::texts::PortPrefix) + QString::number(port));
}

TEST_F(MainWindowPolling, NoStationMeansStoppedWithHeadersOnly)
{
    temp.Write("iec104.cfg", ";kol,0\r\n");
    form->FormCreate();
    EXPECT_FALSE(form->PollingOn());
    EXPECT_EQ(Button1()->text(), QString::fromUtf8(desktop::texts::StartPolling));
    EXPECT_TRUE(form->centralWidget()->findChild<QPushButton*>("BitBtn3")->isEnabled());
    form->OutStingGrigTsTit(); // no station selected, none configured: no out-of-range read
    EXPECT_EQ(form->Grids().ts.size(), 1u);
    EXPECT_EQ(form->Grids().ti.size(), 1u);
}

// The controller against fakes: what the view shows after each step.
class FakeView final : public desktop::TPollingView {
public:
    void SetPollingCaption(bool on) override { caption = on; }
    void EnableButtons(bool enabled) override { buttons = enabled; }
    void SetTimers(bool running) override { timers = running; }
    void ShowFirstStation() override { ++shown; }
    void ShowRestartAdvice() override { ++advice; }
    bool caption = false, buttons = true, timers = false;
    int shown = 0, advice = 0;
};

class FakeService final : public desktop::TPollingService {
public:
    void Start() override
    {
        ++starts;
        if (fail)
            throw std::runtime_error("bad number in iec104.cfg");
    }
    void Stop() override { ++stops; }
    bool fail = false;
    int starts = 0, stops = 0;
};

TEST(PollingController, ButtonStartsStopsAndAdvisesOnlyInNormalMode)
{
    struct Case {
        bool configurator;
        int advice;
    };
    for (const Case c : {Case{false, 1}, Case{true, 0}}) {
        FakeView view;
        FakeService service;
        std::vector<std::string> log;
        desktop::TPollingController polling(service, view, c.configurator,
                                            [&](const std::exception& e) { log.push_back(e.what()); });
        polling.Button1Click();
        EXPECT_TRUE(polling.PollingOn());
        EXPECT_TRUE(view.caption && view.timers && !view.buttons);
        EXPECT_EQ(view.advice, c.advice);
        polling.Button1Click();
        EXPECT_FALSE(polling.PollingOn());
        EXPECT_TRUE(!view.caption && !view.timers && view.buttons);
        EXPECT_EQ(service.stops, 1);
        EXPECT_TRUE(log.empty());
    }
}

TEST(PollingController, FailedStartIsLoggedAndRolledBackToStopped)
{
    FakeView view;
    FakeService service;
    service.fail = true;
    std::vector<std::string> log;
    desktop::TPollingController polling(service, view, false,
                                        [&](const std::exception& e) { log.push_back(e.what()); });
    polling.Button1Click();
    EXPECT_FALSE(polling.PollingOn());
    EXPECT_FALSE(view.caption);
    EXPECT_TRUE(view.buttons);
    EXPECT_FALSE(view.timers);
    EXPECT_EQ(service.stops, 1); // the partial start is freed
    EXPECT_EQ(view.advice, 0);
    EXPECT_EQ(log, std::vector<std::string>{"bad number in iec104.cfg"});
    service.fail = false;
    polling.Button1Click(); // the next press starts, not stops
    EXPECT_TRUE(polling.PollingOn());
}

} // namespace
} // namespace gw::test
