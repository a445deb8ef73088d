// Deleting, copying, adding and changing stations, saved at once and read
// back from the files.

#include "desktop_fixture.h"

#include "core/prmn.h"
#include "desktop/desktop_service.h"
#include "desktop/station_commands.h"
#include "desktop/station_edit.h"
#include "desktop/texts.h"
#include "service/cfgfile.h"
#include "service/tables.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace gw::test {
namespace {

class StationCommands : public ::testing::Test {
protected:
    void SetUp() override { service.Context().Stations.Reset(); }

    void AddStations(int n)
    {
        TServiceContext& ctx = service.Context();
        for (int i = 1; i <= n; ++i) {
            T_KP& kp = ctx.Stations.KpTable.emplace_back();
            kp.NameKP = "КП " + std::to_string(i);
            kp.IP = "10.0.0." + std::to_string(i);
            kp.Port = 2400 + i;
            kp.ASDU_Adr = i;
            SetPrmnDefault(ctx.Channels.Prmn104[static_cast<std::size_t>(i - 1)], PrmnKind104, kp.IP, kp.Port);
            ctx.Channels.Prmn104[static_cast<std::size_t>(i - 1)].CommonAsduAddress = i;
        }
        ctx.Stations.KpCount = n;
    }
    std::vector<std::string> Names(const TServiceContext& ctx) const
    {
        std::vector<std::string> names;
        for (int i = 1; i <= ctx.Stations.KpCount; ++i)
            names.push_back(ctx.Stations.KpTable[static_cast<std::size_t>(i)].NameKP);
        return names;
    }
    // What a fresh reading of the saved file gives.
    std::vector<std::string> SavedNames()
    {
        desktop::TDesktopService fresh(temp.path(), true);
        TOpcUaSettings ua;
        ReadIec104Cfg(fresh.Context(), ua, temp.path(), Iec104CfgFileName, {});
        return Names(fresh.Context());
    }

