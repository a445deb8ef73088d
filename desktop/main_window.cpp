#include "desktop/main_window.h"

#include "desktop/desktop_service.h"
#include "desktop/about_dialog.h"
#include "desktop/exception_log.h"
#include "desktop/grid_columns.h"
#include "desktop/opcda_registration.h"
#include "desktop/http_transfer.h"
#include "desktop/remote_config.h"
#include "desktop/upload_dialog.h"
#include "desktop/opcda_server.h"
#include "desktop/opcua_dialog.h"
#include "desktop/prompts.h"
#include "desktop/skipped_lines_notice.h"
#include "desktop/station_commands.h"
#include "desktop/station_dialog.h"
#include "desktop/texts.h"
#include "service/tables.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>

namespace gw::desktop {

namespace {

constexpr int CountsMs = 500;
constexpr int TickMs = 50;
constexpr int GridMs = 1000;

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

QPushButton* Button(const char* name, const char* caption, QWidget* parent)
{
    auto* b = new QPushButton(Q(caption), parent);
    b->setObjectName(name);
    return b;
}

QTableWidget* Grid(const char* name, QWidget* parent)
{
    auto* g = new QTableWidget(parent);
    g->setObjectName(name);
    g->setEditTriggers(QAbstractItemView::NoEditTriggers);
    g->verticalHeader()->setVisible(false);
    return g;
}

// Copies the text table into the widget, touching only cells that changed.
void ShowGrid(QTableWidget* widget, const TGrid& grid, int columns)
{
    const int rows = static_cast<int>(grid.size());
    const bool reshaped = widget->rowCount() != rows || widget->columnCount() != columns;
    if (widget->rowCount() != rows)
        widget->setRowCount(rows);
    if (widget->columnCount() != columns)
        widget->setColumnCount(columns);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            const QString text = QString::fromStdString(grid[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)]);
            QTableWidgetItem* item = widget->item(r, c);
            if (!item)
                widget->setItem(r, c, new QTableWidgetItem(text));
            else if (item->text() != text)
                item->setText(text);
        }
    }
    if (reshaped)
        ShowHeaderRow(widget);
}

} // namespace

TOPCForm::TOPCForm(TDesktopService& service, TOpcDaServer& opcDa, TPrompts& prompts, bool configurator,
                   bool trayAvailable)
    : service_(service), opcDa_(opcDa), prompts_(prompts), configurator_(configurator), trayAvailable_(trayAvailable)
{
    setObjectName("TOPCForm");
    setWindowTitle(Q(texts::AppTitle));
    polling_ = std::make_unique<TPollingController>(
        static_cast<TPollingService&>(*this), static_cast<TPollingView&>(*this), configurator_,
        [this](const std::exception& e) {
            AppendLineToFile(ExceptionLogLine(e.what(), ExceptionClassName(e)), service_.FilePath(texts::ErrorLogFile));
        });
    stationDialog_ = new TDev_prop_Dlg(prompts_, this);
    uploadDialog_ = new Tdlg_upload_conf(this);
    aboutBox_ = new TAboutBox(configurator_, this);
    ownRegistration_ = std::make_unique<TNullOpcDaRegistration>();
    registration_ = ownRegistration_.get();
    shellOpen_ = [](const std::string& path) {
        // The result is ignored: without the document nothing happens.
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
    };
    ownHttp_ = std::make_unique<TPocoHttpTransfer>();
    http_ = ownHttp_.get();
    BuildTopPanel();
    BuildMenus();
    Timer.setInterval(CountsMs);
    TimerCommand.setInterval(TickMs);
    Timeroutgrid.setInterval(GridMs);
    connect(&Timer, &QTimer::timeout, this, [this] { Guard([this] { RefreshCounts(); }); });
    connect(&TimerCommand, &QTimer::timeout, this, [this] { Guard([this] { service_.Tick(); }); });
    connect(&Timeroutgrid, &QTimer::timeout, this, [this] { Guard([this] { OutStingGrigTsTit(); }); });
    Timer.start();
}

TOPCForm::~TOPCForm() = default;

