#pragma once
// The three callbacks that put the gateway's stations into the address
// space: the build (one branch per station, its "Connected", its points and
// measurements, and "lifebit"), the read from the OPC item table and the
// write that becomes an On or Off command.
//
// The service owns the item table and its numbering; these callbacks only
// read them, under the service's locks. The build records the numbering it
// used: while the service's numbering differs (a restart with another
// configuration), reads give bad quality and writes command nothing, since an
// old item would otherwise show or command another signal.

#include "core/command.h"
#include "opcda/opc_core.h"
#include "service/tables.h"

#include <functional>
#include <mutex>
#include <set>

namespace opcda {

class StationModel {
public:
    using CommandEntry = std::function<bool(int sstID, gw::TTUCommand command)>;

    // The command entry defaults to the service's own.
    explicit StationModel(gw::TServiceContext& ctx, CommandEntry executeTU = nullptr);

    // Binds the build, read and write slots of the core to this model,
    // which must outlive the core's use of them.
    void bind(sOPC& core);

    void OpcItemsInitAddressSpace(sOPC& core);
    void OpcItemsRead(sOPCNode& node, const std::u16string& path, com::VARTYPE dataType);
    // S_OK only when the command was handed to the service and taken.
    com::HRESULT OpcItemsWrite(sOPCNode& node, const com::VARIANT& value, const std::u16string& path,
                               com::VARTYPE dataType);

    std::int32_t LifebitIdent() const { return lifebit_.load(); }

private:
    // True when the service's current numbering is the one built from.
    bool numberingMatches();
    std::uint64_t currentFingerprint() const; // with the run held
    void readRow(sOPCNode& node, TDateTime now);

    gw::TServiceContext& ctx_;
    CommandEntry executeTU_;
    sOPC* core_ = nullptr;
    std::atomic<std::int32_t> lifebit_{0};
    std::set<std::int32_t> connectedIdents_; // written by the build only
    std::uint64_t builtFingerprint_ = 0;
    std::mutex numberingLock_;
    const void* checkedRun_ = nullptr;
    bool checkedMatches_ = false;
};

} // namespace opcda
