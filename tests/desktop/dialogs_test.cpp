// The dialogs' fields: clamps, validators, the link parameter conversions,
// and the station dialog driven through the station commands.

#include "desktop_fixture.h"

#include "core/cp1251.h"
#include "desktop/clamped_spin_box.h"
#include "desktop/desktop_service.h"
#include "desktop/link_param_dialog.h"
#include "desktop/opcua_dialog.h"
#include "desktop/station_commands.h"
#include "desktop/station_dialog.h"
#include "desktop/texts.h"
#include "service/cfgfile.h"
#include "service/cnfini.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>

namespace gw::test {
namespace {

using desktop::TClampedSpinBox;

// Types into a field as a user does and leaves it.
void Type(QWidget* field, const QString& text)
{
    auto* edit = field->findChild<QLineEdit*>();
    if (auto* line = qobject_cast<QLineEdit*>(field))
        edit = line;
    edit->selectAll();
    // QTest types Latin keys only; other letters go in as an input method would.
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80)
            QTest::keyClick(edit, ch.toLatin1());
        else
            edit->insert(ch);
    }
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(field))
        spin->interpretText();
}

TEST(Fields, ClampedSpinBoxTakesAnyNumberAndClampsIt)
{
    struct Case {
        int lo, hi;
        const char* typed;
        int value;
    };
    const Case cases[] = {{1, 65532, "70000", 65532},  {1, 65532, "0", 1},     {1, 65532, "abc", 1},
                          {80, 65535, "70000", 65535}, {0, 65000, "123", 123}, {INT_MIN, INT_MAX, "-5", -5}};
    for (const Case& c : cases) {
        TClampedSpinBox box(c.lo, c.hi);
        Type(&box, c.typed);
        EXPECT_EQ(desktop::ClampFieldText(box.text(), c.lo, c.hi), c.value) << c.typed;
        EXPECT_EQ(box.value(), c.value) << c.typed;
    }
}

TEST(Fields, OpcUaDialogDefaultsPortAndRefusesSeparators)
{
    desktop::TOPC_UA_Dlg dialog;
    TOpcUaSettings ua;
    ua.OPC_UA_Port = 0;
    dialog.Fill(ua);
    EXPECT_EQ(ua.OPC_UA_Port, 16670); // in the settings already, whatever the answer
    Type(dialog.findChild<QWidget*>("SE_OPC_UA_Port"), "65535");
    Type(dialog.findChild<QWidget*>("E_OPC_UA_username"), "op,er\"ator");
    Type(dialog.findChild<QWidget*>("E_OPC_UA_password"), "pw");
    dialog.findChild<QCheckBox*>("CB_OPC_UA_by_pwd")->setChecked(true);
    dialog.Store(ua);
    EXPECT_EQ(ua.OPC_UA_Port, 65532);
    EXPECT_EQ(ua.OPC_UA_username, "operator");
    EXPECT_EQ(ua.OPC_UA_password, "pw");
    EXPECT_TRUE(ua.OPC_UA_by_pwd);
    EXPECT_EQ(dialog.findChild<QLineEdit*>("E_OPC_UA_password")->echoMode(), QLineEdit::Password);
}

TEST(Fields, OpcUaLoginAndPasswordAreSavedAsTheFileGivesThemBack)
{
    TempDir temp;
    temp.Write("iec104.cfg", ExampleStations({2404}));
    desktop::TDesktopService service(temp.path(), true);
    service.Init();
    desktop::TOPC_UA_Dlg dialog;
    dialog.Fill(service.OpcUa());
    Type(dialog.findChild<QWidget*>("E_OPC_UA_username"), " оператор ");
    Type(dialog.findChild<QWidget*>("E_OPC_UA_password"), "pw Ω1 ");
    dialog.Store(service.OpcUa());
    ASSERT_NO_THROW(service.SaveConfig());
    desktop::TDesktopService fresh(temp.path(), true);
    fresh.Init();
    EXPECT_EQ(fresh.OpcUa().OPC_UA_username, "оператор");
    EXPECT_EQ(fresh.OpcUa().OPC_UA_password, "pw 1"); // no letter Windows-1251 lacks
}

