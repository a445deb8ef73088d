#include "desktop/station_dialog.h"

#include "core/cp1251.h"
#include "desktop/cfg_text_validator.h"
#include "desktop/clamped_spin_box.h"
#include "desktop/grid_columns.h"
#include "desktop/link_param_dialog.h"
#include "desktop/prompts.h"
#include "desktop/texts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace gw::desktop {

namespace {

constexpr int NewStationRows = 20;

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString Q(const char* s) { return QString::fromUtf8(s); }

// The drop-down cells: an editable list, so typed text is kept as typed.
class TComboDelegate final : public QStyledItemDelegate {
public:
    TComboDelegate(TSignalKind kind, QObject* parent) : QStyledItemDelegate(parent), kind_(kind) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const std::vector<std::string>* items = ColumnItems(kind_, index.column());
        if (!items)
            return QStyledItemDelegate::createEditor(parent, option, index);
        auto* box = new QComboBox(parent);
        box->setEditable(true);
        for (const std::string& item : *items)
            box->addItem(Q(item));
        return box;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        if (auto* box = qobject_cast<QComboBox*>(editor))
            box->setCurrentText(index.data().toString());
        else
            QStyledItemDelegate::setEditorData(editor, index);
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override
    {
        if (auto* box = qobject_cast<QComboBox*>(editor))
            model->setData(index, box->currentText());
        else
            QStyledItemDelegate::setModelData(editor, model, index);
    }

private:
    TSignalKind kind_;
};

QLineEdit* TextField(const char* name, const std::string& forbidden, QWidget* parent)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setValidator(new TCfgTextValidator(forbidden, e));
    return e;
}

TClampedSpinBox* Spin(const char* name, int lo, int hi, QWidget* parent)
{
    auto* s = new TClampedSpinBox(lo, hi, parent);
    s->setObjectName(name);
    return s;
}

QCheckBox* Check(const char* name, const char* caption, QWidget* parent)
{
    auto* c = new QCheckBox(Q(caption), parent);
    c->setObjectName(name);
    return c;
}

int Value(const TClampedSpinBox* s) { return ClampFieldText(s->text(), s->minimum(), s->maximum()); }

} // namespace

