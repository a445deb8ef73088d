#include "desktop/upload_dialog.h"

#include "desktop/texts.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <charconv>

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
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QString::fromUtf8(texts::Ok), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    buttons->addButton(QString::fromUtf8(texts::Cancel), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

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

bool Tdlg_upload_conf::Ask(const std::string& caption, TConfDev& dev, std::string& password)
{
    Fill(caption, dev);
    if (exec() != QDialog::Accepted)
        return false;
    Take(dev, password);
    return true;
}

} // namespace gw::desktop
