#include "desktop/opcua_dialog.h"

#include "desktop/cfg_text_validator.h"
#include "desktop/clamped_spin_box.h"
#include "desktop/texts.h"
#include "service/cfgfile.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace gw::desktop {

namespace {

// No ',' (the field separator), no '"' (the reader's quote), nothing
// Windows-1251 lacks: "iec104.cfg" could not hold it.
QValidator* CfgFieldValidator(QObject* parent) { return new TCfgTextValidator(",\"", parent); }

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

} // namespace

TOPC_UA_Dlg::TOPC_UA_Dlg(QWidget* parent) : QDialog(parent)
{
    setObjectName("TOPC_UA_Dlg");
    setWindowTitle(Q(texts::OpcUaCaption));
    CB_OPC_UA_use = new QCheckBox(Q(texts::OpcUaUse), this);
    CB_OPC_UA_use->setObjectName("CB_OPC_UA_use");
    CB_OPC_UA_writable = new QCheckBox(Q(texts::OpcUaWritable), this);
    CB_OPC_UA_writable->setObjectName("CB_OPC_UA_writable");
    SE_OPC_UA_Port = new TClampedSpinBox(1, OpcUaMaxPort, this);
    SE_OPC_UA_Port->setObjectName("SE_OPC_UA_Port");
    CB_OPC_UA_by_pwd = new QCheckBox(Q(texts::OpcUaByPwd), this);
    CB_OPC_UA_by_pwd->setObjectName("CB_OPC_UA_by_pwd");
    E_OPC_UA_username = new QLineEdit(this);
    E_OPC_UA_username->setObjectName("E_OPC_UA_username");
    E_OPC_UA_username->setValidator(CfgFieldValidator(this));
    E_OPC_UA_password = new QLineEdit(this);
    E_OPC_UA_password->setObjectName("E_OPC_UA_password");
    E_OPC_UA_password->setEchoMode(QLineEdit::Password);
    E_OPC_UA_password->setValidator(CfgFieldValidator(this));

    auto* form = new QFormLayout;
    form->addRow(CB_OPC_UA_use);
    form->addRow(CB_OPC_UA_writable);
    form->addRow(Q(texts::OpcUaPort), SE_OPC_UA_Port);
    form->addRow(CB_OPC_UA_by_pwd);
    form->addRow(Q(texts::OpcUaLogin), E_OPC_UA_username);
    form->addRow(Q(texts::OpcUaPassword), E_OPC_UA_password);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(Q(texts::Ok), QDialogButtonBox::AcceptRole)->setObjectName("OKBtn");
    buttons->addButton(Q(texts::Cancel), QDialogButtonBox::RejectRole)->setObjectName("CancelBtn");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void TOPC_UA_Dlg::Fill(TOpcUaSettings& settings)
{
    if (settings.OPC_UA_Port == 0)
        settings.OPC_UA_Port = OpcUaDefaultPort;
    CB_OPC_UA_use->setChecked(settings.OPC_UA_use);
    CB_OPC_UA_writable->setChecked(settings.OPC_UA_writable);
    SE_OPC_UA_Port->setValue(settings.OPC_UA_Port);
    CB_OPC_UA_by_pwd->setChecked(settings.OPC_UA_by_pwd);
    E_OPC_UA_username->setText(QString::fromStdString(settings.OPC_UA_username));
    E_OPC_UA_password->setText(QString::fromStdString(settings.OPC_UA_password));
}

void TOPC_UA_Dlg::Store(TOpcUaSettings& settings) const
{
    settings.OPC_UA_use = CB_OPC_UA_use->isChecked();
    settings.OPC_UA_writable = CB_OPC_UA_writable->isChecked();
    settings.OPC_UA_Port = ClampFieldText(SE_OPC_UA_Port->text(), 1, OpcUaMaxPort);
    settings.OPC_UA_by_pwd = CB_OPC_UA_by_pwd->isChecked();
    settings.OPC_UA_username = CfgFieldText(E_OPC_UA_username);
    settings.OPC_UA_password = CfgFieldText(E_OPC_UA_password);
}

bool EditOpcUaSettings(TOPC_UA_Dlg& dialog, TOpcUaSettings& settings)
{
    dialog.Fill(settings);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.Store(settings);
    return true;
}

} // namespace gw::desktop
