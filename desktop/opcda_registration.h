#pragma once
// The registration of the OPC DA server (ProgID and server entries) behind
// the menu items "Зарегистрировать" / "Разрегистрировать". The program gives
// the window the store's one (opcda_store_registration.h); until then, as in
// windows without an OPC DA server, the null one records nothing.

#include <string>

namespace gw::desktop {

class TOpcDaRegistration {
public:
    virtual ~TOpcDaRegistration() = default;
    virtual void RegisterOPCProgID(const std::string& progId) = 0;
    virtual void RegisterOPCServer() = 0;
    virtual void UnRegisterOPCProgID(const std::string& progId) = 0;
    virtual void UnRegisterOPCServer() = 0;
};

class TNullOpcDaRegistration final : public TOpcDaRegistration {
public:
    void RegisterOPCProgID(const std::string&) override {}
    void RegisterOPCServer() override {}
    void UnRegisterOPCProgID(const std::string&) override {}
    void UnRegisterOPCServer() override {}
};

} // namespace gw::desktop
