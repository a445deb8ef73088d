#pragma once
// A connection point that takes one sink, part of the object that contains
// it: it counts its references on that object, so a client holding only the
// connection point keeps the whole object alive.

#include "compat/com/interfaces.h"

#include <functional>
#include <mutex>

namespace com {

class SingleSinkConnectionPoint final : public IConnectionPoint {
public:
    // Told of every accepted Advise (sink) and Unadvise (null), under no lock
    // of the connection point, before the call returns.
    using SinkChanged = std::function<void(IUnknown* sink)>;

    SingleSinkConnectionPoint(IConnectionPointContainer& container, const IID& sinkIid, SinkChanged changed);
    SingleSinkConnectionPoint(const SingleSinkConnectionPoint&) = delete;
    SingleSinkConnectionPoint& operator=(const SingleSinkConnectionPoint&) = delete;
    ~SingleSinkConnectionPoint();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return container_.AddRef(); }
    ULONG Release() override { return container_.Release(); }

    HRESULT GetConnectionInterface(IID* pIID) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    HRESULT Unadvise(DWORD dwCookie) override;
    HRESULT EnumConnections(IEnumConnections** ppEnum) override;

    // Drops the sink without telling anyone: the container goes away.
    void disconnect();

    static constexpr DWORD Cookie = 1;

private:
    IConnectionPointContainer& container_;
    const IID sinkIid_;
    SinkChanged changed_;
    std::mutex lock_;
    IUnknown* sink_ = nullptr; // one reference held
};

} // namespace com
