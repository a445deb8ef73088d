#pragma once
// TOPC_UA_Dlg: the OPC UA server settings of "iec104.cfg". A port of 0 is
// taken as 16670 before the dialog shows; OK copies the fields back. The
// login and password are stored unquoted in a comma-separated file, so the
// fields refuse ',' and '"'.

#include <QDialog>

class QCheckBox;
class QLineEdit;

namespace gw {
struct TOpcUaSettings;
}

namespace gw::desktop {

class TClampedSpinBox;

constexpr int OpcUaDefaultPort = 16670;
constexpr int OpcUaMaxPort = 65532;

class TOPC_UA_Dlg final : public QDialog {
    Q_OBJECT
public:
    explicit TOPC_UA_Dlg(QWidget* parent = nullptr);

    // Port 0 becomes 16670 in settings itself, then the fields show settings.
    void Fill(TOpcUaSettings& settings);
    // The fields into settings (the dialog's OK).
    void Store(TOpcUaSettings& settings) const;

private:
    QCheckBox* CB_OPC_UA_use = nullptr;
    QCheckBox* CB_OPC_UA_writable = nullptr;
    TClampedSpinBox* SE_OPC_UA_Port = nullptr;
    QCheckBox* CB_OPC_UA_by_pwd = nullptr;
    QLineEdit* E_OPC_UA_username = nullptr;
    QLineEdit* E_OPC_UA_password = nullptr;
};

// Fill, show modally, Store on OK. The caller writes "iec104.cfg" either way.
bool EditOpcUaSettings(TOPC_UA_Dlg& dialog, TOpcUaSettings& settings);

} // namespace gw::desktop
