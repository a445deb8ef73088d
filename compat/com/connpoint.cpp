#include "compat/com/connpoint.h"

#include <utility>

namespace com {

SingleSinkConnectionPoint::SingleSinkConnectionPoint(IConnectionPointContainer& container, const IID& sinkIid,
                                                     SinkChanged changed)
    : container_(container), sinkIid_(sinkIid), changed_(std::move(changed))
{
}

SingleSinkConnectionPoint::~SingleSinkConnectionPoint() { disconnect(); }

HRESULT SingleSinkConnectionPoint::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (riid != IUnknown::iid && riid != IConnectionPoint::iid)
        return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IConnectionPoint*>(this);
    return S_OK;
}

HRESULT SingleSinkConnectionPoint::GetConnectionInterface(IID* pIID)
{
    if (!pIID)
        return E_POINTER;
    *pIID = sinkIid_;
    return S_OK;
}

HRESULT SingleSinkConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC)
{
    if (!ppCPC)
        return E_POINTER;
    container_.AddRef();
    *ppCPC = &container_;
    return S_OK;
}

HRESULT SingleSinkConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie)
{
    if (pdwCookie)
        *pdwCookie = 0;
    if (!pUnkSink || !pdwCookie)
        return E_POINTER;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (sink_)
            return CONNECT_E_ADVISELIMIT;
        pUnkSink->AddRef();
        sink_ = pUnkSink;
    }
    *pdwCookie = Cookie;
    if (changed_)
        changed_(pUnkSink);
    return S_OK;
}

HRESULT SingleSinkConnectionPoint::Unadvise(DWORD dwCookie)
{
    IUnknown* old = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (dwCookie != Cookie || !sink_)
            return CONNECT_E_NOCONNECTION;
        old = std::exchange(sink_, nullptr);
    }
    if (changed_)
        changed_(nullptr);
    old->Release();
    return S_OK;
}

HRESULT SingleSinkConnectionPoint::EnumConnections(IEnumConnections** ppEnum)
{
    if (ppEnum)
        *ppEnum = nullptr;
    return E_NOTIMPL;
}

void SingleSinkConnectionPoint::disconnect()
{
    IUnknown* old = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        old = std::exchange(sink_, nullptr);
    }
    if (old)
        old->Release();
}

} // namespace com
