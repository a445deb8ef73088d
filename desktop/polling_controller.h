#pragma once
// Starting and stopping the polling: the button, its caption, the editing
// commands that are usable only while stopped, the timers of the tick and
// the grid refresh. Written against two small interfaces so that it runs
// without a window.

#include <exception>
#include <functional>

namespace gw::desktop {

class TPollingView {
public:
    virtual ~TPollingView() = default;
    virtual void SetPollingCaption(bool pollingOn) = 0;
    virtual void EnableButtons(bool enabled) = 0;
    virtual void SetTimers(bool running) = 0;
    // Selects the first station and shows it in the grids.
    virtual void ShowFirstStation() = 0;
    virtual void ShowRestartAdvice() = 0;
};

class TPollingService {
public:
    virtual ~TPollingService() = default;
    virtual void Start() = 0; // throws when the start fails
    virtual void Stop() = 0;
};

class TPollingController {
public:
    // log: where a failing start's exception goes (the exception log).
    TPollingController(TPollingService& service, TPollingView& view, bool configurator,
                       std::function<void(const std::exception&)> log);

    bool PollingOn() const { return pollingOn_; }
    // At window creation with stations configured: start, no advice.
    void StartAtCreation();
    // The button: toggles; a start by it gives the restart advice (normal mode).
    void Button1Click();
    void Begin_Opros();

private:
    void Start_IEC104();
    void Stop_IEC104();

    TPollingService& service_;
    TPollingView& view_;
    bool configurator_;
    std::function<void(const std::exception&)> log_;
    bool pollingOn_ = false;
};

} // namespace gw::desktop
