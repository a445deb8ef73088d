#pragma once
// The application of opcstation: an exception that escapes any event handler
// or slot of the main thread (a timer, a button, a menu) becomes one line of
// the exception log, the event is abandoned and the program goes on.

#include <QApplication>

#include <string>

namespace gw::desktop {

class TGuardedApplication final : public QApplication {
    Q_OBJECT
public:
    TGuardedApplication(int& argc, char** argv);

    // The folder of "error_iec104.log"; "" is the current directory.
    void SetLogDir(std::string dir) { logDir_ = std::move(dir); }
    bool notify(QObject* receiver, QEvent* event) override;

private:
    std::string logDir_;
};

} // namespace gw::desktop
