#pragma once
// The menu items "Зарегистрировать" / "Разрегистрировать" over the OPC DA
// server's own registration: the ProgID and server entries go into the
// registry store the registrar writes, and come out of it again.

#include "desktop/opcda_registration.h"

namespace opcda {
struct Registrar;
}

namespace gw::desktop {

class TOpcDaStoreRegistration final : public TOpcDaRegistration {
public:
    // The registrar must outlive this.
    explicit TOpcDaStoreRegistration(opcda::Registrar& registrar) : registrar_(registrar) {}

    // A store that refuses a key throws; the window's guard logs it.
    void RegisterOPCProgID(const std::string& progId) override;
    void RegisterOPCServer() override;
    void UnRegisterOPCProgID(const std::string& progId) override;
    void UnRegisterOPCServer() override;

private:
    opcda::Registrar& registrar_;
};

} // namespace gw::desktop
