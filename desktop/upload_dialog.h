#pragma once
// Tdlg_upload_conf: the device address, port and password of a transfer.
// The password stays in the field for the run; the port field reads as 0
// when it is not an integer (the transfer then reports the error).
//
// OK starts the transfer on a thread of its own and the dialog stays open,
// showing that it runs: its fields and buttons are disabled meanwhile, and
// neither Escape nor the close box can leave it. It closes when the
// transfer ends. The window's loop turns all the while (the service tick,
// the grids, repaints).

#include "desktop/remote_config.h"

#include <QDialog>

#include <exception>
#include <thread>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QProgressBar;

namespace gw::desktop {

class Tdlg_upload_conf final : public QDialog, public TTransferDialogPort {
    Q_OBJECT
public:
    explicit Tdlg_upload_conf(QWidget* parent = nullptr);
    ~Tdlg_upload_conf() override;

    void Fill(const std::string& caption, const TConfDev& dev);
    void Take(TConfDev& dev, std::string& password) const;
    bool Run(const std::string& caption, TConfDev& dev, std::string& password,
             const std::function<void()>& transfer) override;
    bool TransferRunning() const { return worker_.joinable(); }

    void reject() override;

Q_SIGNALS:
    void TransferFinished(QPrivateSignal);

private:
    void OKBtnClick();
    void TransferEnded();
    void ShowRunning(bool running);
    // Waits for a transfer the dialog's loop left running (the program ending).
    void JoinTransfer();

    QLineEdit* Ed_IP_addr1 = nullptr;
    QLineEdit* SE_port = nullptr;
    QLineEdit* MaskEdit_pwd_up = nullptr;
    QLineEdit* Ed_login_upl = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
    QLabel* laRunning = nullptr;
    QProgressBar* pbRunning = nullptr;

    // Of the Run in progress: where OK puts the fields, what it starts,
    // whether it started it and what the transfer threw.
    TConfDev* dev_ = nullptr;
    std::string* password_ = nullptr;
    const std::function<void()>* transfer_ = nullptr;
    std::exception_ptr failure_;
    bool started_ = false;
    std::thread worker_;
};

} // namespace gw::desktop
