#pragma once
// The notification-area icon of the main window and its menu: "&Восстановить",
// "&Скрыть", "В&ыход". The icon stays shown for the whole run; the window is
// hidden to it and restored from it. Made only where a notification area
// exists: elsewhere a hidden window could never be brought back.

#include <QObject>
#include <QSystemTrayIcon>

class QAction;
class QMenu;
class QWidget;

namespace gw::desktop {

// Asked once at start: a notification area that appears later is not used.
bool SystemTrayAvailable();

class TTrayIcon final : public QObject {
    Q_OBJECT
public:
    // The window starts hidden: "&Восстановить" is enabled, "&Скрыть" not.
    explicit TTrayIcon(QWidget& window);

    void HideToTray();
    void RestoreFromTray();
    // The window was minimised: it goes to the notification area instead.
    void Minimised();

private:
    void Activated(QSystemTrayIcon::ActivationReason reason);

    QWidget& window_;
    QMenu* PopupMenu1 = nullptr;
    QAction* RestoreItem = nullptr;
    QAction* HideItem = nullptr;
    QSystemTrayIcon* icon_ = nullptr;
};

} // namespace gw::desktop
