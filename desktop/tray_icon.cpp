#include "desktop/tray_icon.h"

#include "desktop/texts.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QStyle>
#include <QTimer>
#include <QWidget>

namespace gw::desktop {

namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

// An icon without a picture takes no place in the notification area at all.
QIcon TrayPicture(const QWidget& window)
{
    const QIcon own = window.windowIcon();
    return own.isNull() ? QApplication::style()->standardIcon(QStyle::SP_ComputerIcon) : own;
}

} // namespace

bool SystemTrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

TTrayIcon::TTrayIcon(QWidget& window) : QObject(&window), window_(window)
{
    PopupMenu1 = new QMenu(&window);
    PopupMenu1->setObjectName("PopupMenu1");
    RestoreItem = PopupMenu1->addAction(Q(texts::TrayRestore), this, [this] { RestoreItemClick(); });
    RestoreItem->setObjectName("RestoreItem");
    RestoreItem->setShortcut(QKeySequence("Ctrl+R"));
    HideItem = PopupMenu1->addAction(Q(texts::TrayHide), this, [this] { HideItemClick(); });
    HideItem->setObjectName("HideItem");
    HideItem->setShortcut(QKeySequence("Ctrl+H"));
    HideItem->setEnabled(false);
    PopupMenu1->addSeparator();
    QAction* exit = PopupMenu1->addAction(Q(texts::TrayExit), &window, [&window] { window.close(); });
    exit->setObjectName("FileExitItem1");
    exit->setShortcut(QKeySequence("Alt+X"));
    icon_ = new QSystemTrayIcon(TrayPicture(window), this);
    icon_->setObjectName("TrayIcon");
    icon_->setToolTip(Q(texts::AppTitle));
    menuDelay_ = new QTimer(this);
    menuDelay_->setSingleShot(true);
    connect(menuDelay_, &QTimer::timeout, this, [this] {
        window_.activateWindow();
        PopupMenu1->popup(pressedAt_);
    });
    // No context menu of its own: a right click does nothing, a left one pops the menu.
    connect(icon_, &QSystemTrayIcon::activated, this, &TTrayIcon::Activated);
    icon_->show();
}

void TTrayIcon::Activated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger) {
        pressedAt_ = QCursor::pos();
        menuDelay_->start(QApplication::doubleClickInterval());
    } else if (reason == QSystemTrayIcon::DoubleClick) {
        menuDelay_->stop();
        RestoreItemClick();
    }
}

void TTrayIcon::HideItemClick()
{
    HideMainForm();
    HideItem->setEnabled(false);
    RestoreItem->setEnabled(true);
}

void TTrayIcon::RestoreItemClick()
{
    RestoreMainForm();
    HideItem->setEnabled(true);
    RestoreItem->setEnabled(false);
}

void TTrayIcon::HideMainForm() { window_.hide(); }

void TTrayIcon::RestoreMainForm()
{
    window_.showNormal();
    window_.activateWindow();
}

void TTrayIcon::Minimised()
{
    // Hiding inside the state change itself would be undone by it.
    QTimer::singleShot(0, this, [this] {
        if (window_.isMinimized())
            HideItemClick();
    });
}

} // namespace gw::desktop
