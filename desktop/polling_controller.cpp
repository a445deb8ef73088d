#include "desktop/polling_controller.h"

#include <exception>

namespace gw::desktop {

TPollingController::TPollingController(TPollingService& service, TPollingView& view, bool configurator,
                                       std::function<void(const std::exception&)> log)
    : service_(service), view_(view), configurator_(configurator), log_(std::move(log))
{
}

void TPollingController::StartAtCreation()
{
    pollingOn_ = true;
    Begin_Opros();
}

void TPollingController::Button1Click()
{
    pollingOn_ = !pollingOn_;
    Begin_Opros();
    if (!pollingOn_)
        return;
    view_.ShowFirstStation();
    if (!configurator_)
        view_.ShowRestartAdvice();
}

void TPollingController::Begin_Opros()
{
    view_.SetPollingCaption(pollingOn_);
    view_.EnableButtons(!pollingOn_);
    if (pollingOn_)
        Start_IEC104();
    else
        Stop_IEC104();
}

void TPollingController::Start_IEC104()
{
    try {
        service_.Start();
    } catch (const std::exception& e) {
        log_(e);
        // A start that failed must not look like polling: back to stopped,
        // with the partial start freed, the caption and the editing commands.
        pollingOn_ = false;
        service_.Stop();
        view_.SetPollingCaption(false);
        view_.EnableButtons(true);
        return;
    }
    view_.SetTimers(true);
    view_.ShowFirstStation();
}

void TPollingController::Stop_IEC104()
{
    view_.SetTimers(false);
    service_.Stop();
}

} // namespace gw::desktop
