// Lines of "iec104.cfg" that the reader skips (a station line with a typo
// and all its lines, a point whose address is no number): the window says so
// at start, and a station edited and saved through the window keeps them.

#include "desktop_fixture.h"

#include "core/cp1251.h"
#include "desktop/desktop_service.h"
#include "desktop/main_window.h"
#include "desktop/opcda_server.h"
#include "desktop/station_dialog.h"
#include "desktop/texts.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace gw::test {
namespace {

void ReplaceOnce(std::string& text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    ASSERT_EQ(text.find(from, at + 1), std::string::npos) << from;
    text.replace(at, from.size(), to);
}

TEST(SkippedLines, TheWindowTellsOfThemAndSavingAStationKeepsThemByteForByte)
{
    TempDir temp;
    // Three stations as the program writes them, then spoilt by hand.
    {
        temp.Write("iec104.cfg", ExampleStations({2404, 2405, 2406}));
        desktop::TDesktopService writer(temp.path(), true);
        writer.Init();
        // The change names the link address after the common address.
        writer.Context().Channels.Prmn104[0].LinkAddress1 = writer.Context().Stations.KpTable[1].ASDU_Adr;
        writer.SaveConfig();
    }
    std::string cfg = temp.Read("iec104.cfg");
    ReplaceOnce(cfg, "\r\nKP,3,1,", "\r\nKP,3a,1,");
    ReplaceOnce(cfg, ",8272,1,101,", ",8272,1,1x2,");
    temp.Write("iec104.cfg", cfg);
    const std::string text = Cp1251ToUtf8(cfg);
    const std::size_t point = text.find(",8272,1,1x2,");
    const std::size_t pointStart = text.rfind("\r\n", point) + 2;
    const std::string pointLine = text.substr(pointStart, text.find("\r\n", point) - pointStart);
    const auto pointLineNo = std::count(text.begin(), text.begin() + static_cast<long>(pointStart), '\n') + 1;
    // The refused station's lines that hold data: all of its block but the comment and OPC UA ones.
    std::size_t refused = 0;
    for (std::size_t at = text.find("\r\nKP,3a,") + 2; at < text.size(); at = text.find('\n', at) + 1)
        if (text[at] != ';' && text.compare(at, 7, "OPC_UA_") != 0)
            ++refused;

    desktop::TDesktopService service(temp.path(), true);
    desktop::TNullOpcDaServer opcDa;
    RecordingPrompts prompts;
    desktop::TOPCForm form(service, opcDa, prompts, true);
    form.FormCreate();
    ASSERT_EQ(service.Context().Stations.KpCount, 2);
    EXPECT_EQ(prompts.infos.size(), 1u);
    prompts.infos.resize(1);
    EXPECT_EQ(prompts.infos[0], desktop::texts::SkippedLinesHead + std::to_string(refused + 1)
                                    + desktop::texts::SkippedLinesFirst + std::to_string(pointLineNo) + ": " + pointLine
                                    + desktop::texts::SkippedLinesTail);
    const std::string log = Cp1251ToUtf8(temp.Read("log_iec104.txt"));
    EXPECT_NE(log.find("1x2"), std::string::npos) << log;
    EXPECT_NE(log.find("3a"), std::string::npos) << log;

    // Station 1 opened and confirmed unchanged, as a user does.
    if (form.PollingOn())
        form.Button1Click();
    auto* list = form.findChild<QListWidget*>("ListBox");
    list->setCurrentRow(0);
    const auto ok = WhenModal<desktop::TDev_prop_Dlg>([](desktop::TDev_prop_Dlg& dialog) {
        QTest::mouseClick(dialog.findChild<QPushButton*>("OKBtn"), Qt::LeftButton);
    });
    // The top panel's "Изменить" (the link dialog inside has a button of that name too).
    QTest::mouseClick(form.findChild<QWidget*>("paClients")->findChild<QPushButton*>("BitBtn2"), Qt::LeftButton);
    EXPECT_EQ(form.StationDialog().result(), QDialog::Accepted);
    EXPECT_EQ(temp.Read("iec104.cfg"), cfg);
}

} // namespace
} // namespace gw::test