TEST(LinkParams, SecondsFieldSizesDefaultsAndUnfieldedValues)
{
    TPrmn r{};
    SetPrmnDefault(r, PrmnKind104, "10.0.0.1", 2405);
    r.t1 = 15500;
    r.sz_InfObjAddress = 2;
    r.sz_LinkAddress = 1;
    r.LinkAddress1 = 7;
    r.PollingCycle = 9;
    r.ClockSinhronizationCheck = 1;
    desktop::TFormParam104 dialog;
    dialog.OutParamForm(r);
    EXPECT_EQ(dialog.findChild<QLineEdit*>("Edit_t1")->text(), "15");
    ASSERT_TRUE(dialog.BitBtn1Click());
    const TPrmn& out = dialog.Result();
    EXPECT_EQ(out.t1, 15000);
    EXPECT_EQ(out.sz_InfObjAddress, 3);
    EXPECT_EQ(out.sz_LinkAddress, 0);
    EXPECT_EQ(out.sz_ASDUAddress, 2);
    EXPECT_EQ(out.sz_COT, 2);
    EXPECT_EQ(out.LinkAddress1, 0);
    EXPECT_EQ(out.PollingCycle, 0);
    EXPECT_EQ(out.ClockSinhronizationCheck, 0);
    EXPECT_EQ(out.Port, 2405);

    dialog.ButtonDefaultClick();
    const desktop::TLinkFields d = dialog.Fields();
    EXPECT_EQ(d.name, "Client104");
    EXPECT_EQ(d.host, "127.0.0.1");
    EXPECT_EQ(d.port, "2404");
    EXPECT_EQ(d.commonAddress, "3");

    // Letters cannot be typed; an emptied field keeps the dialog open and
    // the last confirmed record whole.
    Type(dialog.findChild<QWidget*>("Edit_k"), "1x2");
    EXPECT_EQ(dialog.findChild<QLineEdit*>("Edit_k")->text(), "12");
    dialog.findChild<QLineEdit*>("Edit_t2")->clear();
    EXPECT_FALSE(dialog.BitBtn1Click());
    EXPECT_EQ(dialog.Result().Port, 2405);
}

TEST(LinkParams, LongNamesAreCutInTheRecordOnly)
{
    desktop::TLinkFields f = desktop::DefaultLinkFields();
    f.name = std::string(40, 'N');
    const auto r = desktop::LinkRecordOf(f);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Name.Text(), std::string(32, 'N'));
}

TEST(LinkParams, ValuesTheFileCannotHoldKeepTheDialogOpen)
{
    struct Case {
        std::string desktop::TLinkFields::*field;
        const char* text;
        const char* refused; // the field that gets the focus, or null when taken
    };
    using F = desktop::TLinkFields;
    const Case cases[] = {
        {&F::k, "32768", "Edit_k"},
        {&F::k, "32767", nullptr},
        {&F::w, "-1", "Edit_w"},
        {&F::t0, "-1", "Edit_t0"},
        {&F::t0, "0", nullptr},
        {&F::retryCount, "-3", "EditRetryCount"},
        {&F::confirmation, "-5000", "EditConfirmationTimeout"},
        {&F::originatorAddress, "256", "EditOriginatorAddress"},
        {&F::originatorAddress, "255", nullptr},
        {&F::receiveBufferLength, "-100", "EditReceiveBufferLength"},
        // The station dialog clamps these two; the clock period is any number.
        {&F::port, "70000", nullptr},
        {&F::commonAddress, "65700", nullptr},
        {&F::clockMinutes, "-30", nullptr},
    };
    for (const Case& c : cases) {
        F f = desktop::DefaultLinkFields();
        f.*c.field = c.text;
        std::string bad;
        const auto r = desktop::LinkRecordOf(f, &bad);
        EXPECT_EQ(r.has_value(), c.refused == nullptr) << c.text;
        EXPECT_EQ(bad, c.refused ? c.refused : "") << c.text;
    }

    desktop::TFormParam104 dialog;
    dialog.ButtonDefaultClick();
    Type(dialog.findChild<QWidget*>("EditOriginatorAddress"), "300");
    EXPECT_FALSE(dialog.BitBtn1Click());
    // The name and the host end up in the station's line: no ',' and no '"'.
    Type(dialog.findChild<QWidget*>("EditHost"), "10.0.0.1,\"2\"");
    Type(dialog.findChild<QWidget*>("EditDevName"), "КП,\"1\"");
    EXPECT_EQ(dialog.Fields().host, "10.0.0.12");
    EXPECT_EQ(dialog.Fields().name, "КП1");
}

