#pragma once
// What the station dialog gives back on OK: the station row with its
// signals, its channel record as the link parameters left it, and the three
// program-wide settings it also shows.

#include "core/prmn.h"
#include "service/tables.h"

namespace gw::desktop {

struct TStationEdit {
    T_KP row;
    TPrmn prm{};
    bool UseWebServer = false;
    int Port_WebServ = 80;
    bool Save_Obmen_v_File = false;
};

// Shows the station dialog for station n (n > KpCount: a new one) over the
// channel record edit.prm and the settings in edit; true on OK with edit
// filled.
class TStationDialogPort {
public:
    virtual ~TStationDialogPort() = default;
    virtual bool Edit(const TServiceContext& ctx, int n, TStationEdit& edit) = 0;
};

} // namespace gw::desktop
