#pragma once
// TDev_prop_Dlg ("Настройки КП"): one station's connection, periodic
// requests, time options, its two signal tables and the three program-wide
// settings. It works on copies: nothing outside it changes until the
// station command stores its result after OK, so Cancel cancels everything,
// the link parameters behind "Дополнительно" included.

#include "desktop/signal_table.h"
#include "desktop/station_edit.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QLineEdit;
class QTabWidget;
class QTableWidget;
class QTableWidgetItem;

namespace gw::desktop {

class TClampedSpinBox;
class TFormParam104;
class TPrompts;

// Field limits: TCP ports and the common address as their fields carry them.
constexpr int MaxPort = 65535;
constexpr int MaxCommonAddress = 65535;
constexpr int MaxPeriodMinutes = 65000;
constexpr int MinWebPort = 80;
constexpr int MaxTimeCorrectionHours = 24;

class TDev_prop_Dlg final : public QDialog, public TStationDialogPort {
    Q_OBJECT
public:
    TDev_prop_Dlg(TPrompts& prompts, QWidget* parent = nullptr);

    // Fills from station n, or the defaults of a new one (n > KpCount).
    void BeforeShowOptionsUstr(const TServiceContext& ctx, int n, const TPrmn& record);
    TStationEdit Read() const;
    // The duplicate-address warnings (never blocking), then accept.
    void OKBtnClick();
    // "Дополнительно": the link parameters of the working record.
    void ClientParamModal();
    bool Edit(const TServiceContext& ctx, int n, TStationEdit& edit) override;

    TSignalTable Table(TSignalKind kind) const;
    void SetTable(const TSignalTable& table);
    // The CSV commands of a page, with the file already chosen.
    void SaveCsv(TSignalKind kind, const std::string& chosen);
    void LoadCsv(TSignalKind kind, const std::string& path);
    // How the link dialog is shown (tests answer it without a modal loop).
    std::function<bool(TFormParam104&)> showLinkDialog;
    TFormParam104& LinkDialog() { return *linkDialog_; }

private:
    QWidget* BuildFields();
    QWidget* BuildPage(TSignalKind kind);
    QTableWidget* Grid(TSignalKind kind) const;
    void CellChanged(TSignalKind kind, QTableWidgetItem* item);
    void RowCommand(TSignalKind kind, const std::function<void(TSignalTable&, int)>& command);

    TPrompts& prompts_;
    TFormParam104* linkDialog_ = nullptr;
    TPrmn record_{};
    TStationEdit base_; // the parts of the row the dialog does not show

    QLineEdit* Name_dev_e = nullptr;
    QLineEdit* IP_e = nullptr;
    TClampedSpinBox* Port_e = nullptr;
    TClampedSpinBox* ASDU_Adr = nullptr;
    QLineEdit* IP2_e = nullptr;
    TClampedSpinBox* Port2_e = nullptr;
    QCheckBox* CB_Passive = nullptr;
    QCheckBox* CB_Start_DT = nullptr;
    QCheckBox* CB_Pereschet = nullptr;
    QCheckBox* CB_Time_to_OPC = nullptr;
    TClampedSpinBox* SE_Time_Popravka = nullptr;
    TClampedSpinBox* Period_opros = nullptr;
    TClampedSpinBox* SE_opros_conters_101 = nullptr;
    TClampedSpinBox* SE_CLOCK_SYNC_103 = nullptr;
    QCheckBox* CB_UseWebServer = nullptr;
    TClampedSpinBox* SE_Port_WebServ = nullptr;
    QCheckBox* CB_Save_Obmen_v_File = nullptr;
    QTableWidget* StringGrid_TS = nullptr;
    QTableWidget* StringGrid_TIT = nullptr;
    QTabWidget* tabs_ = nullptr;
};

} // namespace gw::desktop
