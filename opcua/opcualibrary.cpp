#include "opcua/opcualibrary.h"

#include <Poco/Exception.h>

namespace gw {

namespace {

template <class Fn>
void LookUp(Poco::SharedLibrary& lib, const char* name, Fn& fn)
{
    fn = reinterpret_cast<Fn>(lib.getSymbol(name)); // throws when missing
}

} // namespace

void TOpcUaLibrary::LookUpAll()
{
    LookUp(lib_, "DLL_add", api_.DLL_add);
    LookUp(lib_, "UA_ServerNetworkLayerTCP_dll", api_.UA_ServerNetworkLayerTCP_dll);
    LookUp(lib_, "setrunning_bool", api_.setrunning_bool);
    LookUp(lib_, "getrunning_bool", api_.getrunning_bool);
    LookUp(lib_, "add_new_group", api_.add_new_group);
    LookUp(lib_, "Add_new_perem", api_.Add_new_perem);
    LookUp(lib_, "Add_All_perem_to_serv", api_.Add_All_perem_to_serv);
    LookUp(lib_, "Set_new_val_to_perem", api_.Set_new_val_to_perem);
    LookUp(lib_, "get_int32_valwrite_by_index", api_.get_int32_valwrite_by_index);
    LookUp(lib_, "get_double_valwrite_by_index", api_.get_double_valwrite_by_index);
    LookUp(lib_, "get_bool_valwrite_by_index", api_.get_bool_valwrite_by_index);
    LookUp(lib_, "Set_new_quality_to_perem", api_.Set_new_quality_to_perem);
    LookUp(lib_, "create_din_arrays", api_.create_din_arrays);
    if (lib_.hasSymbol("set_write_status_callback"))
        LookUp(lib_, "set_write_status_callback", api_.set_write_status_callback);
}

bool TOpcUaLibrary::Load(const std::string& path, std::string& error)
{
    Unload();
    try {
        // Its names stay its own: nothing loaded later binds to them.
        lib_.load(path, Poco::SharedLibrary::SHLIB_LOCAL);
        LookUpAll();
        return true;
    } catch (const Poco::Exception& e) {
        error = e.displayText();
    }
    Unload();
    return false;
}

void TOpcUaLibrary::Unload()
{
    if (lib_.isLoaded())
        lib_.unload();
    api_ = {};
}

} // namespace gw
