// The window and its notification-area icon: what each event does to the
// window's visibility and to the tray menu, with a notification area and
// without one (where the window must never vanish).

#include "desktop_fixture.h"

#include "desktop/desktop_service.h"
#include "desktop/main_window.h"
#include "desktop/opcda_server.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace gw::test {
namespace {

enum class Event { None, RestoreItem, HideItem, DoubleClick, LeftClick, RightClick, Minimise };

const char* Name(Event e)
{
    static const char* const names[] = {"none",       "restore",     "hide",    "double click",
                                        "left click", "right click", "minimise"};
    return names[static_cast<int>(e)];
}

// A window as the program makes it, in a program folder without stations.
struct Window {
    Window(bool trayAvailable, bool configurator)
        : service(temp.path(), configurator), form(service, opcDa, prompts, configurator, trayAvailable)
    {
        temp.Write("iec104.cfg", ";kol,0\r\n");
        form.FormCreate();
    }
    QAction* Item(const char* name) { return form.findChild<QAction*>(name); }
    QSystemTrayIcon* Icon() { return form.findChild<QSystemTrayIcon*>(); }
    QMenu* Menu() { return form.findChild<QMenu*>("PopupMenu1"); }

    void Fire(Event e)
    {
        switch (e) {
        case Event::None: break;
        case Event::RestoreItem: Item("RestoreItem")->trigger(); break;
        case Event::HideItem: Item("HideItem")->trigger(); break;
        case Event::DoubleClick:
            // The icon reports the first press of a double click as a click of its own.
            Q_EMIT Icon()->activated(QSystemTrayIcon::Trigger);
            Q_EMIT Icon()->activated(QSystemTrayIcon::DoubleClick);
            break;
        case Event::LeftClick:
            Q_EMIT Icon()->activated(QSystemTrayIcon::Trigger);
            // The menu waits for the double-click interval to pass without a second click.
            EXPECT_FALSE(Menu()->isVisible());
            EXPECT_TRUE(QTest::qWaitFor([this] { return Menu()->isVisible(); }, 10000));
            break;
        case Event::RightClick: Q_EMIT Icon()->activated(QSystemTrayIcon::Context); break;
        case Event::Minimise: form.showMinimized(); break;
        }
        // The minimise hides the window from the next turn of the loop.
        QCoreApplication::processEvents();
    }

    TempDir temp;
    desktop::TDesktopService service;
    desktop::TNullOpcDaServer opcDa;
    RecordingPrompts prompts;
    desktop::TOPCForm form;
};

TEST(Tray, EventsMoveTheWindowBetweenShownAndHidden)
{
    struct Case {
        bool tray;
        bool configurator;
        bool startShown; // restored once before the event
        Event event;
        bool visible;
        bool restoreEnabled;
        bool hideEnabled;
        bool menuOpen;
    };
    const Case cases[] = {
        // A notification area, normal mode: the window starts hidden.
        {true, false, false, Event::None, false, true, false, false},
        {true, false, false, Event::RestoreItem, true, false, true, false},
        {true, false, false, Event::DoubleClick, true, false, true, false},
        {true, false, false, Event::LeftClick, false, true, false, true},
        {true, false, false, Event::RightClick, false, true, false, false},
        {true, false, false, Event::HideItem, false, true, false, false},
        {true, false, false, Event::Minimise, false, true, false, false},
        {true, false, true, Event::HideItem, false, true, false, false},
        {true, false, true, Event::Minimise, false, true, false, false},
        {true, false, true, Event::DoubleClick, true, false, true, false},
        {true, false, true, Event::RestoreItem, true, false, true, false},
        {true, false, true, Event::LeftClick, true, false, true, true},
        // No notification area, or configurator mode: no icon, no tray menu,
        // and a minimise is only a minimise.
        {false, false, true, Event::None, true, false, false, false},
        {false, false, true, Event::Minimise, true, false, false, false},
        {true, true, true, Event::None, true, false, false, false},
        {true, true, true, Event::Minimise, true, false, false, false},
        {false, true, true, Event::Minimise, true, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "tray " << c.tray << ", configurator " << c.configurator << ", shown "
                                          << c.startShown << ", " << Name(c.event));
        Window w(c.tray, c.configurator);
        const bool hasIcon = c.tray && !c.configurator;
        ASSERT_EQ(w.Icon() != nullptr, hasIcon);
        ASSERT_EQ(w.Menu() != nullptr, hasIcon);
        if (hasIcon && c.startShown)
            w.Fire(Event::RestoreItem);
        w.Fire(c.event);
        EXPECT_EQ(w.form.isVisible(), c.visible);
        if (!hasIcon)
            continue;
        EXPECT_EQ(w.Item("RestoreItem")->isEnabled(), c.restoreEnabled);
        EXPECT_EQ(w.Item("HideItem")->isEnabled(), c.hideEnabled);
        EXPECT_TRUE(w.Item("FileExitItem1")->isEnabled());
        EXPECT_EQ(w.Menu()->isVisible(), c.menuOpen);
        // The icon stays, whether the window is shown or not, and has a picture.
        EXPECT_TRUE(w.Icon()->isVisible());
        EXPECT_FALSE(w.Icon()->icon().isNull());
        EXPECT_EQ(w.Icon()->toolTip(), "Norvane");
    }
}

TEST(Tray, ExitAndTheCloseBoxEndTheProgramWhetherShownOrHidden)
{
    enum class How { ExitItem, CloseBox };
    struct Case {
        bool startShown;
        How how;
    };
    for (const Case c : {Case{false, How::ExitItem}, Case{true, How::ExitItem}, Case{true, How::CloseBox}}) {
        SCOPED_TRACE(::testing::Message() << "shown " << c.startShown << ", exit item " << (c.how == How::ExitItem));
        Window w(true, false);
        if (c.startShown)
            w.Fire(Event::RestoreItem);
        ASSERT_EQ(w.form.isVisible(), c.startShown);
        QTimer::singleShot(0, &w.form, [&w, c] {
            if (c.how == How::ExitItem)
                w.Item("FileExitItem1")->trigger();
            else
                w.form.close();
        });
        // Only a program that does not end meets this deadline.
        bool stillRunning = false;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, [&stillRunning] {
            stillRunning = true;
            QCoreApplication::quit();
        });
        deadline.start(10000);
        QApplication::exec();
        EXPECT_FALSE(stillRunning);
        EXPECT_FALSE(w.form.isVisible());
    }
}

} // namespace
} // namespace gw::test
