#include "opcda/registration.h"

#include "opcda/data_access.h"
#include "opcda/opc_defs.h"

#include <algorithm>
#include <cctype>
#include <exception>

namespace opcda {

using namespace com;

namespace {

const std::string ServerKey = "CLSID\\" + CLSID_OPCDataAccess20.toString();
const std::string AppIdKey = "AppID\\" + CLSID_OPCDataAccess20.toString();
constexpr const char* FirstCategoryDescription = "OPC Data Access 2.0 Servers";
constexpr const char* CategoryDescription = "OPC Data Access Servers Version 2.0";

std::string upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

} // namespace

StartMode parseStartMode(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i] ? argv[i] : "";
        if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-'))
            continue;
        const std::string name = upper(arg.substr(1));
        if (name == "REGSERVER")
            return StartMode::RegServer;
        if (name == "UNREGSERVER")
            return StartMode::UnregServer;
        if (name == "EMBEDDING")
            return StartMode::Embedding;
        if (name == "AUTOMATION")
            return StartMode::Automation;
    }
    return StartMode::Normal;
}

std::string shortPathIfBlank(const std::string& path) { return path; }

HRESULT Registrar::AddCategory(const CATID& catid, const std::string& description)
{
    return categories.registerCategory(catid, userLcid(), description);
}

HRESULT Registrar::AddClassToCategory(const CLSID& clsid, const CATID& catid)
{
    return categories.addClass(clsid, catid);
}

HRESULT Registrar::RemoveClassFromCategory(const CLSID& clsid, const CATID& catid)
{
    return categories.removeClass(clsid, catid);
}

void Registrar::RegisterOPCProgID(const std::string& progID)
{
    const std::string clsid = CLSID_OPCDataAccess20.toString();
    registry.setValue(progID, "", Description);
    registry.setValue(progID + "\\Clsid", "", clsid);
    registry.createKey(progID + "\\OPC");
    registry.setValue(ServerKey, "", Description);
    registry.setValue(ServerKey + "\\ProgID", "", progID);
    AddCategory(CATID_OPCDAServer20, FirstCategoryDescription);
    AddClassToCategory(CLSID_OPCDataAccess20, CATID_OPCDAServer20);
}

void Registrar::UnRegisterOPCProgID(const std::string& progID)
{
    registry.deleteTree(ServerKey + "\\ProgID");
    registry.deleteTree(ServerKey);
    registry.deleteTree(progID + "\\OPC");
    registry.deleteTree(progID + "\\Clsid");
    registry.deleteTree(progID);
    RemoveClassFromCategory(CLSID_OPCDataAccess20, CATID_OPCDAServer20);
}

bool Registrar::RegisterOPCServer()
{
    RegisterOPCProgID(ProgID);
    try {
        registry.setValue(ServerKey, "AppID", CLSID_OPCDataAccess20.toString());
        registry.setValue(AppIdKey, "", Description);
        registry.setValue(AppIdKey, "RunAs", "Interactive User");
    } catch (const std::exception& e) {
        LogException("RegisterOPCServer", e.what());
        return false;
    }
    if (FAILED(AddCategory(CATID_OPCDAServer20, CategoryDescription)))
        return false;
    return SUCCEEDED(AddClassToCategory(CLSID_OPCDataAccess20, CATID_OPCDAServer20));
}

bool Registrar::UnRegisterOPCServer()
{
    UnRegisterOPCProgID(ProgID);
    RemoveClassFromCategory(CLSID_OPCDataAccess20, CATID_OPCDAServer20);
    try {
        registry.deleteTree(AppIdKey);
        registry.deleteTree(ServerKey);
    } catch (const std::exception& e) {
        LogException("UnRegisterOPCServer", e.what());
        return false;
    }
    return true;
}

void Registrar::RegisterByStartMode(StartMode mode)
{
    if (mode == StartMode::RegServer)
        RegisterOPCServer();
    else if (mode == StartMode::UnregServer)
        UnRegisterOPCServer();
}

TOPCAutoObjectFactory::TOPCAutoObjectFactory(std::shared_ptr<sOPC> core, Registrar& registrar)
    : core_(std::move(core)), registrar_(registrar)
{
}

HRESULT TOPCAutoObjectFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject)
{
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter)
        return CLASS_E_NOAGGREGATION;
    auto server = makeCom<sOPCDataAccess>(core_);
    return server->QueryInterface(riid, ppvObject);
}

HRESULT TOPCAutoObjectFactory::LockServer(BOOL fLock)
{
    ComModule::instance().lock(fLock != FALSE);
    return S_OK;
}

void TOPCAutoObjectFactory::UpdateRegistry(bool Register)
{
    RegistryStore& r = registrar_.registry;
    const std::string& progID = registrar_.ProgID;
    if (Register) {
        r.setValue(ServerKey, "", registrar_.Description);
        r.setValue(ServerKey + "\\LocalServer32", "", shortPathIfBlank(registrar_.programPath));
        r.setValue(progID, "", registrar_.Description);
        r.setValue(progID + "\\Clsid", "", CLSID_OPCDataAccess20.toString());
        r.setValue(ServerKey + "\\ProgID", "", progID);
        r.setValue(ServerKey + "\\Version", "", "1.0");
        r.setValue(ServerKey + "\\TypeLib", "", LIBID_sOPC.toString());
        return;
    }
    // A key that still has subkeys stays; the server's own unregistration removes it.
    for (const std::string& key : {ServerKey + "\\ProgID", progID + "\\Clsid", progID, ServerKey + "\\LocalServer32",
                                   ServerKey, ServerKey + "\\TypeLib", ServerKey + "\\Version"})
        r.deleteKey(key);
}

} // namespace opcda
