#pragma once
// TFormParam104: the IEC 104 link parameters of one channel. It shows a
// record, and on OK holds the confirmed one and hands the name, host and
// port to the station dialog. Every numeric edit takes digits only, so a
// confirmation can never stop half-way.

#include "desktop/link_params.h"

#include <QDialog>

#include <functional>
#include <map>

class QLineEdit;

namespace gw::desktop {

class TFormParam104 final : public QDialog {
    Q_OBJECT
public:
    explicit TFormParam104(QWidget* parent = nullptr);

    void OutParamForm(const TPrmn& record);
    void ButtonDefaultClick();
    // OK: InParamForm, and the dialog closes as confirmed; false when it stays.
    bool BitBtn1Click();
    // The edits into the record, whole, or false (and nothing changed) with
    // the focus on the field that is empty.
    bool InParamForm();
    const TPrmn& Result() const { return pprm1_; }
    TLinkFields Fields() const;
    void SetFields(const TLinkFields& fields);

private:
    QLineEdit* Edit(const char* name, bool numeric);

    std::map<std::string, QLineEdit*> edits_;
    TPrmn pprm1_{};
};

} // namespace gw::desktop
