#pragma once
// Class factories and the table that activation goes through. Without an
// object system on this platform, a client in the same process creates a
// server by its class id here.

#include "compat/com/interfaces.h"

#include <functional>
#include <map>
#include <mutex>

namespace com {

// A factory whose objects come from `create` (a new object holding its one
// reference, or null when it cannot be made).
class FunctionClassFactory final : public ComObject<IClassFactory> {
public:
    using Creator = std::function<IUnknown*()>;
    explicit FunctionClassFactory(Creator create) : create_(std::move(create)) {}

    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override;
    HRESULT LockServer(BOOL fLock) override;

private:
    Creator create_;
};

class ClassTable {
public:
    void registerClass(const CLSID& clsid, ComPtr<IClassFactory> factory);
    void revokeClass(const CLSID& clsid);
    HRESULT getClassObject(const CLSID& clsid, REFIID riid, void** ppv);
    // The in-process stand-in for creating an instance of a class.
    HRESULT createInstance(const CLSID& clsid, REFIID riid, void** ppv);

private:
    std::mutex lock_;
    std::map<std::string, ComPtr<IClassFactory>> factories_; // by class id text
};

} // namespace com
