#include "desktop/link_param_dialog.h"

#include "desktop/cfg_text_validator.h"
#include "desktop/texts.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

namespace gw::desktop {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QGroupBox* Group(const char* title, std::initializer_list<std::pair<const char*, QWidget*>> rows, QWidget* parent)
{
    auto* box = new QGroupBox(QString::fromUtf8(title), parent);
    auto* form = new QFormLayout(box);
    for (const auto& [caption, field] : rows)
        form->addRow(QString::fromUtf8(caption), field);
    return box;
}

QLineEdit* ReadOnly(const char* name, const char* value, QWidget* parent)
{
    auto* e = new QLineEdit(QString::fromUtf8(value), parent);
    e->setObjectName(name);
    e->setReadOnly(true);
    return e;
}

} // namespace

TFormParam104::TFormParam104(QWidget* parent) : QDialog(parent)
{
    setObjectName("TFormParam104");
    setWindowTitle(QString::fromUtf8("Параметры протокола"));
    auto* tabs = new QTabWidget(this);
    auto* page1 = new QWidget(tabs);
    auto* page2 = new QWidget(tabs);
    auto* l1 = new QVBoxLayout(page1);
    l1->addWidget(Group("Communication Parameters", {{"Device Name", Edit("EditDevName", false)}}, page1));
    l1->addWidget(Group("TCT/IP Parameters",
                        {{"Slave Host", Edit("EditHost", false)}, {"Slave TCP Port", Edit("EditPort", true)}}, page1));
    l1->addWidget(Group("Window Sizes", {{"k", Edit("Edit_k", true)}, {"w", Edit("Edit_w", true)}}, page1));
    l1->addWidget(Group("Timeouts (sec)",
                        {{"t0", Edit("Edit_t0", true)},
                         {"t1", Edit("Edit_t1", true)},
                         {"t2", Edit("Edit_t2", true)},
                         {"t3", Edit("Edit_t3", true)}},
                        page1));
    l1->addWidget(Group(
        "Connection Retries",
        {{"Retry Count", Edit("EditRetryCount", true)}, {"Retry Delay (sec)", Edit("EditRetryTimeout", true)}}, page1));
    auto* l2 = new QVBoxLayout(page2);
    l2->addWidget(Group("Applications Timeouts",
                        {{"Confirmation (ms)", Edit("EditConfirmationTimeout", true)},
                         {"Termination (ms)", Edit("EditTerminationTimeout", true)}},
                        page2));
    l2->addWidget(Group("Field Sizes",
                        {{"Common ASDU Address", ReadOnly("EditSzAsduAddress", "2", page2)},
                         {"Information Object Address", ReadOnly("EditSzInfObjddress", "3", page2)},
                         {"Cause of Trannsmition", ReadOnly("EditSzCOT", "2", page2)},
                         {"Link Address", ReadOnly("EditSzLinkAddress", "0", page2)}},
                        page2));
    l2->addWidget(Group("870 Protocol",
                        {{"Common ASDU Address", Edit("EditCommonASDUAddress", true)},
                         {"Originator Address", Edit("EditOriginatorAddress", true)},
                         {"Receive Buffer Length", Edit("EditReceiveBufferLength", true)}},
                        page2));
    auto* clock = new QWidget(page2);
    auto* clockRow = new QHBoxLayout(clock);
    auto* every = new QCheckBox(QStringLiteral("Perform every"), clock);
    every->setObjectName("CheckBoxClockSyn");
    clockRow->addWidget(every);
    clockRow->addWidget(Edit("EditClockSinhronizationTime", true));
    clockRow->addWidget(new QLabel(QStringLiteral("min"), clock));
    l2->addWidget(Group("Clock Sinhronization", {{"", clock}}, page2));
    tabs->addTab(page1, QStringLiteral("Communication Parameters"));
    tabs->addTab(page2, QStringLiteral("870 Protocol"));

    auto* defaults = new QPushButton(QString::fromUtf8("Параметры по умолчанию"), this);
    defaults->setObjectName("ButtonDefault");
    connect(defaults, &QPushButton::clicked, this, [this] { ButtonDefaultClick(); });
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(defaults, QDialogButtonBox::ResetRole);
    buttons->addButton(QString::fromUtf8(texts::Ok), QDialogButtonBox::AcceptRole)->setObjectName("BitBtn1");
    buttons->addButton(QString::fromUtf8(texts::Cancel), QDialogButtonBox::RejectRole)->setObjectName("BitBtn2");
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { BitBtn1Click(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
}

QLineEdit* TFormParam104::Edit(const char* name, bool numeric)
{
    auto* e = new QLineEdit(this);
    e->setObjectName(name);
    if (numeric)
        e->setValidator(new QRegularExpressionValidator(QRegularExpression("-?[0-9]{0,9}"), e));
    else // the name and the host go into the station dialog's fields, which refuse these too
        e->setValidator(new TCfgTextValidator(",\"", e));
    edits_[name] = e;
    return e;
}

TLinkFields TFormParam104::Fields() const
{
    auto t = [this](const char* name) { return edits_.at(name)->text().toStdString(); };
    // clang-format off
    return TLinkFields{t("EditDevName"),           t("EditHost"),
                       t("EditPort"),              t("Edit_k"),
                       t("Edit_w"),                t("Edit_t0"),
                       t("Edit_t1"),               t("Edit_t2"),
                       t("Edit_t3"),               t("EditRetryCount"),
                       t("EditRetryTimeout"),      t("EditConfirmationTimeout"),
                       t("EditTerminationTimeout"), t("EditCommonASDUAddress"),
                       t("EditOriginatorAddress"), t("EditReceiveBufferLength"),
                       t("EditClockSinhronizationTime")};
    // clang-format on
}

void TFormParam104::SetFields(const TLinkFields& f)
{
    const std::pair<const char*, const std::string*> all[] = {
        {"EditDevName", &f.name},
        {"EditHost", &f.host},
        {"EditPort", &f.port},
        {"Edit_k", &f.k},
        {"Edit_w", &f.w},
        {"Edit_t0", &f.t0},
        {"Edit_t1", &f.t1},
        {"Edit_t2", &f.t2},
        {"Edit_t3", &f.t3},
        {"EditRetryCount", &f.retryCount},
        {"EditRetryTimeout", &f.retryDelay},
        {"EditConfirmationTimeout", &f.confirmation},
        {"EditTerminationTimeout", &f.termination},
        {"EditCommonASDUAddress", &f.commonAddress},
        {"EditOriginatorAddress", &f.originatorAddress},
        {"EditReceiveBufferLength", &f.receiveBufferLength},
        {"EditClockSinhronizationTime", &f.clockMinutes},
    };
    for (const auto& [name, value] : all)
        edits_.at(name)->setText(Q(*value));
}

void TFormParam104::OutParamForm(const TPrmn& record) { SetFields(LinkFieldsOf(record)); }

void TFormParam104::ButtonDefaultClick() { SetFields(DefaultLinkFields()); }

bool TFormParam104::BitBtn1Click()
{
    if (!InParamForm())
        return false;
    accept();
    return true;
}

bool TFormParam104::InParamForm()
{
    std::string bad;
    const std::optional<TPrmn> record = LinkRecordOf(Fields(), &bad);
    if (!record) {
        edits_.at(bad)->setFocus();
        return false;
    }
    pprm1_ = *record;
    return true;
}

} // namespace gw::desktop
