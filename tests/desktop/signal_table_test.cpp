// The station dialog's signal tables: filters, row commands, duplicates,
// CSV files, and the way rows become signals.

#include "desktop_fixture.h"

#include "core/cp1251.h"
#include "core/prmn.h"
#include "desktop/signal_table.h"
#include "service/cfgfile.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace gw::test {
namespace {

using desktop::TSignalKind;
using desktop::TSignalTable;

TSignalTable Table(TSignalKind kind, const std::vector<std::vector<std::string>>& data)
{
    TSignalTable t(kind);
    for (const auto& cells : data) {
        desktop::AddRowAtEnd(t);
        for (std::size_t c = 0; c < cells.size(); ++c)
            t.rows.back()[c + 1] = cells[c];
    }
    return t;
}

TEST(SignalTable, NumberFilters)
{
    struct Case {
        TSignalKind kind;
        int column;
        const char* typed;
        const char* kept;
    };
    const Case cases[] = {
        {TSignalKind::TS, 2, "12a", "12"},    {TSignalKind::TS, 3, "1.", "1"},    {TSignalKind::TS, 5, "", ""},
        {TSignalKind::TS, 6, "-x", "-x"},     {TSignalKind::TS, 1, "a,b", "a,b"}, {TSignalKind::TIT, 5, "1.5", "1.5"},
        {TSignalKind::TIT, 8, "1.5e", "1.5"}, {TSignalKind::TIT, 2, "7", "7"},    {TSignalKind::TIT, 9, "x", "x"},
        {TSignalKind::TIT, 6, "1,", "1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(desktop::FilterCellText(c.kind, c.column, c.typed), c.kept) << c.typed << " in " << c.column;
}

TEST(SignalTable, RowCommandsMoveWholeRows)
{
    TSignalTable t = Table(TSignalKind::TIT, {{"a", "1", "1", "", "", "", "", "", "Да"},
                                              {"b", "1", "2", "", "", "", "", "", "Нет"},
                                              {"c", "1", "3", "", "", "", "", "", "Да"}});
    desktop::DeleteRowAt(t, 1);
    ASSERT_EQ(t.DataRows(), 2);
    EXPECT_EQ(t.rows[1][1], "b");
    EXPECT_EQ(t.rows[1][9], "Нет"); // the sign moved with its row
    desktop::InsertRowAt(t, 2);
    EXPECT_EQ(t.rows[2][1], "");
    EXPECT_EQ(t.rows[3][1], "c");
    TSignalTable one = Table(TSignalKind::TS, {{"x"}});
    desktop::DeleteRowAt(one, 1);
    EXPECT_EQ(one.DataRows(), 0);
    desktop::AddRowAtEnd(one);
    EXPECT_EQ(one.DataRows(), 1);
}

TEST(SignalTable, DuplicateAddressesCompareTexts)
{
    EXPECT_EQ(desktop::FindDuplicateAddress(Table(TSignalKind::TS, {{"a", "1", "100"}, {"b", "1", "100"}})),
              "Повтор адресов у a 1,100 и b 1,100");
    EXPECT_FALSE(desktop::FindDuplicateAddress(Table(TSignalKind::TS, {{"a", "", ""}, {"b", "", ""}})));
    EXPECT_FALSE(desktop::FindDuplicateAddress(Table(TSignalKind::TS, {{"a", "01", "100"}, {"b", "1", "100"}})));
}

TEST(SignalTable, ExtractCsvField)
{
    struct Case {
        const char* line;
        int n;
        const char* field;
    };
    const Case cases[] = {{"abcd;1;2", 1, "abcd"}, {"abcd;1;2", 3, "2"}, {"abcd;1;2", 4, "0"}, {"  a; b ;c", 2, "b "},
                          {"a;1;", 3, ""},         {"a;1;", 4, "0"},     {"", 1, ""}};
    for (const Case& c : cases)
        EXPECT_EQ(desktop::ExtractCsvField(c.line, c.n), c.field) << c.line << " #" << c.n;
}

TEST(SignalTable, CsvRoundTripInBothEncodings)
{
    const TSignalTable t = Table(TSignalKind::TIT, {{"Ток Т1", "1", "302", "", "0", "1000", "0", "1000.5", "Нет"}});
    const std::string cp1251 = desktop::ExportCsv(t);
    EXPECT_EQ(cp1251.substr(0, 4), Utf8ToCp1251("Имя;"));
    EXPECT_NE(cp1251.find(Utf8ToCp1251("Ток Т1;1;302;;0;1000;0;1000.5;Нет;\r\n")), std::string::npos);
    TSignalTable back(TSignalKind::TIT);
    EXPECT_EQ(desktop::ImportCsv(back, cp1251), std::nullopt);
    EXPECT_EQ(back.rows, t.rows);
    // The same file saved by an editor as UTF-8 with a byte-order mark.
    TSignalTable utf8(TSignalKind::TIT);
    EXPECT_EQ(desktop::ImportCsv(utf8, "\xEF\xBB\xBF" + Cp1251ToUtf8(cp1251)), std::nullopt);
    EXPECT_EQ(utf8.rows, t.rows);
}

TEST(SignalTable, CsvImportEdges)
{
    TSignalTable t(TSignalKind::TS);
    EXPECT_EQ(desktop::ImportCsv(t, "header\r\nabcd;1;2;;0;0;;;\r\na;1;2\r\n"), std::nullopt);
    ASSERT_EQ(t.DataRows(), 2);
    EXPECT_EQ(t.rows[1], (std::vector<std::string>{"", "abcd", "1", "2", "", "0", "0", "", ""}));
    EXPECT_EQ(t.rows[2][1], ""); // five characters: left empty
    EXPECT_EQ(desktop::ImportCsv(t, "only a header"), std::nullopt);
    EXPECT_EQ(t.DataRows(), 0);
    // A ';' in a name splits it on the way back: the file is refused.
    TSignalTable named = Table(TSignalKind::TS, {{"a;b", "1", "1"}});
    TSignalTable back(TSignalKind::TS);
    const auto refused = desktop::ImportCsv(back, desktop::ExportCsv(named));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->rfind("Таблица не загружена: строку 2 файла прочитать нельзя", 0), 0u) << *refused;
    EXPECT_EQ(back.DataRows(), 0);
    EXPECT_EQ(desktop::CsvFileName("/tmp/x"), "/tmp/x.csv");
    EXPECT_EQ(desktop::CsvFileName("/tmp/x.csv.bak"), "/tmp/x.csv.bak");
    EXPECT_EQ(desktop::CsvFileName("/tmp/x.CSV"), "/tmp/x.CSV.csv");
}

// Names as other programs write them: quoted, with control characters, or
// (in a UTF-8 file) with a character Windows-1251 lacks. The station file
// holds none of these: an imported table that kept them could not be saved.
TEST(SignalTable, CsvImportGivesNamesTheStationFileCanHold)
{
    const std::string csv =
        std::string("Имя;Адрес;\r\nПС \"Северная\" Q1;1;100;;;;;\r\n\"Ввод 2\";1;101;;;;;\r\nТаб\tи\x7F")
        + "конец;1;102;;;;;\r\nНоль" + '\0' + "байт;1;103;;;;;\r\nПлощадь м²;1;104;;;;;\r\n";
    const std::vector<std::string> names = {"ПС Северная Q1", "Ввод 2", "Табиконец", "Нольбайт", "Площадь м?"};
    for (const bool utf8 : {false, true}) {
        SCOPED_TRACE(utf8 ? "UTF-8" : "Windows-1251");
        TSignalTable t(TSignalKind::TS);
        ASSERT_EQ(desktop::ImportCsv(t, utf8 ? "\xEF\xBB\xBF" + csv : Utf8ToCp1251(csv)), std::nullopt);
        auto ctx = std::make_unique<TServiceContext>();
        ctx->Stations.KpTable.resize(2);
        ctx->Stations.KpCount = 1;
        ctx->Stations.KpTable[1].NameKP = "КП 1";
        ctx->Stations.KpTable[1].IP = "10.0.0.1";
        ctx->Channels.Prmn104 = MakePrmn104();
        SetPrmnDefault(ctx->Channels.Prmn104[0], PrmnKind104, "10.0.0.1", 2404);
        desktop::StoreSignalTable(t, ctx->Stations.KpTable[1]);

        TempDir temp;
        TOpcUaSettings ua;
        ASSERT_NO_THROW(WriteIec104Cfg(*ctx, ua, temp.path(), Iec104CfgFileName));
        auto back = std::make_unique<TServiceContext>();
        ASSERT_TRUE(ReadIec104Cfg(*back, ua, temp.path(), Iec104CfgFileName, RefuseComplaints()));
        ASSERT_EQ(back->Stations.KpCount, 1);
        std::vector<std::string> read;
        for (int i = 1; i <= back->Stations.KpTable[1].Kol_TS; ++i)
            read.push_back(back->Stations.KpTable[1].TS_arr[static_cast<std::size_t>(i)].NameTS);
        EXPECT_EQ(read, names);
    }
}

TEST(SignalTable, RowsBecomeSignals)
{
    T_KP kp;
    kp.NameKP = "КП";
    const TSignalTable ts =
        Table(TSignalKind::TS, {{"a", "1", "100", "", "1", "5100", desktop::CommandTypeItems()[3], "Integer"},
                                {"", "1", "101"},
                                {"line\nbreak", "1", "102"},
                                {"b", "x", "103", "", "0", "0", "whatever", "0"}});
    desktop::StoreSignalTable(ts, kp);
    ASSERT_EQ(kp.Kol_TS, 2);
    EXPECT_EQ(kp.TS_arr[1].Type_TU, 3);
    EXPECT_EQ(kp.TS_arr[1].Type_Var, 1);
    EXPECT_EQ(kp.TS_arr[2].AdrASDU, 0);
    EXPECT_EQ(kp.TS_arr[2].Type_TU, 0);
    // Back into a table: no command type without both command addresses.
    TSignalTable shown(TSignalKind::TS);
    desktop::FillSignalTable(shown, kp);
    EXPECT_EQ(shown.rows[1][7], desktop::CommandTypeItems()[3]);
    EXPECT_EQ(shown.rows[2][7], "");
    EXPECT_EQ(shown.rows[2][8], "Boolean");
}

} // namespace
} // namespace gw::test