void TOPCForm::BuildTopPanel()
{
    auto* central = new QWidget(this);
    auto* paClients = new QWidget(central);
    paClients->setObjectName("paClients");
    BitBtn1 = Button("BitBtn1", texts::Add, paClients);
    BitBtn2 = Button("BitBtn2", texts::Change, paClients);
    BitBtn3 = Button("BitBtn3", texts::Delete, paClients);
    Button1 = Button("Button1", texts::StartPolling, paClients);
    Button3 = Button("Button3", texts::OpcUaButton, paClients);
    laClientCount = new QLabel(paClients);
    laClientCount->setObjectName("laClientCount");
    laGroupCount = new QLabel(paClients);
    laGroupCount->setObjectName("laGroupCount");
    auto* top = new QHBoxLayout(paClients);
    for (QWidget* w : {static_cast<QWidget*>(BitBtn1), static_cast<QWidget*>(BitBtn2), static_cast<QWidget*>(BitBtn3),
                       static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button3)})
        top->addWidget(w);
    top->addStretch();
    top->addWidget(new QLabel(Q(texts::ClientCount), paClients));
    top->addWidget(laClientCount);
    top->addWidget(new QLabel(Q(texts::GroupCount), paClients));
    top->addWidget(laGroupCount);

    ListBox = new QListWidget(central);
    ListBox->setObjectName("ListBox");
    ListBox->setContextMenuPolicy(Qt::CustomContextMenu);
    StringGrd_TS = Grid("StringGrd_TS", central);
    StringGrd_TI = Grid("StringGrd_TI", central);
    auto* grids = new QSplitter(Qt::Vertical, central);
    grids->addWidget(StringGrd_TS);
    grids->addWidget(StringGrd_TI);
    auto* split = new QSplitter(Qt::Horizontal, central);
    split->addWidget(ListBox);
    split->addWidget(grids);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 5);
    paPath = new QLabel(central);
    paPath->setObjectName("paPath");
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(paClients);
    layout->addWidget(split, 1);
    layout->addWidget(paPath);
    setCentralWidget(central);

    connect(Button1, &QPushButton::clicked, this, [this] { Guard([this] { Button1Click(); }); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { Guard([this] { AddNew(); }); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { Guard([this] { ChangeSelected(); }); });
    connect(BitBtn3, &QPushButton::clicked, this, [this] { Guard([this] { DeleteSelected(); }); });
    connect(Button3, &QPushButton::clicked, this, [this] { Guard([this] { EditOpcUa(); }); });
    connect(ListBox, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0)
            Guard([this, row] { ListBox_Click(row); });
    });
    auto* context = new QMenu(ListBox);
    context
        ->addAction(Q(texts::CopyDeviceContext), this,
                    [this] { Guard([this] { Make_Copy_Dev(ListBox->currentRow() + 1); }); })
        ->setObjectName("C1");
    connect(ListBox, &QWidget::customContextMenuRequested, this,
            [this, context](const QPoint& pos) { context->popup(ListBox->viewport()->mapToGlobal(pos)); });
}

void TOPCForm::BuildMenus()
{
    QMenu* device = menuBar()->addMenu(Q(texts::DeviceMenu));
    N4 = device->addAction(Q(texts::Add));
    N4->setObjectName("N4");
    N4->setShortcut(QKeySequence("Ctrl+N"));
    connect(N4, &QAction::triggered, this, [this] { Guard([this] { AddNew(); }); });
    ChangeItem = device->addAction(Q(texts::ChangeParams));
    connect(ChangeItem, &QAction::triggered, this, [this] { Guard([this] { ChangeSelected(); }); });
    ChangeItem->setObjectName("N5");
    ChangeItem->setShortcut(QKeySequence("Ctrl+E"));
    DeleteItem = device->addAction(Q(texts::Delete));
    DeleteItem->setObjectName("N6");
    DeleteItem->setShortcut(QKeySequence::Delete);
    connect(DeleteItem, &QAction::triggered, this, [this] { Guard([this] { DeleteSelected(); }); });
    N17 = device->addAction(Q(texts::CopyDeviceMenu));
    N17->setObjectName("N17");
    N17->setShortcut(QKeySequence("Ctrl+C"));
    connect(N17, &QAction::triggered, this,
            [this] { Guard([this] { Make_Copy_Dev(service_.Context().Switches.SelectedKpIndex + 1); }); });
    device->addSeparator();
    N15 = device->addAction(Q(texts::LogOn));
    N15->setObjectName("N15");
    connect(N15, &QAction::triggered, this, [this] { Guard([this] { ToggleLogs(); }); });
    ReadRemoteItem = device->addAction(Q(texts::ReadRemote));
    ReadRemoteItem->setObjectName("ReadRemote");
    WriteRemoteItem = device->addAction(Q(texts::WriteRemote));
    WriteRemoteItem->setObjectName("WriteRemote");
    connect(ReadRemoteItem, &QAction::triggered, this, [this] { Guard([this] { read_confClick(); }); });
    connect(WriteRemoteItem, &QAction::triggered, this, [this] { Guard([this] { write_confClick(); }); });
    ReadRemoteItem->setVisible(false);
    WriteRemoteItem->setVisible(false);

    QMenu* server = menuBar()->addMenu(Q(texts::ServerMenu));
    QAction* n10 = server->addAction(Q(texts::Register));
    n10->setObjectName("N10");
    connect(n10, &QAction::triggered, this, [this] { Guard([this] { Registration(true); }); });
    QAction* n11 = server->addAction(Q(texts::Unregister));
    n11->setObjectName("N11");
    connect(n11, &QAction::triggered, this, [this] { Guard([this] { Registration(false); }); });
    QAction* opcUa = server->addAction(Q(texts::OpcUaSettingsMenu));
    opcUa->setObjectName("OPCUA1");
    connect(opcUa, &QAction::triggered, this, [this] { Guard([this] { EditOpcUa(); }); });
    QAction* n18 = server->addAction(Q(texts::SetRemotePassword));
    n18->setObjectName("N18");
    connect(n18, &QAction::triggered, this, [this] { Guard([this] { N18Click(); }); });
    QAction* n16 = menuBar()->addAction(Q(texts::Help));
    n16->setObjectName("N16");
    connect(n16, &QAction::triggered, this, [this] { Guard([this] { N16Click(); }); });
    QAction* n12 = menuBar()->addAction(Q(texts::About));
    n12->setObjectName("N12");
    connect(n12, &QAction::triggered, this, [this] { aboutBox_->exec(); });
}

