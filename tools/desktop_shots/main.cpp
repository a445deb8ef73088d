// desktop_shots OUTDIR: renders opcstation's main window with live values
// from kpsim, and each of its dialogs, to PNG files for review. Headless
// (offscreen platform); nothing compares the pictures.

#include "desktop/about_dialog.h"
#include "desktop/desktop_service.h"
#include "desktop/http_transfer.h"
#include "desktop/link_param_dialog.h"
#include "desktop/main_window.h"
#include "desktop/opcda_server.h"
#include "desktop/opcua_dialog.h"
#include "desktop/prompts.h"
#include "desktop/station_dialog.h"
#include "desktop/upload_dialog.h"
#include "service/tables.h"
#include "testkit/temp_dir.h"
#include "testkit/kpsim_process.h"
#include "testkit/one_station.h"

#include <Poco/Net/ServerSocket.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace gw;

bool Save(QWidget& w, const std::string& dir, const char* name, bool fit = true)
{
    // Shown first: a window's layouts settle only once it is shown.
    w.show();
    QCoreApplication::processEvents();
    if (fit)
        w.adjustSize();
    const std::string path = dir + "/" + name + ".png";
    const bool ok = w.grab().save(QString::fromStdString(path));
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.c_str());
    return ok;
}

// Saves what is on screen now, as it is (a modal dialog in use).
bool SaveAsShown(QWidget& w, const std::string& dir, const char* name)
{
    const std::string path = dir + "/" + name + ".png";
    const bool ok = w.grab().save(QString::fromStdString(path));
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.c_str());
    return ok;
}

// The transfer dialog in use: the address, port and password filled in and
// OK clicked, against a device that accepts and never answers. Shot while the
// transfer runs (the dialog and the window behind it), and the message it
// ends with.
bool ShootTransfer(desktop::TOPCForm& form, const std::string& out)
{
    Poco::Net::ServerSocket silent(Poco::Net::SocketAddress("127.0.0.1", 0));
    desktop::TPocoHttpTransfer impatient(std::chrono::seconds(2));
    form.SetHttpTransfer(impatient);
    desktop::Tdlg_upload_conf& dialog = form.UploadDialog();
    bool ok = true, shotRunning = false;
    QTimer::singleShot(0, &dialog, [&] {
        dialog.findChild<QLineEdit*>("Ed_IP_addr1")->setText("127.0.0.1");
        dialog.findChild<QLineEdit*>("SE_port")->setText(QString::number(silent.address().port()));
        dialog.findChild<QLineEdit*>("MaskEdit_pwd_up")->setText("secret");
        dialog.findChild<QPushButton*>("OKBtn")->click();
    });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!shotRunning && dialog.TransferRunning()) {
            // A few turns for the layout and the busy bar's animation.
            QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
            ok = SaveAsShown(dialog, out, "upload_dialog_running") && ok;
            ok = SaveAsShown(form, out, "main_window_during_transfer") && ok;
            shotRunning = true;
        }
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ok = SaveAsShown(*box, out, "transfer_message") && ok;
            box->accept();
        }
    });
    watch.start(100);
    form.findChild<QAction*>("ReadRemote")->trigger();
    return ok && shotRunning;
}

// Runs the event loop (the service tick) until pred holds or ms pass.
template <class Pred>
bool Pump(Pred pred, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!pred() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return pred();
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: desktop_shots OUTDIR\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const std::string out = argv[1];

    test::KpsimProcess kpsim({"--listen", "127.0.0.1:0", "--ca", "1", "--sp", "100:4", "--dp", "200:2", "--me-float",
                              "300:4", "--rate", "5", "--time"});
    test::TempDir dir;
    dir.Write("iec104.cfg", test::ExampleStations({kpsim.ListenPort(1)}));
    desktop::TDesktopService service(dir.path(), true);
    desktop::TNullOpcDaServer opcDa;
    desktop::TQtPrompts prompts;
    desktop::TOPCForm form(service, opcDa, prompts, true);
    form.FormCreate();
    form.resize(1200, 700);
    const bool live = Pump(
        [&] {
            form.OutStingGrigTsTit();
            const auto& ti = form.Grids().ti;
            return ti.size() > 4 && !ti[4][6].empty();
        },
        10000);
    if (!live)
        std::fprintf(stderr, "no live values from kpsim\n");
    bool ok = Save(form, out, "main_window", false) && live;

    TServiceContext& ctx = service.Context();
    desktop::TDev_prop_Dlg& station = form.StationDialog();
    station.BeforeShowOptionsUstr(ctx, 1, ctx.Channels.Prmn104[0]);
    station.resize(1024, 768); // a common screen, whole
    ok = Save(station, out, "station_dialog", false) && ok;
    desktop::TFormParam104& link = station.LinkDialog();
    link.OutParamForm(ctx.Channels.Prmn104[0]);
    ok = Save(link, out, "link_param_dialog") && ok;
    desktop::TOPC_UA_Dlg opcUa;
    opcUa.Fill(service.OpcUa());
    ok = Save(opcUa, out, "opcua_dialog") && ok;
    desktop::Tdlg_upload_conf& upload = form.UploadDialog();
    upload.Fill("Считать конфигурацию", desktop::TConfDev{"192.168.1.10", 810, ""});
    ok = Save(upload, out, "upload_dialog") && ok;
    upload.hide();
    ok = ShootTransfer(form, out) && ok;
    ok = Save(form.AboutBox(), out, "about_dialog") && ok;
    form.close();
    return ok ? 0 : 1;
}