TDev_prop_Dlg::TDev_prop_Dlg(TPrompts& prompts, QWidget* parent) : QDialog(parent), prompts_(prompts)
{
    setObjectName("TDev_prop_Dlg");
    setWindowTitle(Q("Настройки КП"));
    linkDialog_ = new TFormParam104(this);
    showLinkDialog = [](TFormParam104& dialog) { return dialog.exec() == QDialog::Accepted; };

    tabs_ = new QTabWidget(this);
    tabs_->addTab(BuildPage(TSignalKind::TS), Q("Дискретные значения (Телесигналы)"));
    tabs_->addTab(BuildPage(TSignalKind::TIT), Q("Аналоговые значения (Телеизмерения)"));

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(Q(texts::Ok), QDialogButtonBox::AcceptRole);
    ok->setObjectName("OKBtn");
    ok->setDefault(true);
    buttons->addButton(Q(texts::Cancel), QDialogButtonBox::RejectRole)->setObjectName("CancelBtn");
    QPushButton* more = buttons->addButton(Q("Дополнительно"), QDialogButtonBox::ActionRole);
    more->setObjectName("ButtonMore");
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { OKBtnClick(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(more, &QPushButton::clicked, this, [this] { ClientParamModal(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildFields());
    layout->addWidget(tabs_, 1);
    layout->addWidget(buttons);
}

QWidget* TDev_prop_Dlg::BuildFields()
{
    auto* panel = new QWidget(this);
    auto* grid = new QGridLayout(panel);
    // Written unquoted: no ',' and no '"' (blanks at the ends are cut on OK).
    Name_dev_e = TextField("Name_dev_e", ",\"", panel);
    IP_e = TextField("IP_e", ",\"", panel);
    Port_e = Spin("Port_e", 1, MaxPort, panel);
    ASDU_Adr = Spin("ASDU_Adr", 1, MaxCommonAddress, panel);
    IP2_e = TextField("IP2_e", ",\"", panel);
    IP2_e->setToolTip(Q("IP адрес резервный (дополнительный)"));
    Port2_e = Spin("Port2_e", 0, MaxPort, panel);
    Port2_e->setToolTip(Q("IP порт резервный"));
    CB_Passive = Check("CB_Passive", "Пассивный (cервер)", panel); // Latin c
    CB_Passive->setToolTip(Q("Работает как сервер. Принимает на IP порт входящие соединения"));
    CB_Start_DT = Check("CB_Start_DT", "Выдавать START_DT при пассивном", panel);
    CB_Pereschet = Check("CB_Pereschet", "Пересчитывать из физического значения в инженерное", panel);
    CB_Time_to_OPC = Check("CB_Time_to_OPC", "Передавать по ОРС метки времени МЭК-104", panel);
    // As many hours as "iec104.cfg" takes: a larger one could not be saved.
    SE_Time_Popravka = Spin("SE_Time_Popravka", -MaxTimeCorrectionHours, MaxTimeCorrectionHours, panel);
    SE_Time_Popravka->setValue(0);
    Period_opros = Spin("Period_opros", 0, MaxPeriodMinutes, panel);
    Period_opros->setToolTip(Q("Период посылки команды общий опрос КП <100> C_IC_NA. Если 0 - команда не посылается "));
    SE_opros_conters_101 = Spin("SE_opros_conters_101", 0, MaxPeriodMinutes, panel);
    SE_opros_conters_101->setToolTip(
        Q("Период посылки команды опроса счетчиков <101> C_CI_NA. Если 0 - команда не посылается "));
    SE_CLOCK_SYNC_103 = Spin("SE_CLOCK_SYNC_103", 0, MaxPeriodMinutes, panel);
    SE_CLOCK_SYNC_103->setToolTip(
        Q("Период посылки команды синхронизации часов <103> C_CS_NA. Если 0 - команда не посылается "));
    CB_UseWebServer = Check("CB_UseWebServer", "Использовать WEB-сервер", panel);
    SE_Port_WebServ = Spin("SE_Port_WebServ", MinWebPort, MaxPort, panel);
    CB_Save_Obmen_v_File = Check("CB_Save_Obmen_v_File", "Сохранять обмен в файл (Только для тестирования!)", panel);

    // Two columns of captioned fields, then the switches two by two: narrow
    // enough for a 1024-pixel screen.
    auto label = [panel](const char* text) { return new QLabel(Q(text), panel); };
    auto withUnit = [panel](QWidget* field, const char* unit) {
        auto* box = new QWidget(panel);
        auto* row = new QHBoxLayout(box);
        row->setContentsMargins(0, 0, 0, 0);
        row->addWidget(field, 1);
        row->addWidget(new QLabel(Q(unit), box));
        return box;
    };
    const std::pair<QWidget*, QWidget*> fields[][2] = {
        {{label("Имя устройства"), Name_dev_e}, {label("Адрес ASDU"), ASDU_Adr}},
        {{label("IP адрес"), IP_e}, {label("Порт"), Port_e}},
        {{label("IP адрес резервный \n(дополнительный)"), IP2_e}, {nullptr, Port2_e}},
        {{label("Поправка времени"), withUnit(SE_Time_Popravka, "час")},
         {label("Периодический опрос"), withUnit(Period_opros, "мин.  (0 -нет)")}},
        {{label("Опрос счетчиков"), withUnit(SE_opros_conters_101, "мин.  (0 -нет)")},
         {label("Синхронизация\nвремени (мин)"), SE_CLOCK_SYNC_103}},
        {{CB_UseWebServer, nullptr}, {label("Порт WEB-сервера"), SE_Port_WebServ}},
    };
    int r = 0;
    for (const auto& row : fields) {
        for (int half = 0; half < 2; ++half) {
            const auto& [caption, field] = row[half];
            if (caption)
                grid->addWidget(caption, r, 2 * half);
            if (field)
                grid->addWidget(field, r, 2 * half + 1);
        }
        ++r;
    }
    QCheckBox* const switches[] = {CB_Passive, CB_Start_DT, CB_Pereschet, CB_Time_to_OPC};
    for (int i = 0; i < 4; ++i)
        grid->addWidget(switches[i], r + i / 2, 2 * (i % 2), 1, 2);
    grid->addWidget(CB_Save_Obmen_v_File, r + 2, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    return panel;
}

QWidget* TDev_prop_Dlg::BuildPage(TSignalKind kind)
{
    const bool ts = kind == TSignalKind::TS;
    auto* page = new QWidget(this);
    auto* grid = new QTableWidget(page);
    grid->setObjectName(ts ? "StringGrid_TS" : "StringGrid_TIT");
    grid->setItemDelegate(new TComboDelegate(kind, grid));
    grid->verticalHeader()->setSectionsMovable(true);
    (ts ? StringGrid_TS : StringGrid_TIT) = grid;
    SetTable(TSignalTable(kind));
    connect(grid, &QTableWidget::itemChanged, this, [this, kind](QTableWidgetItem* item) { CellChanged(kind, item); });
    // Rows dragged by their header: the signal order is the row order.
    connect(grid->verticalHeader(), &QHeaderView::sectionMoved, this, [this, kind, grid](int, int from, int to) {
        TSignalTable t = Table(kind);
        const QSignalBlocker quiet(grid->verticalHeader());
        grid->verticalHeader()->moveSection(to, from);
        if (from >= 1 && to >= 1 && from <= t.DataRows() && to <= t.DataRows()) {
            auto row = t.rows[static_cast<std::size_t>(from)];
            t.rows.erase(t.rows.begin() + from);
            t.rows.insert(t.rows.begin() + to, std::move(row));
        }
        SetTable(t);
    });

    auto* bar = new QHBoxLayout;
    auto tool = [&](const char* name, const char* tip, const char* text, auto fn) {
        auto* b = new QToolButton(page);
        b->setObjectName(QString(name) + (ts ? "_TS" : "_TIT"));
        b->setToolTip(Q(tip));
        b->setText(Q(text));
        connect(b, &QToolButton::clicked, this, fn);
        bar->addWidget(b);
    };
    tool("AddRow", ts ? "Добавить строку в конец таблицы" : "Добавить переменную", "+",
         [this, kind] { RowCommand(kind, [](TSignalTable& t, int) { AddRowAtEnd(t); }); });
    tool("InsertRow", "Добавить строку там где курсор", "↳",
         [this, kind] { RowCommand(kind, [](TSignalTable& t, int row) { InsertRowAt(t, row); }); });
    tool("DeleteRow", ts ? "Удалить строку" : "Удалить переменную", "−",
         [this, kind] { RowCommand(kind, [](TSignalTable& t, int row) { DeleteRowAt(t, row); }); });
    tool("SaveCsv", "Сохранить таблицу в файл", "→CSV", [this, kind] {
        const QString name = QFileDialog::getSaveFileName(this, {}, {}, QStringLiteral("*.csv"));
        if (!name.isEmpty())
            SaveCsv(kind, name.toStdString());
    });
    tool("LoadCsv", "Загрузить таблицу из файла", "CSV→", [this, kind] {
        const QString name = QFileDialog::getOpenFileName(this, {}, {}, QStringLiteral("*.csv"));
        if (!name.isEmpty())
            LoadCsv(kind, name.toStdString());
    });
    bar->addStretch();
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(bar);
    layout->addWidget(grid, 1);
    return page;
}

QTableWidget* TDev_prop_Dlg::Grid(TSignalKind kind) const
{
    return kind == TSignalKind::TS ? StringGrid_TS : StringGrid_TIT;
}

TSignalTable TDev_prop_Dlg::Table(TSignalKind kind) const
{
    const QTableWidget* grid = Grid(kind);
    TSignalTable t(kind);
    for (int r = 1; r < grid->rowCount(); ++r) {
        std::vector<std::string> row(static_cast<std::size_t>(t.Columns()));
        for (int c = 1; c < t.Columns(); ++c)
            if (const QTableWidgetItem* item = grid->item(r, c))
                row[static_cast<std::size_t>(c)] = item->text().toStdString();
        t.rows.push_back(std::move(row));
    }
    return t;
}

void TDev_prop_Dlg::SetTable(const TSignalTable& t)
{
    QTableWidget* grid = Grid(t.kind);
    const QSignalBlocker quiet(grid);
    grid->clear();
    grid->setColumnCount(t.Columns());
    grid->setRowCount(static_cast<int>(t.rows.size()));
    for (int r = 0; r < static_cast<int>(t.rows.size()); ++r) {
        for (int c = 1; c < t.Columns(); ++c) {
            auto* item = new QTableWidgetItem(Q(t.rows[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)]));
            if (r == 0)
                item->setFlags(Qt::ItemIsEnabled);
            grid->setItem(r, c, item);
        }
    }
    ShowHeaderRow(grid);
    grid->setColumnHidden(4, true); // the comment is never stored
    grid->resizeColumnsToContents();
}

void TDev_prop_Dlg::CellChanged(TSignalKind kind, QTableWidgetItem* item)
{
    if (item->row() < 1)
        return;
    std::string text = item->text().toStdString();
    std::string filtered = FilterCellText(kind, item->column(), text);
    // A '"' in a name would end the quoted name on reading.
    if (item->column() == 1)
        std::erase(filtered, '"');
    if (filtered != text) {
        const QSignalBlocker quiet(Grid(kind));
        item->setText(Q(filtered));
    }
}

void TDev_prop_Dlg::RowCommand(TSignalKind kind, const std::function<void(TSignalTable&, int)>& command)
{
    TSignalTable t = Table(kind);
    const int current = Grid(kind)->currentRow();
    command(t, current);
    SetTable(t);
    if (current >= 1 && current < Grid(kind)->rowCount())
        Grid(kind)->setCurrentCell(current, 1);
}

void TDev_prop_Dlg::SaveCsv(TSignalKind kind, const std::string& chosen)
{
    const std::string name = CsvFileName(chosen);
    QSaveFile f(Q(name));
    const std::string bytes = ExportCsv(Table(kind));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes.data(), static_cast<qint64>(bytes.size())) < 0 || !f.commit()) {
        prompts_.Info(texts::CsvNotSaved + name + ": " + f.errorString().toStdString());
        return;
    }
    prompts_.Info("Сохранено в " + name);
}

void TDev_prop_Dlg::LoadCsv(TSignalKind kind, const std::string& path)
{
    QFile f(Q(path));
    if (!f.open(QIODevice::ReadOnly)) {
        prompts_.Info(texts::CsvNotRead + path + ": " + f.errorString().toStdString());
        return;
    }
    TSignalTable t = Table(kind);
    if (const auto refused = ImportCsv(t, f.readAll().toStdString())) {
        prompts_.Info(*refused);
        return;
    }
    SetTable(t);
}

void TDev_prop_Dlg::BeforeShowOptionsUstr(const TServiceContext& ctx, int n, const TPrmn& record)
{
    record_ = record;
    TSignalTable ts(TSignalKind::TS), tit(TSignalKind::TIT);
    if (!ctx.Stations.IsKpIndex(n)) {
        base_.row = T_KP{};
        Name_dev_e->setText(Q(texts::NewStationPrefix + std::to_string(n)));
        IP_e->setText(QStringLiteral("127.0.0.1"));
        Port_e->setValue(2404);
        ASDU_Adr->setValue(1);
        IP2_e->clear();
        for (int i = 1; i < NewStationRows; ++i) {
            AddRowAtEnd(ts);
            AddRowAtEnd(tit);
        }
    } else {
        const T_KP& kp = ctx.Stations.KpTable[static_cast<std::size_t>(n)];
        base_.row = kp;
        Name_dev_e->setText(Q(kp.NameKP));
        IP_e->setText(Q(kp.IP));
        IP2_e->setText(Q(kp.IP2));
        Port2_e->setValue(kp.Port2);
        CB_Passive->setChecked(kp.Passive);
        CB_Start_DT->setChecked(kp.send_start_DT_passiv);
        CB_Pereschet->setChecked(kp.PereschetTI);
        CB_Time_to_OPC->setChecked(kp.Time_To_OPC);
        SE_Time_Popravka->setValue(kp.Popravka_Time);
        Period_opros->setValue(kp.OPROS_KP);
        SE_opros_conters_101->setValue(kp.Interval_opros_counters_101);
        SE_CLOCK_SYNC_103->setValue(kp.Interval_CLOCK_SYNC_103);
        Port_e->setValue(record.Port);
        ASDU_Adr->setValue(kp.ASDU_Adr);
        FillSignalTable(ts, kp);
        FillSignalTable(tit, kp);
    }
    CB_UseWebServer->setChecked(ctx.Switches.UseWebServer);
    SE_Port_WebServ->setValue(ctx.Switches.Port_WebServ);
    CB_Save_Obmen_v_File->setChecked(ctx.Switches.Save_Obmen_v_File.Get());
    SetTable(ts);
    SetTable(tit);
}

TStationEdit TDev_prop_Dlg::Read() const
{
    TStationEdit edit;
    edit.row = base_.row;
    T_KP& kp = edit.row;
    kp.NameKP = CfgFieldText(Name_dev_e);
    kp.IP = CfgFieldText(IP_e);
    kp.Port = Value(Port_e);
    kp.IP2 = CfgFieldText(IP2_e);
    kp.Port2 = Value(Port2_e);
    kp.Passive = CB_Passive->isChecked();
    kp.send_start_DT_passiv = CB_Start_DT->isChecked();
    kp.ASDU_Adr = Value(ASDU_Adr);
    kp.PereschetTI = CB_Pereschet->isChecked();
    kp.OPROS_KP = Value(Period_opros);
    kp.Interval_opros_counters_101 = Value(SE_opros_conters_101);
    kp.Interval_CLOCK_SYNC_103 = Value(SE_CLOCK_SYNC_103);
    kp.Time_To_OPC = CB_Time_to_OPC->isChecked();
    kp.Popravka_Time = Value(SE_Time_Popravka);
    StoreSignalTable(Table(TSignalKind::TS), kp);
    StoreSignalTable(Table(TSignalKind::TIT), kp);
    edit.prm = record_;
    edit.UseWebServer = CB_UseWebServer->isChecked();
    edit.Port_WebServ = Value(SE_Port_WebServ);
    edit.Save_Obmen_v_File = CB_Save_Obmen_v_File->isChecked();
    return edit;
}

void TDev_prop_Dlg::OKBtnClick()
{
    // An address the file cannot hold would make the station's save fail
    // and every edit of this dialog lost: the dialog stays, on that cell.
    for (const TSignalKind kind : {TSignalKind::TS, TSignalKind::TIT})
        if (const auto cell = FindUnwritableAddress(Table(kind))) {
            tabs_->setCurrentIndex(kind == TSignalKind::TS ? 0 : 1);
            Grid(kind)->setCurrentCell(cell->first, cell->second);
            Grid(kind)->setFocus();
            return;
        }
    for (const TSignalKind kind : {TSignalKind::TS, TSignalKind::TIT})
        if (const auto warning = FindDuplicateAddress(Table(kind)))
            prompts_.Info(*warning);
    accept();
}

void TDev_prop_Dlg::ClientParamModal()
{
    record_.Port = Value(Port_e);
    record_.Name.SetText(Name_dev_e->text().toStdString());
    record_.Host.SetText(IP_e->text().toStdString());
    record_.CommonAsduAddress = Value(ASDU_Adr);
    linkDialog_->OutParamForm(record_);
    if (showLinkDialog(*linkDialog_)) {
        const TLinkFields fields = linkDialog_->Fields();
        Port_e->setValue(ClampFieldText(QString::fromStdString(fields.port), 1, MaxPort));
        IP_e->setText(Q(fields.host));
        Name_dev_e->setText(Q(fields.name));
        record_ = linkDialog_->Result();
    }
    Port_e->setValue(record_.Port);
    ASDU_Adr->setValue(record_.CommonAsduAddress);
    record_.prWork1 = 1;
}

bool TDev_prop_Dlg::Edit(const TServiceContext& ctx, int n, TStationEdit& edit)
{
    BeforeShowOptionsUstr(ctx, n, edit.prm);
    // The command's program-wide settings: after a download, the device's.
    CB_UseWebServer->setChecked(edit.UseWebServer);
    SE_Port_WebServ->setValue(edit.Port_WebServ);
    CB_Save_Obmen_v_File->setChecked(edit.Save_Obmen_v_File);
    if (exec() != QDialog::Accepted)
        return false;
    edit = Read();
    return true;
}

} // namespace gw::desktop
