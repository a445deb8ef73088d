#include "compat/com/unknown.h"

namespace com {

ComModule& ComModule::instance()
{
    static ComModule module;
    return module;
}

void ComModule::objectDestroyed()
{
    --objects_;
    checkAllReleased();
}

void ComModule::lock(bool on)
{
    if (on) {
        ++locks_;
        return;
    }
    --locks_;
    checkAllReleased();
}

void ComModule::setAllReleasedHook(std::function<void()> hook)
{
    std::lock_guard<std::mutex> guard(hookLock_);
    hook_ = std::move(hook);
}

void ComModule::checkAllReleased()
{
    if (objects_.load() != 0 || locks_.load() != 0)
        return;
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> guard(hookLock_);
        hook = hook_;
    }
    if (hook)
        hook();
}

} // namespace com
