// The configuration transfer as an engineer runs it from the configurator's
// window: the menu item, the transfer dialog shown modally in the window's
// loop, typed into and confirmed by clicks, against a real fieldgate on
// loopback and against a device that accepts and never answers.

#include "desktop_fixture.h"
#include "loopback_peer.h"

#include "daemon/fieldgateservice.h"
#include "desktop/desktop_service.h"
#include "desktop/http_transfer.h"
#include "desktop/main_window.h"
#include "desktop/opcda_server.h"
#include "desktop/station_dialog.h"
#include "desktop/texts.h"
#include "desktop/upload_dialog.h"
#include "service/cnfini.h"
#include "testkit/free_port.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

namespace gw::test {
namespace {

std::string CnfIni(bool web, int port, bool logs, const std::string& pwd)
{
    return "[UseWebServer]\r\nUseWebServer=" + std::string(web ? "1" : "0")
           + "\r\n[Port_WebServ]\r\nPort_WebServ=" + std::to_string(port)
           + "\r\n[Save_Obmen_v_File]\r\nSave_Obmen_v_File=" + (logs ? "1" : "0") + "\r\n[pwd]\r\npwd=" + pwd + "\r\n";
}

// The program's own settings: web server on 8080, exchange logs on.
const std::string OwnCnfIni = CnfIni(true, 8080, true, "own");

// Acts on the modal dialog of type D once the window's loop shows it, as a
// user's typing and clicks arrive through that loop. A dialog the act left
// open ends the test's wait after a minute, as a failure.
template <class D>
void WhenShown(std::function<void(D&)> act, int turnsLeft = 1000)
{
    QTimer::singleShot(0, [act = std::move(act), turnsLeft]() mutable {
        if (auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget())) {
            act(*dialog);
            QTimer::singleShot(60000, dialog, [dialog] {
                if (!dialog->isVisible())
                    return;
                ADD_FAILURE() << D::staticMetaObject.className() << " stayed open";
                dialog->done(QDialog::Rejected);
            });
        } else if (turnsLeft > 0)
            WhenShown<D>(std::move(act), turnsLeft - 1);
        else
            ADD_FAILURE() << "no modal " << D::staticMetaObject.className();
    });
}

template <class W>
W* Child(QWidget& parent, const char* name)
{
    W* w = parent.findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
}

// The button a user sees (a dialog's own dialogs have theirs too).
QPushButton* ButtonOf(QWidget& dialog, const char* caption)
{
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
        if (b->isVisible() && b->text() == QString::fromUtf8(caption))
            return b;
    ADD_FAILURE() << "no button " << caption;
    return nullptr;
}

// Replaces a field's text as a user does: select all, type.
void Retype(QLineEdit* field, const QString& text)
{
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, text);
}

// A user's answer to the transfer dialog: address, port and password typed,
// then OK clicked. Fields that cannot be typed into end the dialog instead,
// so that the test fails rather than waits.
struct TTyped {
    std::string ip, port, password;
};

void AnswerTransferDialog(const TTyped& typed, std::string* caption = nullptr)
{
    WhenShown<desktop::Tdlg_upload_conf>([typed, caption](desktop::Tdlg_upload_conf& dialog) {
        if (caption)
            *caption = dialog.windowTitle().toStdString();
        auto* ip = Child<QLineEdit>(dialog, "Ed_IP_addr1");
        auto* port = Child<QLineEdit>(dialog, "SE_port");
        auto* password = Child<QLineEdit>(dialog, "MaskEdit_pwd_up");
        QPushButton* ok = ButtonOf(dialog, desktop::texts::Ok);
        if (!ip || !port || !password || !ok || !ip->isEnabled() || !port->isEnabled() || !password->isEnabled()
            || !ok->isEnabled()) {
            ADD_FAILURE() << "the transfer dialog cannot be used";
            dialog.done(QDialog::Rejected);
            return;
        }
        if (!typed.ip.empty())
            Retype(ip, QString::fromStdString(typed.ip));
        if (!typed.port.empty())
            Retype(port, QString::fromStdString(typed.port));
        if (!typed.password.empty())
            Retype(password, QString::fromStdString(typed.password));
        QTest::mouseClick(ok, Qt::LeftButton);
    });
}

class TransferWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        local.Write("cnf.ini", OwnCnfIni);
        form.FormCreate();
        form.show();
    }
    QAction* Action(const char* name) { return form.findChild<QAction*>(name); }
    QListWidget* List() { return form.findChild<QListWidget*>("ListBox"); }

    TempDir local;
    desktop::TDesktopService service{local.path(), true};
    desktop::TNullOpcDaServer opcDa;
    RecordingPrompts prompts;
    desktop::TOPCForm form{service, opcDa, prompts, true};
};

// A fieldgate device whose web server is on a port of its own.
class TransferWindowDevice : public TransferWindow {
protected:
    void SetUp() override
    {
        TransferWindow::SetUp();
        webPort = FreePort();
        device.Write("iec104.cfg", ExampleStations({2404}));
        deviceCnf = CnfIni(true, webPort, false, "pw");
        device.Write("cnf.ini", deviceCnf);
        fieldgate = std::make_unique<TFieldgateService>(device.path() + "/", "127.0.0.1");
        fieldgate->Start();
        ASSERT_EQ(fieldgate->WebPort(), webPort);
    }

    void Download()
    {
        AnswerTransferDialog({"127.0.0.1", std::to_string(webPort), "pw"});
        Action("ReadRemote")->trigger();
        ASSERT_EQ(prompts.infos, std::vector<std::string>{"Конфигурация считана успешно "});
        prompts.infos.clear();
    }
    // The address and port come back from "conf_dev.ini", the password from
    // the last use: OK alone.
    void Upload()
    {
        AnswerTransferDialog({});
        Action("WriteRemote")->trigger();
        ASSERT_EQ(prompts.infos, std::vector<std::string>{"Конфигурация записана успешно "});
        prompts.infos.clear();
    }
    // The first station's dialog, opened as a user does: its line, then "Изменить".
    void EditFirstStation(std::function<void(desktop::TDev_prop_Dlg&)> act)
    {
        bool shown = false;
        WhenShown<desktop::TDev_prop_Dlg>([&shown, act = std::move(act)](desktop::TDev_prop_Dlg& dialog) {
            shown = true;
            act(dialog);
            QTest::mouseClick(ButtonOf(dialog, desktop::texts::Ok), Qt::LeftButton);
        });
        QListWidget* list = List();
        ASSERT_EQ(list->count(), 1);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
        QTest::mouseClick(Child<QPushButton>(*form.findChild<QWidget*>("paClients"), "BitBtn2"), Qt::LeftButton);
        ASSERT_TRUE(shown);
    }
    bool DeviceRestarts()
    {
        // The device flags its restart once its answer has gone out.
        for (int i = 0; i < 1000 && !fieldgate->ReconfigureRequested(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return fieldgate->ReconfigureRequested();
    }

    TempDir device;
    int webPort = 0;
    std::string deviceCnf;
    std::unique_ptr<TFieldgateService> fieldgate;
};

TEST_F(TransferWindowDevice, DialogTypedIntoWhileModalDownloadsAndUploads)
{
    std::string caption;
    AnswerTransferDialog({"127.0.0.1", std::to_string(webPort), "pw"}, &caption);
    Action("ReadRemote")->trigger();
    EXPECT_EQ(caption, "Считать конфигурацию");
    EXPECT_EQ(prompts.infos, std::vector<std::string>{"Конфигурация считана успешно "});
    EXPECT_EQ(local.Read("iec104.cfg"), device.Read("iec104.cfg"));
    ASSERT_EQ(List()->count(), 1);
    EXPECT_TRUE(form.isEnabled());

    prompts.infos.clear();
    AnswerTransferDialog({}, &caption);
    Action("WriteRemote")->trigger();
    EXPECT_EQ(caption, "Записать конфигурацию");
    EXPECT_EQ(prompts.infos, std::vector<std::string>{"Конфигурация записана успешно "});
    EXPECT_TRUE(DeviceRestarts());
    EXPECT_EQ(device.Read("cnf.ini"), deviceCnf);
}

TEST_F(TransferWindowDevice, EditAfterADownloadKeepsTheDevicesOwnSettings)
{
    Download();
    // The station dialog shows the device's switches, and an edit of the
    // station alone leaves them as the device had them.
    EditFirstStation([&](desktop::TDev_prop_Dlg& dialog) {
        EXPECT_EQ(Child<QSpinBox>(dialog, "SE_Port_WebServ")->value(), webPort);
        EXPECT_TRUE(Child<QCheckBox>(dialog, "CB_UseWebServer")->isChecked());
        EXPECT_FALSE(Child<QCheckBox>(dialog, "CB_Save_Obmen_v_File")->isChecked());
        Retype(Child<QLineEdit>(dialog, "Name_dev_e"), "Yuzhnaya");
    });
    EXPECT_EQ(service.Context().Stations.KpTable[1].NameKP, "Yuzhnaya");
    EXPECT_EQ(local.Read("cnf.ini"), deviceCnf);

    Upload();
    EXPECT_NE(device.Read("iec104.cfg").find("Yuzhnaya"), std::string::npos);
    EXPECT_EQ(device.Read("cnf.ini"), deviceCnf);
    TCnfIni stored;
    ReadCnfIni(device.path(), stored);
    EXPECT_EQ(stored.Port_WebServ, webPort);

    // A switch the user changes is the device's to have; the program's own
    // settings in memory stay as "cnf.ini" gave them at the start.
    EditFirstStation([](desktop::TDev_prop_Dlg& dialog) {
        QTest::mouseClick(Child<QCheckBox>(dialog, "CB_Save_Obmen_v_File"), Qt::LeftButton);
    });
    EXPECT_EQ(local.Read("cnf.ini"), CnfIni(true, webPort, true, "pw"));
    const TServiceSwitches& own = service.Context().Switches;
    EXPECT_EQ(own.Port_WebServ, 8080);
    EXPECT_TRUE(own.UseWebServer);
    EXPECT_TRUE(own.Save_Obmen_v_File.Get());
}

TEST_F(TransferWindow, EscapeCancelsTheTransferDialog)
{
    WhenShown<desktop::Tdlg_upload_conf>([](desktop::Tdlg_upload_conf& dialog) {
        QTest::keyClick(Child<QLineEdit>(dialog, "Ed_IP_addr1"), Qt::Key_Escape);
    });
    Action("ReadRemote")->trigger();
    EXPECT_TRUE(prompts.infos.empty());
    EXPECT_FALSE(std::filesystem::exists(local.File("conf_dev.ini")));
}

// A peer that accepts every connection and never answers.
class SilentDevice {
public:
    SilentDevice()
        : peer_([this](Poco::Net::StreamSocket client) {
              held_.push_back(std::move(client));
              ++accepted_;
          })
    {
    }
    int Port() const { return peer_.Port(); }
    int Accepted() const { return accepted_; }

private:
    std::vector<Poco::Net::StreamSocket> held_; // the peer's thread alone
    std::atomic<int> accepted_{0};
    LoopbackPeer peer_; // last: it fills the two above
};

TEST_F(TransferWindow, SilentDeviceLeavesTheWindowTurningUntilTheTimeOut)
{
    desktop::TPocoHttpTransfer impatient(std::chrono::milliseconds(1000));
    form.SetHttpTransfer(impatient);
    auto& dialog = *form.findChild<desktop::Tdlg_upload_conf*>("Tdlg_upload_conf");
    SilentDevice silent;
    // A timer of the window's loop, looking in while the device holds a
    // request unanswered.
    int seenRunning = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* bar = dialog.findChild<QProgressBar*>("pbRunning");
        if (silent.Accepted() == 0 || seenRunning > 0 || !dialog.isVisible() || !bar || !bar->isVisible())
            return;
        EXPECT_FALSE(ButtonOf(dialog, desktop::texts::Ok)->isEnabled());
        EXPECT_FALSE(ButtonOf(dialog, desktop::texts::Cancel)->isEnabled());
        EXPECT_FALSE(dialog.findChild<QLineEdit*>("Ed_IP_addr1")->isEnabled());
        // Neither Escape nor the close box leaves a transfer half-way.
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_FALSE(dialog.close());
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_FALSE(dialog.grab().isNull());
        ++seenRunning;
    });
    watch.start(10);
    AnswerTransferDialog({"127.0.0.1", std::to_string(silent.Port()), "pw"});
    Action("ReadRemote")->trigger();
    EXPECT_GE(seenRunning, 1);
    EXPECT_EQ(prompts.infos, std::vector<std::string>{"Ошибка Timeout"});
    EXPECT_FALSE(std::filesystem::exists(local.File("conf_dev.ini")));
    EXPECT_FALSE(dialog.isVisible());
}

} // namespace
} // namespace gw::test