// The real dialog, answered without its modal loop.
class DialogAnswer final : public desktop::TStationDialogPort {
public:
    explicit DialogAnswer(desktop::TDev_prop_Dlg& dialog) : dialog_(dialog) {}
    bool Edit(const TServiceContext& ctx, int n, desktop::TStationEdit& edit) override
    {
        dialog_.BeforeShowOptionsUstr(ctx, n, edit.prm);
        if (change)
            change(dialog_);
        edit = dialog_.Read();
        return ok;
    }
    std::function<void(desktop::TDev_prop_Dlg&)> change;
    bool ok = true;

private:
    desktop::TDev_prop_Dlg& dialog_;
};

class StationDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        temp.Write("iec104.cfg", ExampleStations({2404}));
        service.Init();
    }
    template <class W>
    W* Field(const char* name)
    {
        return dialog.findChild<W*>(name);
    }

    TempDir temp;
    desktop::TDesktopService service{temp.path(), true};
    RecordingPrompts prompts;
    desktop::TDev_prop_Dlg dialog{prompts};
    DialogAnswer answer{dialog};
};

TEST_F(StationDialog, ChangeWithoutEditsWritesTheSameConfiguration)
{
    // The change names the link address after the common address; the rest
    // is the writer's form of the file that was read.
    service.Context().Channels.Prmn104[0].LinkAddress1 = service.Context().Stations.KpTable[1].ASDU_Adr;
    service.SaveConfig();
    const std::string before = temp.Read("iec104.cfg");
    ASSERT_TRUE(desktop::ChangeStation(service, answer, 1));
    EXPECT_EQ(temp.Read("iec104.cfg"), before);
}

TEST_F(StationDialog, AddStoresTheFieldsTheGridsAndTheProgramSettings)
{
    answer.change = [&](desktop::TDev_prop_Dlg& d) {
        EXPECT_EQ(Field<QLineEdit>("Name_dev_e")->text(), "IEC104_2");
        Type(Field<QWidget>("Name_dev_e"), ",Новая");
        Type(Field<QWidget>("Port_e"), "70000");
        Type(Field<QWidget>("ASDU_Adr"), "65700");
        Type(Field<QWidget>("SE_Port_WebServ"), "8080");
        Field<QCheckBox>("CB_UseWebServer")->setChecked(true);
        auto* grid = Field<QTableWidget>("StringGrid_TS");
        grid->item(1, 1)->setText("Точка \"А\"");
        grid->item(1, 2)->setText("5z");
        grid->item(1, 3)->setText("100");
        static_cast<void>(d);
    };
    ASSERT_TRUE(desktop::AddStation(service, prompts, answer));
    const TServiceContext& ctx = service.Context();
    ASSERT_EQ(ctx.Stations.KpCount, 2);
    const T_KP& kp = ctx.Stations.KpTable[2];
    EXPECT_EQ(kp.NameKP, "Новая"); // ',' refused by the field
    EXPECT_EQ(kp.Port, 65535);
    EXPECT_EQ(kp.ASDU_Adr, 65535);
    ASSERT_EQ(kp.Kol_TS, 1);
    EXPECT_EQ(kp.TS_arr[1].NameTS, "Точка А"); // '"' refused in names
    EXPECT_EQ(kp.TS_arr[1].AdrASDU, 5);
    EXPECT_EQ(ctx.Channels.Prmn104[1].Port, 65535);
    EXPECT_EQ(ctx.Channels.Prmn104[1].prWork1, 1);
    EXPECT_EQ(ctx.Switches.Port_WebServ, 8080);
    TCnfIni cnf;
    ReadCnfIni(temp.path(), cnf);
    EXPECT_TRUE(cnf.UseWebServer);
    EXPECT_EQ(cnf.Port_WebServ, 8080);
    // Read back from the file as the next start will.
    desktop::TDesktopService fresh(temp.path(), true);
    fresh.Init();
    ASSERT_EQ(fresh.Context().Stations.KpCount, 2);
    EXPECT_EQ(fresh.Context().Stations.KpTable[2].TS_arr[1].NameTS, "Точка А");
}

