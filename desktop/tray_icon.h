#pragma once
// The notification-area icon of the main window and its menu: "&Восстановить",
// "&Скрыть", "В&ыход". The icon stays shown for the whole run; the window is
// hidden to it and restored from it. Made only where a notification area
// exists: elsewhere a hidden window could never be brought back.

#include <QObject>
#include <QPoint>
#include <QSystemTrayIcon>

class QAction;
class QMenu;
class QTimer;
class QWidget;

namespace gw::desktop {

// Asked once at start: a notification area that appears later is not used.
bool SystemTrayAvailable();

class TTrayIcon final : public QObject {
    Q_OBJECT
public:
    // The window starts hidden: "&Восстановить" is enabled, "&Скрыть" not.
    explicit TTrayIcon(QWidget& window);

    // "&Скрыть" and "&Восстановить".
    void HideItemClick();
    void RestoreItemClick();
    // The window was minimised: it goes to the notification area instead.
    void Minimised();

private:
    void HideMainForm();
    void RestoreMainForm();
    void Activated(QSystemTrayIcon::ActivationReason reason);

    QWidget& window_;
    QMenu* PopupMenu1 = nullptr;
    QAction* RestoreItem = nullptr;
    QAction* HideItem = nullptr;
    QSystemTrayIcon* icon_ = nullptr;
    // A left press opens the menu only once it is no double click's first
    // press: the menu would take the second one.
    QTimer* menuDelay_ = nullptr;
    QPoint pressedAt_;
};

} // namespace gw::desktop