void TOPCForm::FormCreate()
{
    TServiceContext& ctx = service_.Context();
    {
        std::lock_guard<std::mutex> items(ctx.Items.OpcItemsLock);
        for (int i = 1; i <= MaxOpcItem; ++i)
            ctx.Items.OpcItems[static_cast<std::size_t>(i)].Quality = 1;
    }
    paPath->setText(QString::fromStdString(service_.Dir()));
    service_.Init();
    Refresh_ListBox();
    // Saving keeps the skipped lines, but the stations they hold do not run.
    if (const auto notice = SkippedLinesNotice(ctx.Stations))
        prompts_.Info(*notice);
    // Without a notification area the window would be unreachable: it shows.
    if (configurator_ || !trayAvailable_) {
        ReadRemoteItem->setVisible(configurator_);
        WriteRemoteItem->setVisible(configurator_);
        show();
    } else {
        tray_ = new TTrayIcon(*this);
    }
    service_.ReadCnf();
    N15->setText(Q(ctx.Switches.Save_Obmen_v_File.Get() ? texts::LogOff : texts::LogOn));
    if (ctx.Stations.KpCount > 0)
        polling_->StartAtCreation();
    else
        polling_->Begin_Opros();
}

void TOPCForm::Refresh_ListBox()
{
    const TServiceContext& ctx = service_.Context();
    const QSignalBlocker quiet(ListBox);
    ListBox->clear();
    for (int i = 1; i <= ctx.Stations.KpCount; ++i)
        ListBox->addItem(QString::fromStdString(ctx.Stations.KpTable[static_cast<std::size_t>(i)].NameKP));
    ListBox->setCurrentRow(-1);
}

void TOPCForm::ListBox_Click(int it)
{
    TServiceContext& ctx = service_.Context();
    ctx.Switches.SelectedKpIndex = it;
    grids_ = StationGrids(ctx, it + 1);
    CopyGridsToWidgets();
    tsFit_.Reset(StringGrd_TS);
    tiFit_.Reset(StringGrd_TI);
}

void TOPCForm::OutStingGrigTsTit()
{
    TServiceContext& ctx = service_.Context();
    const int k = ctx.Switches.SelectedKpIndex + 1;
    // The table may have changed under the selection (a download, a delete).
    if (!ctx.Stations.IsKpIndex(k)
        || grids_.ts.size() != static_cast<std::size_t>(ctx.Stations.KpTable[static_cast<std::size_t>(k)].Kol_TS) + 3)
        grids_ = StationGrids(ctx, k);
    RefreshValueGrids(ctx, k, grids_);
    CopyGridsToWidgets();
    // The live cells (the connection's address, the times) are wider than the empty ones.
    tsFit_.Grow(StringGrd_TS);
    tiFit_.Grow(StringGrd_TI);
}

void TOPCForm::CopyGridsToWidgets()
{
    if (grids_.ts.empty())
        grids_ = StationGrids(service_.Context(), 0);
    ShowGrid(StringGrd_TS, grids_.ts, TsColumns);
    ShowGrid(StringGrd_TI, grids_.ti, TiColumns);
}

void TOPCForm::RefreshCounts()
{
    laClientCount->setText(QString::number(opcDa_.GetServerCount()));
    laGroupCount->setText(QString::number(opcDa_.GetGroupCount()));
}