TEST_F(StationDialog, NamesAndAddressesAreStoredAsTheFileGivesThemBack)
{
    answer.change = [&](desktop::TDev_prop_Dlg&) {
        Type(Field<QWidget>("Name_dev_e"), " ПС \"Южная\" ");
        Type(Field<QWidget>("IP_e"), " 10.0.0.5 ");
        Type(Field<QWidget>("IP2_e"), "10.0.0.6\" ");
    };
    ASSERT_TRUE(desktop::ChangeStation(service, answer, 1));
    const T_KP& kp = service.Context().Stations.KpTable[1];
    EXPECT_EQ(kp.NameKP, "ПС Южная");
    EXPECT_EQ(kp.IP, "10.0.0.5");
    EXPECT_EQ(kp.IP2, "10.0.0.6");
    desktop::TDesktopService fresh(temp.path(), true);
    fresh.Init();
    ASSERT_EQ(fresh.Context().Stations.KpCount, 1);
    EXPECT_EQ(fresh.Context().Stations.KpTable[1].NameKP, "ПС Южная");
    EXPECT_EQ(fresh.Context().Stations.KpTable[1].IP, "10.0.0.5");
    EXPECT_EQ(fresh.Context().Stations.KpTable[1].IP2, "10.0.0.6");
}

TEST_F(StationDialog, SignalNamesFromACsvFileAreStoredAsTheFileCanHoldThem)
{
    // A spreadsheet's export: quotes in a Windows-1251 name, and a UTF-8
    // file (with its byte-order mark) with a letter Windows-1251 lacks.
    temp.Write("ts.csv", "h;\r\n\xC2\xE2\xEE\xE4 \"\xC0\";1;100;;0;0;;Boolean;\r\n");
    temp.Write("tit.csv", "\xEF\xBB\xBFh;\r\nR, \xCE\xA9\tx;1;300;;0;1;0;1;;\r\n");
    answer.change = [&](desktop::TDev_prop_Dlg& d) {
        d.LoadCsv(desktop::TSignalKind::TS, temp.File("ts.csv"));
        d.LoadCsv(desktop::TSignalKind::TIT, temp.File("tit.csv"));
    };
    ASSERT_TRUE(desktop::ChangeStation(service, answer, 1));
    desktop::TDesktopService fresh(temp.path(), true);
    fresh.Init();
    ASSERT_EQ(fresh.Context().Stations.KpCount, 1);
    const T_KP& kp = fresh.Context().Stations.KpTable[1];
    ASSERT_EQ(kp.Kol_TS, 1);
    EXPECT_EQ(kp.TS_arr[1].NameTS, "Ввод А");
    EXPECT_EQ(kp.TS_arr[1].AdrIOA, 100);
    ASSERT_EQ(kp.Kol_TI, 1);
    EXPECT_EQ(kp.TI_arr[1].NameTI, "R, ?x");
    EXPECT_EQ(kp.TI_arr[1].AdrIOA, 300);
}

TEST_F(StationDialog, AddIsRefusedAtTheLimit)
{
    TServiceContext& ctx = service.Context();
    ctx.Stations.KpTable.resize(MaxKpCount + 1);
    ctx.Stations.KpCount = MaxKpCount;
    EXPECT_FALSE(desktop::AddStation(service, prompts, answer));
    EXPECT_EQ(prompts.infos, std::vector<std::string>{"Эта программа работает только с 980 IP адресами."});
}

