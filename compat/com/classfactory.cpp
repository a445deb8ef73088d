#include "compat/com/classfactory.h"

namespace com {

HRESULT FunctionClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject)
{
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter)
        return CLASS_E_NOAGGREGATION;
    IUnknown* object = create_ ? create_() : nullptr;
    if (!object)
        return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(riid, ppvObject);
    object->Release();
    return hr;
}

HRESULT FunctionClassFactory::LockServer(BOOL fLock)
{
    ComModule::instance().lock(fLock != FALSE);
    return S_OK;
}

void ClassTable::registerClass(const CLSID& clsid, ComPtr<IClassFactory> factory)
{
    std::lock_guard<std::mutex> guard(lock_);
    factories_[clsid.toString()] = std::move(factory);
}

void ClassTable::revokeClass(const CLSID& clsid)
{
    ComPtr<IClassFactory> old;
    std::lock_guard<std::mutex> guard(lock_);
    auto it = factories_.find(clsid.toString());
    if (it == factories_.end())
        return;
    old = std::move(it->second);
    factories_.erase(it);
}

HRESULT ClassTable::getClassObject(const CLSID& clsid, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    ComPtr<IClassFactory> factory;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = factories_.find(clsid.toString());
        if (it == factories_.end())
            return REGDB_E_CLASSNOTREG;
        factory = it->second;
    }
    return factory->QueryInterface(riid, ppv);
}

HRESULT ClassTable::createInstance(const CLSID& clsid, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    ComPtr<IClassFactory> factory;
    const HRESULT hr = getClassObject(clsid, IClassFactory::iid, factory.putVoid());
    if (FAILED(hr))
        return hr;
    return factory->CreateInstance(nullptr, riid, ppv);
}

} // namespace com
