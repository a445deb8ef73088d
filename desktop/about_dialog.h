#pragma once
// TAboutBox ("О программе"): product, version and, for the configurator,
// the line that says so.

#include <QDialog>

namespace gw::desktop {

class TAboutBox final : public QDialog {
    Q_OBJECT
public:
    TAboutBox(bool configurator, QWidget* parent = nullptr);
};

} // namespace gw::desktop
