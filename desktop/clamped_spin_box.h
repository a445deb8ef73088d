#pragma once
// An integer field with a range that takes any typed number and clamps it to
// the range when the field is left, the way the station dialogs behave: a
// stock QSpinBox refuses the digit that overflows instead ("70000" in
// 1..65532 would stay 7000). Text that is no integer reads as the minimum.

#include <QSpinBox>

namespace gw::desktop {

class TClampedSpinBox final : public QSpinBox {
    Q_OBJECT
public:
    TClampedSpinBox(int minimum, int maximum, QWidget* parent = nullptr);

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    int valueFromText(const QString& text) const override;
    void fixup(QString& input) const override;
};

// The value a field of minimum..maximum gives typed text.
int ClampFieldText(const QString& text, int minimum, int maximum);

} // namespace gw::desktop