TEST_F(StationDialog, CancelAfterLinkParametersChangesNothing)
{
    const TPrmn before = service.Context().Channels.Prmn104[0];
    answer.ok = false;
    answer.change = [&](desktop::TDev_prop_Dlg& d) {
        d.showLinkDialog = [](desktop::TFormParam104& link) {
            link.ButtonDefaultClick();
            return link.BitBtn1Click();
        };
        d.ClientParamModal();
        // The link dialog's OK shows its values in the station dialog.
        EXPECT_EQ(Field<QLineEdit>("Name_dev_e")->text(), "Client104");
        EXPECT_EQ(Field<TClampedSpinBox>("ASDU_Adr")->value(), 3);
    };
    EXPECT_FALSE(desktop::ChangeStation(service, answer, 1));
    EXPECT_EQ(std::memcmp(&service.Context().Channels.Prmn104[0], &before, sizeof before), 0);
    EXPECT_EQ(service.Context().Stations.KpTable[1].ASDU_Adr, 1);
}

TEST_F(StationDialog, DuplicateAddressesWarnButDoNotBlock)
{
    dialog.BeforeShowOptionsUstr(service.Context(), 1, service.Context().Channels.Prmn104[0]);
    auto* grid = Field<QTableWidget>("StringGrid_TS");
    grid->item(2, 2)->setText(grid->item(1, 2)->text());
    grid->item(2, 3)->setText(grid->item(1, 3)->text());
    dialog.OKBtnClick();
    ASSERT_EQ(prompts.infos.size(), 1u);
    EXPECT_EQ(prompts.infos[0].rfind("Повтор адресов у ", 0), 0u);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(StationDialog, AnAddressTheFileCannotHoldKeepsTheDialogOnItsCell)
{
    struct Case {
        desktop::TSignalKind kind;
        int column;
        const char* text;
    };
    using K = desktop::TSignalKind;
    const Case cases[] = {{K::TS, 2, "65536"},    {K::TS, 3, "16777216"}, {K::TS, 5, "-1"},
                          {K::TS, 6, "99999999"}, {K::TIT, 2, "-5"},      {K::TIT, 3, "16777216"}};
    for (const Case& c : cases) {
        dialog.BeforeShowOptionsUstr(service.Context(), 1, service.Context().Channels.Prmn104[0]);
        dialog.setResult(QDialog::Rejected);
        auto* grid = Field<QTableWidget>(c.kind == K::TS ? "StringGrid_TS" : "StringGrid_TIT");
        grid->item(2, c.column)->setText(c.text);
        dialog.OKBtnClick();
        EXPECT_EQ(dialog.result(), QDialog::Rejected) << c.text;
        EXPECT_EQ(grid->currentRow(), 2) << c.text;
        EXPECT_EQ(grid->currentColumn(), c.column) << c.text;
        // Within the range, or in a row without a name (not stored): OK closes.
        grid->item(2, c.column)->setText(c.column == 3 || c.column == 6 ? "16777215" : "65535");
        dialog.OKBtnClick();
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << c.text;
        dialog.setResult(QDialog::Rejected);
        grid->item(2, c.column)->setText(c.text);
        grid->item(2, 1)->setText("");
        dialog.OKBtnClick();
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << c.text;
    }
    EXPECT_TRUE(prompts.infos.empty());
}

TEST_F(StationDialog, CsvSaveAndLoadThroughTheDialog)
{
    dialog.BeforeShowOptionsUstr(service.Context(), 1, service.Context().Channels.Prmn104[0]);
    const desktop::TSignalTable before = dialog.Table(desktop::TSignalKind::TIT);
    dialog.SaveCsv(desktop::TSignalKind::TIT, temp.File("tit"));
    EXPECT_EQ(prompts.infos, std::vector<std::string>{"Сохранено в " + temp.File("tit.csv")});
    dialog.SetTable(desktop::TSignalTable(desktop::TSignalKind::TIT));
    dialog.LoadCsv(desktop::TSignalKind::TIT, temp.File("tit.csv"));
    EXPECT_EQ(dialog.Table(desktop::TSignalKind::TIT).rows, before.rows);
}

// The dialog shown, a table button clicked and the file chosen in the file
// dialog that opens, as a user does.
class CsvFiles : public StationDialog {
protected:
    void SetUp() override
    {
        StationDialog::SetUp();
        dialog.BeforeShowOptionsUstr(service.Context(), 1, service.Context().Channels.Prmn104[0]);
        dialog.show();
    }
    void Choose(const char* button, const std::string& path)
    {
        // The path typed into the name field, and the dialog confirmed.
        const auto choose = WhenModal<QFileDialog>([path](QFileDialog& files) {
            files.findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(path));
            static_cast<QDialog&>(files).accept(); // the file dialog checks the name first
        });
        QTest::mouseClick(Field<QToolButton>(button), Qt::LeftButton);
    }
};

