// Reference counting, interface lookup, connection points, class table,
// registry and categories.
#include "compat/com/classfactory.h"
#include "compat/com/connpoint.h"
#include "compat/com/registry.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace com;

namespace {

struct IFirst : IUnknown {
    static constexpr IID iid{0x11111111, 1, 1, {1, 1, 1, 1, 1, 1, 1, 1}};
    virtual int first() = 0;
};
struct ISecond : IUnknown {
    static constexpr IID iid{0x22222222, 2, 2, {2, 2, 2, 2, 2, 2, 2, 2}};
    virtual int second() = 0;
};
struct ISink : IUnknown {
    static constexpr IID iid{0x33333333, 3, 3, {3, 3, 3, 3, 3, 3, 3, 3}};
};

class Both final : public ComObject<IFirst, ISecond> {
public:
    explicit Both(int* destroyed = nullptr) : destroyed_(destroyed) {}
    ~Both() override
    {
        if (destroyed_)
            ++*destroyed_;
    }
    int first() override { return 1; }
    int second() override { return 2; }

private:
    int* destroyed_;
};

class Sink final : public ComObject<ISink> {};

class Container final : public ComObject<IConnectionPointContainer> {
public:
    Container() : point(*this, ISink::iid, [this](IUnknown* s) { events.push_back(s != nullptr); }) {}
    HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT FindConnectionPoint(REFIID, IConnectionPoint** pp) override
    {
        point.AddRef();
        *pp = &point;
        return S_OK;
    }
    SingleSinkConnectionPoint point;
    std::vector<bool> events;
};

TEST(ComObject, AnswersItsInterfacesWithOneIdentity)
{
    int destroyed = 0;
    {
        auto obj = makeCom<Both>(&destroyed);
        ComPtr<ISecond> second = ComPtr<IFirst>(obj.get()).as<ISecond>();
        ASSERT_TRUE(second);
        EXPECT_EQ(second->second(), 2);
        ComPtr<IUnknown> u1 = second.as<IUnknown>();
        ComPtr<IUnknown> u2 = ComPtr<IFirst>(obj.get()).as<IUnknown>();
        EXPECT_EQ(u1.get(), u2.get());
        EXPECT_FALSE(second.as<ISink>());
        void* out = &destroyed;
        EXPECT_EQ(obj->QueryInterface(ISink::iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(ComObject, CountsAtomicallyAndRefusesRevivalFromZero)
{
    int destroyed = 0;
    auto* raw = new Both(&destroyed);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([raw] {
            for (int i = 0; i < 10000; ++i) {
                raw->AddRef();
                raw->Release();
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_TRUE(raw->TryAddRef());
    raw->Release();
    raw->Release();
    EXPECT_EQ(destroyed, 1);
}

TEST(ConnectionPoint, TakesOneSinkAndReleasesItOnUnadvise)
{
    auto box = makeCom<Container>();
    auto sink = makeCom<Sink>();
    ComPtr<IConnectionPoint> cp;
    ASSERT_EQ(box->FindConnectionPoint(ISink::iid, cp.put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(cp->Advise(sink->identity(), &cookie), S_OK);
    EXPECT_EQ(cookie, 1u);
    DWORD second = 9;
    EXPECT_EQ(cp->Advise(sink->identity(), &second), CONNECT_E_ADVISELIMIT);
    EXPECT_EQ(cp->Unadvise(7), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(cp->Unadvise(cookie), S_OK);
    EXPECT_EQ(cp->Unadvise(cookie), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(box->events, (std::vector<bool>{true, false}));
    // The sink holds only our reference again.
    EXPECT_EQ(sink->AddRef(), 2u);
    sink->Release();
    ComPtr<IConnectionPointContainer> back;
    ASSERT_EQ(cp->GetConnectionPointContainer(back.put()), S_OK);
    EXPECT_EQ(back.get(), static_cast<IConnectionPointContainer*>(box.get()));
    IEnumConnections* en = nullptr;
    EXPECT_EQ(cp->EnumConnections(&en), E_NOTIMPL);
}

TEST(ConnectionPoint, KeepsItsContainerAlive)
{
    int before = static_cast<int>(ComModule::instance().objectCount());
    ComPtr<IConnectionPoint> cp;
    {
        auto box = makeCom<Container>();
        box->FindConnectionPoint(ISink::iid, cp.put());
    }
    EXPECT_EQ(ComModule::instance().objectCount(), before + 1);
    cp.reset();
    EXPECT_EQ(ComModule::instance().objectCount(), before);
}

TEST(ClassTable, CreatesRegisteredClassesOnly)
{
    ClassTable table;
    const CLSID clsid{0x44444444, 4, 4, {4, 4, 4, 4, 4, 4, 4, 4}};
    void* out = nullptr;
    EXPECT_EQ(table.createInstance(clsid, IFirst::iid, &out), REGDB_E_CLASSNOTREG);
    table.registerClass(clsid, makeCom<FunctionClassFactory>([]() -> IUnknown* { return (new Both)->identity(); }));
    ComPtr<ISecond> obj;
    ASSERT_EQ(table.createInstance(clsid, ISecond::iid, obj.putVoid()), S_OK);
    EXPECT_EQ(obj->second(), 2);
    EXPECT_EQ(table.createInstance(clsid, ISink::iid, &out), E_NOINTERFACE);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(table.getClassObject(clsid, IClassFactory::iid, factory.putVoid()), S_OK);
    auto outer = makeCom<Sink>();
    EXPECT_EQ(factory->CreateInstance(outer->identity(), IUnknown::iid, &out), CLASS_E_NOAGGREGATION);
    factory->LockServer(TRUE);
    EXPECT_EQ(ComModule::instance().lockCount(), 1);
    factory->LockServer(FALSE);
    table.revokeClass(clsid);
    EXPECT_EQ(table.createInstance(clsid, IFirst::iid, &out), REGDB_E_CLASSNOTREG);
}

TEST(ComModule, ReportsWhenTheLastObjectGoes)
{
    int fired = 0;
    auto obj = makeCom<Both>();
    ComModule::instance().setAllReleasedHook([&] { ++fired; });
    const bool othersAlive = ComModule::instance().objectCount() > 1;
    obj.reset();
    ComModule::instance().setAllReleasedHook(nullptr);
    EXPECT_EQ(fired, othersAlive ? 0 : 1);
}

TEST(Registry, KeysWithSubkeysStayAndMissingKeysAreNoError)
{
    InMemoryRegistry reg;
    reg.setValue("CLSID\\{X}\\ProgID", "", "A.B");
    reg.setValue("CLSID\\{X}", "AppID", "{X}");
    EXPECT_TRUE(reg.keyExists("clsid\\{x}"));
    EXPECT_EQ(reg.getValue("CLSID\\{X}", "appid"), "{X}");
    EXPECT_EQ(reg.subKeys("CLSID"), std::vector<std::string>{"{X}"});
    EXPECT_FALSE(reg.deleteKey("CLSID\\{X}"));
    EXPECT_TRUE(reg.keyExists("CLSID\\{X}"));
    EXPECT_TRUE(reg.deleteKey("CLSID\\{X}\\ProgID"));
    EXPECT_TRUE(reg.deleteKey("CLSID\\{X}"));
    EXPECT_TRUE(reg.deleteKey("CLSID\\{Missing}"));
    reg.setValue("A\\B\\C", "", "v");
    reg.deleteTree("A");
    reg.deleteTree("Missing");
    EXPECT_FALSE(reg.keyExists("A\\B"));
    reg.setReadOnly(true);
    EXPECT_THROW(reg.setValue("Z", "", "v"), RegistryError);
    EXPECT_FALSE(reg.keyExists("Z"));
}

TEST(ComponentCategories, DescriptionsCutTo127AndMembershipByClass)
{
    ComponentCategoryStore cats;
    const CATID cat{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    const CLSID cls{9, 9, 9, {9, 9, 9, 9, 9, 9, 9, 9}};
    EXPECT_EQ(cats.registerCategory(cat, 0x409, std::string(200, 'x')), S_OK);
    EXPECT_EQ(cats.description(cat, 0x409)->size(), 127u);
    EXPECT_EQ(cats.addClass(cls, cat), S_OK);
    EXPECT_TRUE(cats.implements(cls, cat));
    EXPECT_EQ(cats.removeClass(cls, cat), S_OK);
    EXPECT_FALSE(cats.implements(cls, cat));
    EXPECT_TRUE(cats.categoryExists(cat));
    cats.setUnavailable(true);
    EXPECT_TRUE(FAILED(cats.addClass(cls, cat)));
}

} // namespace
