#include "desktop/upload_dialog.h"

#include "desktop/texts.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <charconv>
#include <utility>

namespace gw::desktop {

namespace {

QLineEdit* Field(const char* name, QWidget* parent)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    return e;
}

} // namespace

Tdlg_upload_conf::Tdlg_upload_conf(QWidget* parent) : QDialog(parent)
{
    setObjectName("Tdlg_upload_conf");
    Ed_IP_addr1 = Field("Ed_IP_addr1", this);
    SE_port = Field("SE_port", this);
    MaskEdit_pwd_up = Field("MaskEdit_pwd_up", this);
    MaskEdit_pwd_up->setEchoMode(QLineEdit::Password);
    Ed_login_upl = Field("Ed_login_upl", this);
    auto* form = new QFormLayout;
    form->addRow(QString::fromUtf8("IP-адрес"), Ed_IP_addr1);
    form->addRow(QString::fromUtf8("порт"), SE_port);
    form->addRow(QString::fromUtf8("Пароль"), MaskEdit_pwd_up);
    auto* loginCaption = new QLabel(QString::fromUtf8("Логин"), this);
    form->addRow(loginCaption, Ed_login_upl);
    loginCaption->hide();
    Ed_login_upl->hide();
    laRunning = new QLabel(QString::fromUtf8(texts::TransferRunning), this);
    laRunning->setObjectName("laRunning");
    pbRunning = new QProgressBar(this);
    pbRunning->setObjectName("pbRunning");
    pbRunning->setRange(0, 0); // no steps to count: it shows that something runs
    pbRunning->setTextVisible(false);
    buttons_ = new QDialogButtonBox(this);
    QPushButton* ok = buttons_->addButton(QString::fromUtf8(texts::Ok), QDialogButtonBox::AcceptRole);
    ok->setObjectName("OKBtn");
    ok->setDefault(true);
    buttons_->addButton(QString::fromUtf8(texts::Cancel), QDialogButtonBox::RejectRole)->setObjectName("CancelBtn");
    connect(buttons_, &QDialogButtonBox::accepted, this, &Tdlg_upload_conf::OKBtnClick);
    connect(buttons_, &QDialogButtonBox::rejected, this, &Tdlg_upload_conf::reject);
    // The transfer's thread signals its end; the window's thread joins it.
    connect(this, &Tdlg_upload_conf::TransferFinished, this, &Tdlg_upload_conf::TransferEnded, Qt::QueuedConnection);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(laRunning);
    layout->addWidget(pbRunning);
    layout->addWidget(buttons_);
    ShowRunning(false);
}

Tdlg_upload_conf::~Tdlg_upload_conf() { JoinTransfer(); }

void Tdlg_upload_conf::Fill(const std::string& caption, const TConfDev& dev)
{
    setWindowTitle(QString::fromStdString(caption));
    Ed_IP_addr1->setText(QString::fromStdString(dev.IP_addr));
    SE_port->setText(QString::number(dev.port));
    Ed_login_upl->setText(QString::fromStdString(dev.login));
}

void Tdlg_upload_conf::Take(TConfDev& dev, std::string& password) const
{
    dev.IP_addr = Ed_IP_addr1->text().trimmed().toStdString();
    const std::string port = SE_port->text().trimmed().toStdString();
    int value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    dev.port = ec == std::errc() && end == port.data() + port.size() ? value : 0;
    dev.login = Ed_login_upl->text().toStdString();
    password = MaskEdit_pwd_up->text().toStdString();
}

bool Tdlg_upload_conf::Run(const std::string& caption, TConfDev& dev, std::string& password,
                           const std::function<void()>& transfer)
{
    Fill(caption, dev);
    dev_ = &dev;
    password_ = &password;
    transfer_ = &transfer;
    failure_ = nullptr;
    started_ = false;
    exec();
    JoinTransfer();
    dev_ = nullptr;
    password_ = nullptr;
    transfer_ = nullptr;
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
    return started_;
}

void Tdlg_upload_conf::OKBtnClick()
{
    if (TransferRunning() || !transfer_)
        return;
    Take(*dev_, *password_);
    started_ = true;
    ShowRunning(true);
    worker_ = std::thread([this] {
        try {
            (*transfer_)();
        } catch (...) {
            failure_ = std::current_exception();
        }
        Q_EMIT TransferFinished(QPrivateSignal());
    });
}

void Tdlg_upload_conf::TransferEnded()
{
    // Run has already waited for it when the loop ended first.
    if (!TransferRunning())
        return;
    JoinTransfer();
    accept();
}

void Tdlg_upload_conf::reject()
{
    // The transfer cannot be called back half-way: it ends on its own, at the
    // latest with the time-out.
    if (!TransferRunning())
        QDialog::reject();
}

void Tdlg_upload_conf::ShowRunning(bool running)
{
    for (QWidget* w : {static_cast<QWidget*>(Ed_IP_addr1), static_cast<QWidget*>(SE_port),
                       static_cast<QWidget*>(MaskEdit_pwd_up), static_cast<QWidget*>(buttons_)})
        w->setEnabled(!running);
    laRunning->setVisible(running);
    pbRunning->setVisible(running);
}

void Tdlg_upload_conf::JoinTransfer()
{
    if (!worker_.joinable())
        return;
    worker_.join();
    ShowRunning(false);
}

} // namespace gw::desktop
