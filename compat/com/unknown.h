#pragma once
// IUnknown and what every object of ours needs around it: an atomic
// reference count, a QueryInterface over the interfaces a class lists, the
// count of live objects of the process, and a smart pointer.
//
// Every interface struct carries its identifier as `iid`, so the table of
// interfaces is the class's list of bases.

#include "compat/com/types.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <utility>

namespace com {

struct IUnknown {
    static constexpr IID iid{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

// Objects alive and server locks of the process. A program started by the
// object system ends when both drop to zero; here that moment is a hook.
class ComModule {
public:
    static ComModule& instance();

    void objectCreated() { ++objects_; }
    void objectDestroyed();
    void lock(bool on);
    long objectCount() const { return objects_.load(); }
    long lockCount() const { return locks_.load(); }
    // Called (on the releasing thread) when the last object and lock are gone.
    void setAllReleasedHook(std::function<void()> hook);

private:
    void checkAllReleased();

    std::atomic<long> objects_{0};
    std::atomic<long> locks_{0};
    std::mutex hookLock_;
    std::function<void()> hook_;
};

// The reference count of one object: created holding one reference.
class ComObjectBase {
public:
    ComObjectBase() { ComModule::instance().objectCreated(); }
    ComObjectBase(const ComObjectBase&) = delete;
    ComObjectBase& operator=(const ComObjectBase&) = delete;
    virtual ~ComObjectBase() { ComModule::instance().objectDestroyed(); }

    // A reference only while the object is still alive: for lists that do
    // not own their entries and may see an object whose last release runs.
    bool TryAddRef()
    {
        ULONG n = refs_.load();
        while (n != 0)
            if (refs_.compare_exchange_weak(n, n + 1))
                return true;
        return false;
    }

protected:
    ULONG addRefImpl() { return ++refs_; }
    ULONG releaseImpl()
    {
        const ULONG n = --refs_;
        if (n == 0)
            delete this;
        return n;
    }

private:
    std::atomic<ULONG> refs_{1};
};

// An object implementing the listed interfaces. QueryInterface answers each
// of them and IUnknown (always the first interface, so identity holds);
// `findExtra` lets a class answer more (IPersist through IPersistFile ...).
template <class First, class... Rest>
class ComObject : public ComObjectBase, public First, public Rest... {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        void* p = find(riid);
        if (!p)
            return E_NOINTERFACE;
        addRefImpl();
        *ppv = p;
        return S_OK;
    }
    ULONG AddRef() override { return addRefImpl(); }
    ULONG Release() override { return releaseImpl(); }

    IUnknown* identity() { return static_cast<First*>(this); }

protected:
    virtual void* findExtra(REFIID) { return nullptr; }

private:
    void* find(REFIID riid)
    {
        if (riid == IUnknown::iid || riid == First::iid)
            return static_cast<First*>(this);
        void* p = nullptr;
        ((p == nullptr && riid == Rest::iid ? (void)(p = static_cast<Rest*>(this)) : (void)0), ...);
        return p ? p : findExtra(riid);
    }
};

// Holds one reference.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a reference of its own.
    explicit ComPtr(T* p) : p_(p)
    {
        if (p_)
            p_->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    template <class U>
    ComPtr(ComPtr<U>&& o) noexcept : p_(o.detach())
    {
    }
    ComPtr& operator=(ComPtr o) noexcept
    {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ComPtr() { reset(); }

    // Takes over a reference the caller already holds.
    static ComPtr adopt(T* p)
    {
        ComPtr r;
        r.p_ = p;
        return r;
    }

    void reset()
    {
        if (T* p = std::exchange(p_, nullptr))
            p->Release();
    }
    T* detach() { return std::exchange(p_, nullptr); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out parameters: the old reference is dropped first.
    T** put()
    {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    template <class I>
    ComPtr<I> as() const
    {
        ComPtr<I> r;
        if (p_)
            p_->QueryInterface(I::iid, r.putVoid());
        return r;
    }

private:
    T* p_ = nullptr;
};

// A new object, its creation reference held by the result.
template <class T, class... Args>
ComPtr<T> makeCom(Args&&... args)
{
    return ComPtr<T>::adopt(new T(std::forward<Args>(args)...));
}

} // namespace com