    TempDir temp;
    desktop::TDesktopService service{temp.path(), true};
    RecordingPrompts prompts;
    desktop::TRandom fixed = [](int lo, int) { return lo + 7; };
};

TEST_F(StationCommands, DeletingTheSecondOfFiveMovesTheLastIntoItsPlace)
{
    AddStations(5);
    ASSERT_TRUE(desktop::DeleteStation(service, prompts, 2));
    const std::vector<std::string> expected{"КП 1", "КП 5", "КП 3", "КП 4"};
    EXPECT_EQ(Names(service.Context()), expected);
    EXPECT_EQ(service.Context().Channels.Prmn104[1].CommonAsduAddress, 5);
    EXPECT_EQ(prompts.warnings, std::vector<std::string>{desktop::texts::ConfirmDelete});
    EXPECT_EQ(SavedNames(), expected);
}

TEST_F(StationCommands, DeleteAnsweredNoOrWithoutSelectionChangesNothing)
{
    AddStations(3);
    prompts.answerYes = false;
    EXPECT_FALSE(desktop::DeleteStation(service, prompts, 2));
    prompts.answerYes = true;
    EXPECT_FALSE(desktop::DeleteStation(service, prompts, 0));
    EXPECT_EQ(service.Context().Stations.KpCount, 3);
    EXPECT_FALSE(std::filesystem::exists(temp.File("iec104.cfg")));
}

TEST_F(StationCommands, CopyKeepsTheReserveAndSignalsAndEmptiesTheAddress)
{
    AddStations(2);
    T_KP& from = service.Context().Stations.KpTable[1];
    from.IP2 = "10.1.1.1";
    from.Port2 = 2500;
    from.Interval_CLOCK_SYNC_103 = 17;
    from.Kol_TS = 1;
    from.TS_arr.push_back(Ts("Выключатель", 1, 100));
    ASSERT_TRUE(desktop::CopyStation(service, prompts, 1, fixed));
    const T_KP& copy = service.Context().Stations.KpTable[3];
    EXPECT_EQ(copy.NameKP, "КП 1_copy_7");
    EXPECT_EQ(copy.IP, "");
    EXPECT_EQ(copy.Port, 8); // 1..64999: never 0
    EXPECT_EQ(copy.IP2, "10.1.1.1");
    EXPECT_EQ(copy.Port2, 2500);
    EXPECT_EQ(copy.Interval_CLOCK_SYNC_103, 17);
    ASSERT_EQ(copy.Kol_TS, 1);
    EXPECT_EQ(copy.TS_arr[1].NameTS, "Выключатель");
    EXPECT_EQ(service.Context().Channels.Prmn104[2].CommonAsduAddress, 1);
    EXPECT_EQ(SavedNames(), (std::vector<std::string>{"КП 1", "КП 2", "КП 1_copy_7"}));
}

TEST_F(StationCommands, CopyIsRefusedWhilePollingForNoStationAndAtTheReadersLimit)
{
    AddStations(3);
    service.Context().Switches.PollingOn.Set(true);
    EXPECT_FALSE(desktop::CopyStation(service, prompts, 1, fixed));
    service.Context().Switches.PollingOn.Set(false);
    EXPECT_FALSE(desktop::CopyStation(service, prompts, 4, fixed));
    EXPECT_TRUE(prompts.infos.empty());
    // The reader keeps 980 stations: a 981st would be saved and then lost.
    service.Context().Stations.Reset();
    AddStations(MaxKpCount);
    EXPECT_FALSE(desktop::CopyStation(service, prompts, 1, fixed));
    EXPECT_EQ(prompts.infos, std::vector<std::string>{"Много КП 980 "});
    EXPECT_EQ(service.Context().Stations.KpCount, MaxKpCount);
}

// A dialog that answers OK with the station it was opened on, changed by `edit`.
class EditingDialog final : public desktop::TStationDialogPort {
public:
    bool Edit(const TServiceContext& ctx, int n, desktop::TStationEdit& result) override
    {
        if (const T_KP* kp = ctx.Stations.Kp(n))
            result.row = *kp;
        edit(result.row);
        return true;
    }
    std::function<void(T_KP&)> edit = [](T_KP&) {};
};

TEST_F(StationCommands, AnEditTheFileCannotHoldLeavesTheTablesAsSavedAndLaterEditsSave)
{
    struct Case {
        const char* what;
        std::function<void(T_KP&)> edit;
    };
    const Case cases[] = {
        {"blank at the end of the name", [](T_KP& kp) { kp.NameKP += " "; }},
        {"quote in the name", [](T_KP& kp) { kp.NameKP = "КП \"1\""; }},
        {"comma in the address", [](T_KP& kp) { kp.IP = "10.0.0.1,2"; }},
        {"common address of a point beyond two bytes",
         [](T_KP& kp) {
             kp.TS_arr.push_back(Ts("Точка", 70000, 100));
             kp.Kol_TS = 1;
         }},
    };
    for (const Case& c : cases) {
        service.Context().Stations.Reset();
        AddStations(2);
        desktop::SaveStations(service);
        const std::string saved = temp.Read("iec104.cfg");
        EditingDialog dialog;
        dialog.edit = c.edit;
        // The writer's refusal reaches the exception log as before.
        EXPECT_THROW(desktop::ChangeStation(service, dialog, 1), std::exception) << c.what;
        EXPECT_THROW(desktop::AddStation(service, prompts, dialog), std::exception) << c.what;
        const TServiceContext& ctx = service.Context();
        EXPECT_EQ(Names(ctx), (std::vector<std::string>{"КП 1", "КП 2"})) << c.what;
        EXPECT_EQ(ctx.Stations.KpTable[1].IP, "10.0.0.1") << c.what;
        EXPECT_EQ(ctx.Stations.KpTable[1].Kol_TS, 0) << c.what;
        EXPECT_EQ(temp.Read("iec104.cfg"), saved) << c.what;

        // The next edit, of another station, is saved: nothing refused stayed behind.
        dialog.edit = [](T_KP& kp) { kp.NameKP = "КП 2 новый"; };
        ASSERT_TRUE(desktop::ChangeStation(service, dialog, 2)) << c.what;
        EXPECT_EQ(SavedNames(), (std::vector<std::string>{"КП 1", "КП 2 новый"})) << c.what;
        ASSERT_TRUE(desktop::DeleteStation(service, prompts, 1)) << c.what;
        EXPECT_EQ(SavedNames(), std::vector<std::string>{"КП 2 новый"}) << c.what;
    }
}

} // namespace
} // namespace gw::test
