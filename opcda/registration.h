#pragma once
// How the server makes itself known: the switches that ask for
// registration, the class registry keys under the classes root, the OPC DA
// 2.0 component category, and the factory of the server class. Where the
// platform would start the program for a client, the class table creates
// the server object in this process.

#include "compat/com/classfactory.h"
#include "compat/com/registry.h"
#include "opcda/opc_core.h"

#include <functional>
#include <memory>
#include <string>

namespace opcda {

enum class StartMode { Normal, RegServer, UnregServer, Embedding, Automation };

// The first of REGSERVER, UNREGSERVER, EMBEDDING, AUTOMATION given with "/"
// or "-" in any letter case; Normal without one.
StartMode parseStartMode(int argc, const char* const* argv);

// What registration writes into and with.
struct Registrar {
    com::RegistryStore& registry;
    com::ComponentCategoryStore& categories;
    std::string ProgID = "Norvane.OPCServer";
    std::string Description = "Norvane";
    std::string programPath; // the program file, for LocalServer32
    std::function<com::LCID()> userLcid = [] { return com::LCID{0x0409}; };

    // Each throws RegistryError when a key cannot be written.
    void RegisterOPCProgID(const std::string& progID);
    void UnRegisterOPCProgID(const std::string& progID);
    // True when every step succeeded; a failing key step is logged.
    bool RegisterOPCServer();
    bool UnRegisterOPCServer();
    void RegisterByStartMode(StartMode mode);

    com::HRESULT AddCategory(const com::CATID& catid, const std::string& description);
    com::HRESULT AddClassToCategory(const com::CLSID& clsid, const com::CATID& catid);
    com::HRESULT RemoveClassFromCategory(const com::CLSID& clsid, const com::CATID& catid);
};

// The factory of the server class: every instance a new server object over
// the core; its registry update is the server class's keys.
class TOPCAutoObjectFactory final : public com::ComObject<com::IClassFactory> {
public:
    TOPCAutoObjectFactory(std::shared_ptr<sOPC> core, Registrar& registrar);

    com::HRESULT CreateInstance(com::IUnknown* pUnkOuter, com::REFIID riid, void** ppvObject) override;
    com::HRESULT LockServer(com::BOOL fLock) override;
    void UpdateRegistry(bool Register);

private:
    std::shared_ptr<sOPC> core_;
    Registrar& registrar_;
};

// The path as the registry holds it. Windows writes the short form of a
// path with a blank; this platform has no short names.
std::string shortPathIfBlank(const std::string& path);

} // namespace opcda
