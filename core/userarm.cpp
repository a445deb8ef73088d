#include "core/userarm.h"

namespace gw {

TUserArm1::TUserArm1(TClock& clock) : TUserArm1(clock, "???", "", "", "", 0, 0) {}

TUserArm1::TUserArm1(TClock& clock, std::string_view UserName, std::string_view UserFullName, std::string_view APost,
                     std::string_view APswd, std::int32_t AUserID, std::int32_t AccessID)
    : TimeSbrosAccessTU(clock, true)
{
    uarec_.userName.Assign(UserName);
    uarec_.pswd.Assign(APswd);
    uarec_.FullName.Assign(UserFullName);
    uarec_.Post.Assign(APost);
    uarec_.UserID = AUserID;
    uarec_.AccessID = AccessID;
    uarec_.accessMask = 0;
}

} // namespace gw
