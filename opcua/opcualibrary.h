#pragma once
// The outside OPC UA library as the bridge sees it: loaded at run time from
// the service directory, its 13 entry points looked up by name, and the one
// addition where the library has it. These are the bridge's own declarations
// of them; nothing of the library is included.

#include <Poco/SharedLibrary.h>

#include <cstdint>
#include <string>

namespace gw {

inline constexpr const char* OpcUaLibraryName = "libtagserve.so";

extern "C" {
// Called on the library's server thread after a client wrote variable id.
using TOpcUaWriteCallback = void (*)(std::int32_t id);

using TDLL_add = std::int32_t (*)();
using TUA_ServerNetworkLayerTCP_dll = std::int32_t (*)(std::int32_t port, std::int32_t byPassword,
                                                       std::int32_t userLength, std::int32_t passwordLength,
                                                       TOpcUaWriteCallback callback, const char* credentials);
using Tsetrunning_bool = std::int32_t (*)(std::int32_t running);
using Tgetrunning_bool = std::int32_t (*)();
using Tadd_new_group = std::int32_t (*)(std::int32_t nameLength, std::int32_t groupId, const char* name);
using TAdd_new_perem = std::int32_t (*)(std::int32_t nameLength, std::int32_t id, std::int32_t type,
                                        std::int32_t groupId, std::int32_t ns, std::int32_t writable, const char* name);
using TAdd_All_perem_to_serv = std::int32_t (*)();
using TSet_new_val_to_perem = std::int32_t (*)(std::int32_t type, std::int32_t id, std::int32_t intValue,
                                               double doubleValue, std::uint32_t status, std::int64_t sourceTime,
                                               std::int64_t serverTime);
using Tget_int32_valwrite_by_index = std::int32_t (*)(std::int32_t id);
using Tget_double_valwrite_by_index = double (*)(std::int32_t id);
using Tget_bool_valwrite_by_index = std::uint8_t (*)(std::int32_t id);
using TSet_new_quality_to_perem = std::int32_t (*)(std::int32_t id, std::uint32_t status, std::int64_t sourceTime,
                                                   std::int64_t serverTime);
using Tcreate_din_arrays = std::int32_t (*)(std::int32_t variableCount, std::int32_t groupCount);

// The addition: a write callback whose result, an OPC UA status, is the
// write's answer to the client, used instead of the plain one once set.
using TOpcUaWriteStatusCallback = std::uint32_t (*)(std::int32_t id);
using Tset_write_status_callback = std::int32_t (*)(TOpcUaWriteStatusCallback callback);
}

// The entry points, all set once the library is loaded; the addition stays
// null in a library without it.
struct TOpcUaEntryPoints {
    TDLL_add DLL_add = nullptr;
    TUA_ServerNetworkLayerTCP_dll UA_ServerNetworkLayerTCP_dll = nullptr;
    Tsetrunning_bool setrunning_bool = nullptr;
    Tgetrunning_bool getrunning_bool = nullptr;
    Tadd_new_group add_new_group = nullptr;
    TAdd_new_perem Add_new_perem = nullptr;
    TAdd_All_perem_to_serv Add_All_perem_to_serv = nullptr;
    TSet_new_val_to_perem Set_new_val_to_perem = nullptr;
    Tget_int32_valwrite_by_index get_int32_valwrite_by_index = nullptr;
    Tget_double_valwrite_by_index get_double_valwrite_by_index = nullptr;
    Tget_bool_valwrite_by_index get_bool_valwrite_by_index = nullptr;
    TSet_new_quality_to_perem Set_new_quality_to_perem = nullptr;
    Tcreate_din_arrays create_din_arrays = nullptr;
    Tset_write_status_callback set_write_status_callback = nullptr;
};

// The loaded library; empty until Load succeeds.
class TOpcUaLibrary {
public:
    // Loads path (lazily bound, its symbols local) and looks up all 13 entry points and the
    // addition. False, with why in error, when the file cannot be loaded or
    // lacks one of the 13; nothing stays loaded then.
    bool Load(const std::string& path, std::string& error);
    void Unload();
    bool IsLoaded() const { return lib_.isLoaded(); }
    const TOpcUaEntryPoints& Api() const { return api_; }

private:
    void LookUpAll();

    Poco::SharedLibrary lib_;
    TOpcUaEntryPoints api_;
};

} // namespace gw
