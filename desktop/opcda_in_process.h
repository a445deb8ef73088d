#pragma once
// The OPC DA server inside opcstation: the server core over the running
// service's stations and values (the same context, its locks and its command
// entry), its registration in the registry store, and the class table
// through which a client in this process creates it. There is no object
// runtime on this platform to start the program for a client from outside.

#include "compat/com/classfactory.h"
#include "compat/com/registry.h"
#include "desktop/opcda_server.h"
#include "desktop/opcda_store_registration.h"
#include "opcda/registration.h"
#include "opcda/station_callbacks.h"

#include <memory>
#include <string>

namespace gw {
class TServiceContext;
}

namespace gw::desktop {

class TOpcDaInProcess final : public TOpcDaServer {
public:
    // ctx must outlive this; programPath is the program file the registry names.
    TOpcDaInProcess(TServiceContext& ctx, std::string programPath);
    // Clients in this process release their objects before.
    ~TOpcDaInProcess() override;
    TOpcDaInProcess(const TOpcDaInProcess&) = delete;
    TOpcDaInProcess& operator=(const TOpcDaInProcess&) = delete;

    // Also binds the build, read and write callbacks to the service's stations.
    void Init(const std::string& progId, const std::string& description, bool setExePath, bool logFlag) override;
    // Server objects being created wait until this.
    void Start() override;
    void ShutDown() override;
    int GetServerCount() const override;
    int GetGroupCount() const override;

    // Where a client in this process creates the server (CLSID_OPCDataAccess20).
    com::ClassTable& Classes() { return classes_; }
    TOpcDaRegistration& Registration() { return registration_; }
    com::InMemoryRegistry& Registry() { return registry_; }
    com::ComponentCategoryStore& Categories() { return categories_; }

private:
    // First: server objects and groups keep it, so it goes last.
    std::shared_ptr<opcda::sOPC> core_;
    opcda::StationModel model_;
    com::InMemoryRegistry registry_;
    com::ComponentCategoryStore categories_;
    opcda::Registrar registrar_;
    TOpcDaStoreRegistration registration_{registrar_};
    com::ClassTable classes_; // its factory refers to the registrar
};

} // namespace gw::desktop
