#include "desktop/about_dialog.h"

#include "desktop/texts.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace gw::desktop {

TAboutBox::TAboutBox(bool configurator, QWidget* parent) : QDialog(parent)
{
    setObjectName("TAboutBox");
    setWindowTitle(QString::fromUtf8(texts::About));
    auto* layout = new QVBoxLayout(this);
    auto* picture = new QLabel(this);
    picture->setObjectName("ProgramIcon");
    picture->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(48, 48));
    layout->addWidget(picture);
    auto* product = new QLabel(QString::fromUtf8(texts::AppTitle), this);
    product->setObjectName("ProductName");
    layout->addWidget(product);
    auto* version = new QLabel(QStringLiteral("Version 1.19"), this);
    version->setObjectName("Version");
    layout->addWidget(version);
    if (configurator) {
        auto* line = new QLabel(QString::fromUtf8("Конфигуратор для Linux версии"), this);
        line->setObjectName("ConfiguratorLine");
        layout->addWidget(line);
    }
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QString::fromUtf8(texts::Ok), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

} // namespace gw::desktop