TEST_F(CsvFiles, AnImportWithALineItCannotReadIsRefusedNamingTheLineAndTheTableStays)
{
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(QString::fromStdString(temp.File("picture.png")), "PNG"));
    temp.Write("picture.csv", temp.Read("picture.png"));
    struct Case {
        const char* file;
        std::string text; // "" for the picture
        const char* line; // the refusal names it
        const char* why;
    };
    const Case cases[] = {
        {"few.csv", "h;\r\nВвод 1;1;100;;0;0;;Boolean;\r\nВвод 2;1;101\r\n", "строку 3 ", "полей 3, а нужно 8"},
        {"letters.csv", "h;\r\nВвод 1;1;1x2;;0;0;;Boolean;\r\n", "строку 2 ", "«Адрес IOA»: «1x2» не целое число"},
        {"negative.csv", "h;\r\nВвод 1;-1;100;;0;0;;Boolean;\r\n", "строку 2 ", "«Адрес ASDU»: «-1»"},
        {"picture.csv", "", "строку ", "полей "},
    };
    const desktop::TSignalTable before = dialog.Table(desktop::TSignalKind::TS);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        if (!c.text.empty())
            temp.Write(c.file, Utf8ToCp1251(c.text));
        prompts.infos.clear();
        Choose("LoadCsv_TS", temp.File(c.file));
        ASSERT_EQ(prompts.infos.size(), 1u);
        const std::string& told = prompts.infos[0];
        EXPECT_EQ(told.rfind(std::string("Таблица не загружена: ") + c.line, 0), 0u) << told;
        EXPECT_NE(told.find(c.why), std::string::npos) << told;
        EXPECT_EQ(dialog.Table(desktop::TSignalKind::TS).rows, before.rows);
    }
    // A file it can read replaces the table.
    temp.Write("good.csv", Utf8ToCp1251("h;\r\nВвод 1;1;100;;0;0;;Boolean;\r\n"));
    prompts.infos.clear();
    Choose("LoadCsv_TS", temp.File("good.csv"));
    EXPECT_TRUE(prompts.infos.empty());
    EXPECT_EQ(dialog.Table(desktop::TSignalKind::TS).rows[1][1], "Ввод 1");
}

TEST_F(CsvFiles, AFailedExportSaysWhy)
{
    // The file would replace a folder: it cannot be written, whoever runs the test.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(temp.File("tit.csv"))));
    Choose("SaveCsv_TIT", temp.File("tit"));
    ASSERT_EQ(prompts.infos.size(), 1u);
    const std::string& told = prompts.infos[0];
    EXPECT_EQ(told.rfind(std::string(desktop::texts::CsvNotSaved) + temp.File("tit.csv") + ": ", 0), 0u) << told;
    EXPECT_GT(told.size(), std::string(desktop::texts::CsvNotSaved).size() + temp.File("tit.csv").size() + 2);
}

} // namespace
} // namespace gw::test
