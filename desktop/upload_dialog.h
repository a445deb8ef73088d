#pragma once
// Tdlg_upload_conf: the device address, port and password of a transfer.
// The password stays in the field for the run; the port field reads as 0
// when it is not an integer (the transfer then reports the error).

#include "desktop/remote_config.h"

#include <QDialog>

class QLineEdit;
class QLabel;

namespace gw::desktop {

class Tdlg_upload_conf final : public QDialog, public TTransferDialogPort {
    Q_OBJECT
public:
    explicit Tdlg_upload_conf(QWidget* parent = nullptr);

    void Fill(const std::string& caption, const TConfDev& dev);
    void Take(TConfDev& dev, std::string& password) const;
    bool Ask(const std::string& caption, TConfDev& dev, std::string& password) override;

private:
    QLineEdit* Ed_IP_addr1 = nullptr;
    QLineEdit* SE_port = nullptr;
    QLineEdit* MaskEdit_pwd_up = nullptr;
    QLineEdit* Ed_login_upl = nullptr;
};

} // namespace gw::desktop
