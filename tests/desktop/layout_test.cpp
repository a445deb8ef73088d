// The windows on a 1024 x 768 screen: each fits it whole, and the grid
// columns that hold addresses, names and times are as wide as what they
// hold, with borders the user can still drag.

#include "desktop_fixture.h"

#include "desktop/about_dialog.h"
#include "desktop/desktop_service.h"
#include "desktop/link_param_dialog.h"
#include "desktop/main_window.h"
#include "desktop/opcda_server.h"
#include "desktop/opcua_dialog.h"
#include "desktop/station_dialog.h"
#include "desktop/upload_dialog.h"
#include "testkit/kpsim_process.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace gw::test {
namespace {

// The screen less a window frame, its title bar and a panel.
constexpr int UsableWidth = 1024 - 16;
constexpr int UsableHeight = 768 - 72;

void ExpectFits(QWidget& w, const char* name)
{
    w.show();
    QCoreApplication::processEvents();
    const QSize least = w.minimumSizeHint().expandedTo(w.minimumSize());
    EXPECT_LE(least.width(), UsableWidth) << name;
    EXPECT_LE(least.height(), UsableHeight) << name;
}

// Every shown cell of the columns fits its column, and the user may resize them.
void ExpectColumnsFit(const QTableWidget* grid, std::initializer_list<int> columns, const char* name)
{
    const QFontMetrics metrics(grid->font());
    for (const int c : columns) {
        EXPECT_EQ(grid->horizontalHeader()->sectionResizeMode(c), QHeaderView::Interactive) << name << " " << c;
        for (int r = 0; r < grid->rowCount(); ++r) {
            const QTableWidgetItem* item = grid->item(r, c);
            if (!item || grid->isRowHidden(r))
                continue;
            EXPECT_GE(grid->columnWidth(c), metrics.horizontalAdvance(item->text()))
                << name << " row " << r << " column " << c << ": " << item->text().toStdString();
        }
    }
    EXPECT_FALSE(grid->horizontalHeader()->isHidden()) << name; // the grid may be on a page not shown
}

class Layout : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string cfg = ExampleStations({kpsim.ListenPort(1)});
        cfg.replace(cfg.find("OPC_UA_use,1"), 12, "OPC_UA_use,0"); // no OPC UA port taken beside the test
        temp.Write("iec104.cfg", cfg);
        form.FormCreate();
    }

    KpsimProcess kpsim{{"--listen", "127.0.0.1:0", "--ca", "1", "--sp", "100:4", "--dp", "200:2", "--me-float", "300:4",
                        "--rate", "5", "--time"}};
    TempDir temp;
    desktop::TDesktopService service{temp.path(), true};
    desktop::TNullOpcDaServer opcDa;
    RecordingPrompts prompts;
    desktop::TOPCForm form{service, opcDa, prompts, true};
};

TEST_F(Layout, TheMainWindowFitsAndItsGridsFitTheLiveValues)
{
    ExpectFits(form, "main window");
    ASSERT_TRUE(form.PollingOn());
    // The connection's address and the times arrive with the values, after the station was shown.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto& g = form.Grids();
            return g.ts.size() > 2 && !g.ts[1][4].empty() && !g.ts[2][5].empty() && g.ti.size() > 1
                   && !g.ti[1][6].empty();
        },
        10000));
    form.OutStingGrigTsTit();
    ExpectColumnsFit(form.findChild<QTableWidget*>("StringGrd_TS"), {1, 2, 3, 4, 5}, "points");
    ExpectColumnsFit(form.findChild<QTableWidget*>("StringGrd_TI"), {1, 2, 6}, "measured values");
    form.close();
}

TEST_F(Layout, EveryDialogFits)
{
    TServiceContext& ctx = service.Context();
    desktop::TDev_prop_Dlg& station = form.StationDialog();
    station.BeforeShowOptionsUstr(ctx, 1, ctx.Channels.Prmn104[0]);
    ExpectFits(station, "station dialog");
    ExpectColumnsFit(station.findChild<QTableWidget*>("StringGrid_TS"), {1, 2, 3, 5, 6, 7}, "station points");
    ExpectColumnsFit(station.findChild<QTableWidget*>("StringGrid_TIT"), {1, 2, 3}, "station values");
    station.hide();
    desktop::TFormParam104& link = station.LinkDialog();
    link.OutParamForm(ctx.Channels.Prmn104[0]);
    ExpectFits(link, "link parameters");
    link.hide();
    desktop::TOPC_UA_Dlg opcUa;
    ExpectFits(opcUa, "OPC UA settings");
    ExpectFits(form.UploadDialog(), "transfer");
    form.UploadDialog().hide();
    ExpectFits(form.AboutBox(), "about");
    form.AboutBox().hide();
    form.close();
}

} // namespace
} // namespace gw::test
