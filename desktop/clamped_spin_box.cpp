#include "desktop/clamped_spin_box.h"

#include <algorithm>

namespace gw::desktop {

int ClampFieldText(const QString& text, int minimum, int maximum)
{
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok);
    if (!ok)
        return minimum;
    return static_cast<int>(std::clamp<qlonglong>(v, minimum, maximum));
}

TClampedSpinBox::TClampedSpinBox(int minimum, int maximum, QWidget* parent) : QSpinBox(parent)
{
    setRange(minimum, maximum);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    setButtonSymbols(QAbstractSpinBox::NoButtons);
}

QValidator::State TClampedSpinBox::validate(QString& input, int&) const
{
    const QString t = input.trimmed();
    if (t.isEmpty() || t == "-" || t == "+")
        return QValidator::Intermediate;
    bool ok = false;
    t.toLongLong(&ok);
    if (!ok)
        return QValidator::Invalid;
    const int v = ClampFieldText(t, minimum(), maximum());
    return QString::number(v) == t ? QValidator::Acceptable : QValidator::Intermediate;
}

int TClampedSpinBox::valueFromText(const QString& text) const { return ClampFieldText(text, minimum(), maximum()); }

void TClampedSpinBox::fixup(QString& input) const
{
    input = QString::number(ClampFieldText(input, minimum(), maximum()));
}

} // namespace gw::desktop
