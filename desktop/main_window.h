#pragma once
// The main window TOPCForm: station list, value grids, the polling button,
// the menus and the notification-area icon. It owns the three window timers:
// the 500 ms OPC DA counts, the 50 ms service tick and the 1 s grid refresh.

#include "desktop/grid_columns.h"
#include "desktop/polling_controller.h"
#include "desktop/tray_icon.h"
#include "desktop/value_grids.h"

#include <QMainWindow>
#include <QTimer>

#include <memory>

class QAction;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QTableWidget;

namespace gw::desktop {

class TDesktopService;
class TOpcDaServer;
class TPrompts;
class TDev_prop_Dlg;
class THttpTransfer;
class Tdlg_upload_conf;
class TOpcDaRegistration;
class TAboutBox;
struct TRemoteParts;

class TOPCForm final : public QMainWindow, private TPollingView, private TPollingService {
    Q_OBJECT
public:
    // trayAvailable: whether the window may hide to a notification-area icon.
    TOPCForm(TDesktopService& service, TOpcDaServer& opcDa, TPrompts& prompts, bool configurator,
             bool trayAvailable = SystemTrayAvailable());
    ~TOPCForm() override;

    // The creation steps after the widgets exist: settings, service init,
    // station list, visibility or icon, "cnf.ini", polling when stations exist.
    void FormCreate();

    bool PollingOn() const { return polling_->PollingOn(); }
    void Button1Click() { polling_->Button1Click(); }
    void Refresh_ListBox();
    void ListBox_Click(int it);
    // The one-second refresh, also run by tests directly.
    void OutStingGrigTsTit();
    void RefreshCounts();
    const TValueGrids& Grids() const { return grids_; }
    TDev_prop_Dlg& StationDialog() { return *stationDialog_; }
    // The remote transfer's HTTP client (tests give one with a short time-out).
    void SetHttpTransfer(THttpTransfer& http) { http_ = &http; }
    Tdlg_upload_conf& UploadDialog() { return *uploadDialog_; }
    TAboutBox& AboutBox() { return *aboutBox_; }
    // The shell's opening of a document (tests record it).
    void SetShellOpen(std::function<void(const std::string&)> open) { shellOpen_ = std::move(open); }
    void SetRegistration(TOpcDaRegistration& registration) { registration_ = &registration; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // TPollingView
    void SetPollingCaption(bool pollingOn) override;
    void EnableButtons(bool enabled) override;
    void SetTimers(bool running) override;
    void ShowFirstStation() override;
    void ShowRestartAdvice() override;
    // TPollingService
    void Start() override;
    void Stop() override;

    void BuildTopPanel();
    void BuildMenus();
    void CopyGridsToWidgets();
    void Make_Copy_Dev(int n);
    void DeleteSelected();
    void AddNew();
    void ChangeSelected();
    void EditOpcUa();
    void ToggleLogs();
    TRemoteParts RemoteParts();
    void read_confClick();
    void write_confClick();
    void N18Click();
    void N16Click();
    void Registration(bool on);
    // Logs what fn throws before it reaches Qt's own frames: Qt Gui and Widgets
    // are built without exception support, so an exception passing them skips
    // their clean-ups (the application's catch is only the last net).
    void Guard(const std::function<void()>& fn);

    TDesktopService& service_;
    TOpcDaServer& opcDa_;
    TPrompts& prompts_;
    const bool configurator_;
    const bool trayAvailable_;
    std::unique_ptr<TPollingController> polling_;
    TValueGrids grids_;
    // Points, measured values.
    TColumnFit tsFit_, tiFit_;
    TDev_prop_Dlg* stationDialog_ = nullptr;
    Tdlg_upload_conf* uploadDialog_ = nullptr;
    std::unique_ptr<THttpTransfer> ownHttp_;
    THttpTransfer* http_ = nullptr;
    TAboutBox* aboutBox_ = nullptr;
    std::function<void(const std::string&)> shellOpen_;
    std::unique_ptr<TOpcDaRegistration> ownRegistration_;
    TOpcDaRegistration* registration_ = nullptr;

    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button3 = nullptr;
    QLabel* laClientCount = nullptr;
    QLabel* laGroupCount = nullptr;
    QListWidget* ListBox = nullptr;
    QTableWidget* StringGrd_TS = nullptr;
    QTableWidget* StringGrd_TI = nullptr;
    QLabel* paPath = nullptr;
    QAction* N4 = nullptr;
    QAction* ChangeItem = nullptr;
    QAction* DeleteItem = nullptr;
    QAction* N17 = nullptr;
    QAction* N15 = nullptr;
    QAction* ReadRemoteItem = nullptr;
    QAction* WriteRemoteItem = nullptr;
    TTrayIcon* tray_ = nullptr; // none in configurator mode or without a notification area
    QTimer Timer;
    QTimer TimerCommand;
    QTimer Timeroutgrid;
};

} // namespace gw::desktop
