// Switches, registry keys and the component category.
#include "fixture.h"

#include "opcda/registration.h"

namespace opcda::test {
namespace {

TEST(StartMode, SwitchesWithSlashOrDashInAnyCase)
{
    const struct {
        std::vector<const char*> args;
        StartMode mode;
    } cases[] = {
        {{"prog", "/RegServer"}, StartMode::RegServer},       {{"prog", "-UNREGSERVER"}, StartMode::UnregServer},
        {{"prog", "/Embedding"}, StartMode::Embedding},       {{"prog", "-automation"}, StartMode::Automation},
        {{"prog", "regserver"}, StartMode::Normal},           {{"prog"}, StartMode::Normal},
        {{"prog", "-x", "/regserver"}, StartMode::RegServer},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseStartMode(static_cast<int>(c.args.size()), c.args.data()), c.mode) << c.args.back();
}

class Registration : public ::testing::Test {
protected:
    const std::string clsid = CLSID_OPCDataAccess20.toString();
    const std::string serverKey = "CLSID\\" + clsid;
    InMemoryRegistry registry;
    ComponentCategoryStore categories;
    Registrar registrar{registry, categories, "Norvane.OPCServer", "Norvane", "/opt/gate/opcstation"};
    std::shared_ptr<sOPC> core = std::make_shared<sOPC>();

    // A run with REGSERVER: the server class's keys, then the server's own.
    void registerRun()
    {
        auto factory = makeCom<TOPCAutoObjectFactory>(core, registrar);
        factory->UpdateRegistry(true);
        registrar.RegisterByStartMode(StartMode::RegServer);
    }
};

TEST_F(Registration, RegServerWritesEveryKey)
{
    registerRun();
    EXPECT_EQ(registry.getValue("Norvane.OPCServer", ""), "Norvane");
    EXPECT_EQ(registry.getValue("Norvane.OPCServer\\Clsid", ""), clsid);
    EXPECT_TRUE(registry.keyExists("Norvane.OPCServer\\OPC"));
    EXPECT_EQ(registry.getValue(serverKey, ""), "Norvane");
    EXPECT_EQ(registry.getValue(serverKey, "AppID"), clsid);
    EXPECT_EQ(registry.getValue(serverKey + "\\LocalServer32", ""), "/opt/gate/opcstation");
    EXPECT_EQ(registry.getValue(serverKey + "\\ProgID", ""), "Norvane.OPCServer");
    EXPECT_EQ(registry.getValue(serverKey + "\\Version", ""), "1.0");
    EXPECT_EQ(registry.getValue(serverKey + "\\TypeLib", ""), "{962230D1-FFF4-4F92-88A6-67C5CBBA90E7}");
    EXPECT_EQ(registry.getValue("AppID\\" + clsid, "RunAs"), "Interactive User");
    EXPECT_TRUE(categories.implements(CLSID_OPCDataAccess20, CATID_OPCDAServer20));
    EXPECT_EQ(categories.description(CATID_OPCDAServer20, 0x0409), "OPC Data Access Servers Version 2.0");
    const std::size_t keys = registry.keyCount();
    registerRun();
    EXPECT_EQ(registry.keyCount(), keys);
    EXPECT_TRUE(registrar.RegisterOPCServer());
}

TEST_F(Registration, UnregServerRemovesEverythingButTheCategory)
{
    registerRun();
    auto factory = makeCom<TOPCAutoObjectFactory>(core, registrar);
    factory->UpdateRegistry(false);
    EXPECT_TRUE(registry.keyExists(serverKey)); // its AppID value's key had subkeys left
    EXPECT_TRUE(registrar.UnRegisterOPCServer());
    EXPECT_FALSE(registry.keyExists("Norvane.OPCServer"));
    EXPECT_FALSE(registry.keyExists(serverKey));
    EXPECT_FALSE(registry.keyExists("AppID\\" + clsid));
    EXPECT_EQ(registry.keyCount(), 2u); // the two empty roots
    EXPECT_FALSE(categories.implements(CLSID_OPCDataAccess20, CATID_OPCDAServer20));
    EXPECT_TRUE(categories.categoryExists(CATID_OPCDAServer20));
    EXPECT_TRUE(registrar.UnRegisterOPCServer()); // nothing left to delete is no error
}

TEST_F(Registration, NoWriteAccessReachesTheCaller)
{
    registry.setReadOnly(true);
    EXPECT_THROW(registrar.RegisterOPCServer(), RegistryError);
    registry.setReadOnly(false);
    categories.setUnavailable(true);
    EXPECT_FALSE(registrar.RegisterOPCServer());
}

TEST_F(Registration, TheFactoryMakesServerObjects)
{
    core->setStartDelay(std::chrono::milliseconds(0));
    core->setManualTicks(true);
    core->Start();
    ClassTable classes;
    classes.registerClass(CLSID_OPCDataAccess20, makeCom<TOPCAutoObjectFactory>(core, registrar));
    ComPtr<IOPCServer> server;
    ASSERT_EQ(classes.createInstance(CLSID_OPCDataAccess20, IOPCServer::iid, server.putVoid()), S_OK);
    EXPECT_EQ(core->GetServerCount(), 1);
    ComPtr<IUnknown> unk;
    EXPECT_EQ(classes.createInstance(CLSID_OPCGroup, IUnknown::iid, unk.putVoid()), REGDB_E_CLASSNOTREG);
    server.reset();
    classes.revokeClass(CLSID_OPCDataAccess20);
}

} // namespace
} // namespace opcda::test
