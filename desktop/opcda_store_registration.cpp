#include "desktop/opcda_store_registration.h"

#include "opcda/registration.h"

namespace gw::desktop {

void TOpcDaStoreRegistration::RegisterOPCProgID(const std::string& progId) { registrar_.RegisterOPCProgID(progId); }

// The menu shows no message either way: a failing step is in the framework log.
void TOpcDaStoreRegistration::RegisterOPCServer() { static_cast<void>(registrar_.RegisterOPCServer()); }

void TOpcDaStoreRegistration::UnRegisterOPCProgID(const std::string& progId) { registrar_.UnRegisterOPCProgID(progId); }

void TOpcDaStoreRegistration::UnRegisterOPCServer() { static_cast<void>(registrar_.UnRegisterOPCServer()); }

} // namespace gw::desktop
