// The value grids as text tables: their shape, and the formats of the cells.

#include "desktop_fixture.h"

#include "desktop/desktop_service.h"
#include "desktop/main_window.h"
#include "desktop/opcda_server.h"
#include "desktop/value_grids.h"
#include "service/tables.h"
#include "testkit/temp_dir.h"

#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace gw::test {
namespace {

TEST(ValueGrids, ShapeFollowsTheStationsSignals)
{
    TempDir temp;
    desktop::TDesktopService service(temp.path(), true);
    TServiceContext& ctx = service.Context();
    ctx.Stations.Reset();
    T_KP& kp = ctx.Stations.KpTable.emplace_back();
    ctx.Stations.KpCount = 1;

    auto grids = desktop::StationGrids(ctx, 1);
    EXPECT_EQ(grids.ts.size(), 3u); // headers, connection, one empty row
    EXPECT_EQ(grids.ti.size(), 2u); // headers, one empty row
    EXPECT_EQ(grids.ts[1][1], "Соединение:");
    EXPECT_EQ(grids.ts[0][5], "Время");
    EXPECT_EQ(grids.ti[0][5], "Значение (инж.)");

    kp.Kol_TS = 2;
    kp.TS_arr.push_back(Ts("a", 1, 100));
    kp.TS_arr.push_back(Ts("b", 1, 101));
    kp.Kol_TI = 1;
    kp.TI_arr.push_back(Ti("c", 7, 300));
    grids = desktop::StationGrids(ctx, 1);
    ASSERT_EQ(grids.ts.size(), 5u);
    EXPECT_EQ(grids.ts[3], (std::vector<std::string>{"2", "b", "1,101", "", "", ""}));
    ASSERT_EQ(grids.ti.size(), 3u);
    EXPECT_EQ(grids.ti[1][2], "7,300");

    // A selection beyond the table (after a delete or a download): headers only.
    EXPECT_EQ(desktop::StationGrids(ctx, 2).ts.size(), 1u);
    desktop::RefreshValueGrids(ctx, 2, grids); // stopped and out of range: nothing read
}

TEST(ValueGrids, CellFormats)
{
    struct Case {
        double e;
        const char* text;
    };
    for (const Case c : {Case{0, "       0.000"}, Case{-12.3456, "     -12.346"}, Case{123456789.5, "123456789.500"}})
        EXPECT_EQ(desktop::EngText(c.e), c.text) << c.e;
    // 10.12.2026 13:45:30.250 as days since 1899-12-30.
    const TDateTime stamp = 46366.0 + (13 * 3600 + 45 * 60 + 30.25) / 86400.0;
    EXPECT_EQ(desktop::GridTime(stamp, 0), "10.12.2026 13:45:30.250");
    EXPECT_EQ(desktop::GridTime(stamp, 3), "10.12.2026 16:45:30.250");
    EXPECT_EQ(desktop::GridTime(stamp, 11), "11.12.2026 00:45:30.250");
    EXPECT_EQ(desktop::GridTime(0, 0), "");
    EXPECT_EQ(desktop::GridTime(1.0, 0), "");
}

// The names column of a window grid, row 0 (the headers) included.
std::vector<QString> Names(const QTableWidget* grid)
{
    std::vector<QString> names;
    for (int r = 0; r < grid->rowCount(); ++r)
        names.push_back(grid->item(r, 1) ? grid->item(r, 1)->text() : QString());
    return names;
}

TEST(WindowGrids, FollowTheStationListAfterADelete)
{
    TempDir temp;
    temp.Write("iec104.cfg", ExampleStations({2404, 2405, 2406}));
    desktop::TDesktopService service(temp.path(), true);
    desktop::TNullOpcDaServer opcDa;
    RecordingPrompts prompts;
    desktop::TOPCForm form(service, opcDa, prompts, true);
    form.FormCreate();
    if (form.PollingOn())
        form.Button1Click();
    auto* list = form.findChild<QListWidget*>("ListBox");
    auto* ts = form.findChild<QTableWidget*>("StringGrd_TS");
    auto* ti = form.findChild<QTableWidget*>("StringGrd_TI");
    const auto shown = [&](int k) {
        const desktop::TValueGrids grids = desktop::StationGrids(service.Context(), k);
        std::vector<QString> tsNames, tiNames;
        for (const auto& row : grids.ts)
            tsNames.push_back(QString::fromStdString(row[1]));
        for (const auto& row : grids.ti)
            tiNames.push_back(QString::fromStdString(row[1]));
        return Names(ts) == tsNames && Names(ti) == tiNames;
    };

    list->setCurrentRow(1);
    ASSERT_TRUE(shown(2));
    QTest::mouseClick(form.findChild<QPushButton*>("BitBtn3"), Qt::LeftButton);
    ASSERT_EQ(service.Context().Stations.KpCount, 2);
    // Station 2 is gone from the list: no entry is selected, and the grids hold their headers alone.
    EXPECT_EQ(list->currentRow(), -1);
    EXPECT_TRUE(shown(0));
    EXPECT_EQ(ts->rowCount(), 1);
    EXPECT_EQ(ti->rowCount(), 1);
    form.OutStingGrigTsTit();
    EXPECT_TRUE(shown(0));
    // The last station took its place, and shows when chosen there.
    list->setCurrentRow(1);
    EXPECT_TRUE(shown(2));
    EXPECT_EQ(list->currentItem()->text().toStdString(), service.Context().Stations.KpTable[2].NameKP);
}

} // namespace
} // namespace gw::test
