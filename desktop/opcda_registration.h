#pragma once
// The registration of the OPC DA server (ProgID and server entries) behind
// the menu items "Зарегистрировать" / "Разрегистрировать". The registry
// store belongs to the OPC DA server's library; until it is linked in, the
// null registration stands for it and nothing is recorded.

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