void TOPCForm::SetPollingCaption(bool pollingOn)
{
    Button1->setText(Q(pollingOn ? texts::StopPolling : texts::StartPolling));
}

void TOPCForm::EnableButtons(bool enabled)
{
    for (QWidget* w : {static_cast<QWidget*>(BitBtn1), static_cast<QWidget*>(BitBtn2), static_cast<QWidget*>(BitBtn3),
                       static_cast<QWidget*>(Button3)})
        w->setEnabled(enabled);
    for (QAction* a : {N4, ChangeItem, DeleteItem})
        a->setEnabled(enabled);
}

void TOPCForm::SetTimers(bool running)
{
    if (running) {
        TimerCommand.start();
        Timeroutgrid.start();
    } else {
        TimerCommand.stop();
        Timeroutgrid.stop();
    }
}

void TOPCForm::ShowFirstStation()
{
    if (service_.Context().Stations.KpCount > 0) {
        const QSignalBlocker quiet(ListBox);
        ListBox->setCurrentRow(0);
    }
    ListBox_Click(0);
}

void TOPCForm::ShowRestartAdvice() { prompts_.Info(texts::RestartAdvice); }

void TOPCForm::Start() { service_.Start(); }

void TOPCForm::Stop() { service_.Stop(); }

void TOPCForm::Make_Copy_Dev(int n)
{
    static const TRandom random = DefaultRandom();
    if (CopyStation(service_, prompts_, n, random))
        Refresh_ListBox();
}

void TOPCForm::DeleteSelected()
{
    if (!DeleteStation(service_, prompts_, ListBox->currentRow() + 1))
        return;
    Refresh_ListBox();
    // The station shown was the one selected: the grids go with it.
    ListBox_Click(-1);
}

void TOPCForm::AddNew()
{
    if (AddStation(service_, prompts_, *stationDialog_))
        Refresh_ListBox();
}

void TOPCForm::ChangeSelected()
{
    if (ChangeStation(service_, *stationDialog_, ListBox->currentRow() + 1))
        Refresh_ListBox();
}

void TOPCForm::EditOpcUa()
{
    TOPC_UA_Dlg dialog(this);
    EditOpcUaSettings(dialog, service_.OpcUa());
    // Written either way: the port default of the dialog is kept even on Cancel.
    service_.SaveConfig();
}

void TOPCForm::ToggleLogs()
{
    auto& logs = service_.Context().Switches.Save_Obmen_v_File;
    logs.Set(!logs.Get());
    N15->setText(Q(logs.Get() ? texts::LogOff : texts::LogOn));
    if (logs.Get())
        prompts_.Info(texts::LogOnAdvice);
}

TRemoteParts TOPCForm::RemoteParts()
{
    return TRemoteParts{service_,
                        *http_,
                        *uploadDialog_,
                        [this](const std::string& text) { prompts_.Info(text); },
                        [this] {
                            if (polling_->PollingOn())
                                polling_->Button1Click();
                        },
                        [this] { Refresh_ListBox(); }};
}

// The window stays enabled: the transfer dialog is its child, and while the
// transfer runs the dialog is modal and keeps its own fields disabled.
void TOPCForm::read_confClick() { load_all_conf_from_device(RemoteParts()); }

void TOPCForm::write_confClick() { Save_all_conf_to_device(RemoteParts()); }

void TOPCForm::N18Click()
{
    if (const auto password = prompts_.AskText(texts::SetRemotePassword, texts::SetRemotePassword))
        SetRemotePassword(service_, *password);
}

void TOPCForm::N16Click() { shellOpen_(service_.FilePath(texts::HelpDocument)); }

void TOPCForm::Registration(bool on)
{
    if (on) {
        registration_->RegisterOPCProgID(texts::OpcProgId);
        registration_->RegisterOPCServer();
    } else {
        registration_->UnRegisterOPCProgID(texts::OpcProgId);
        registration_->UnRegisterOPCServer();
    }
}

void TOPCForm::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && tray_)
        tray_->Minimised();
}

void TOPCForm::closeEvent(QCloseEvent* event)
{
    Guard([this] {
        opcDa_.ShutDown();
        // The channel threads must end before the objects they use do.
        SetTimers(false);
        service_.Stop();
    });
    event->accept();
    // Closing a window hidden in the notification area does not end Qt's
    // loop by itself, and "В&ыход" closes exactly that window.
    QCoreApplication::quit();
}

void TOPCForm::Guard(const std::function<void()>& fn) { Guarded(service_.Dir(), fn); }

} // namespace gw::desktop
