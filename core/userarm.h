#pragma once
// The current user and its rights. Both programs keep one user, created by
// the service init as the default user "???" without any right; there is no
// login, and nothing tests the rights yet.

#include "core/cp1251.h"
#include "core/stopwatch.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace gw {

// The rights by bit number of `accessMask`.
enum AccessPointName : int {
    apn_Reserv1,
    apn_ChOwnPswd,
    apn_Kvitir,
    apn_Manual,
    apn_TU,
    apn_UstavkiTIT,
    apn_EditScheme,
    apn_UsersEdit,
    apn_Reserv2,
    apn_Reserv3,
    apn_ChAccessPoint,
    apn_DebugTU,
    apn_ChannelAdmin,
};

// A length byte and up to Capacity Windows-1251 characters behind it.
template <std::size_t Capacity>
struct TShortString {
    std::uint8_t length = 0;
    std::array<std::uint8_t, Capacity> chars{};

    // Stores the UTF-8 text as Windows-1251, cut to the capacity.
    void Assign(std::string_view utf8)
    {
        const std::string bytes = Utf8ToCp1251(utf8);
        const std::size_t n = std::min(bytes.size(), Capacity);
        chars.fill(0);
        std::copy_n(bytes.begin(), n, chars.begin());
        length = static_cast<std::uint8_t>(n);
    }
    std::string Text() const
    {
        const std::size_t n = std::min<std::size_t>(length, Capacity);
        return Cp1251ToUtf8(std::string_view(reinterpret_cast<const char*>(chars.data()), n));
    }
};

// 144 bytes, laid out field by field without gaps.
struct TUserArmRec {
    TShortString<16> userName;
    TShortString<20> pswd;
    TShortString<60> FullName;
    TShortString<32> Post;
    std::int32_t UserID = 0;
    std::int32_t AccessID = 0;
    std::uint32_t accessMask = 0; // bit n grants right n of AccessPointName
};
static_assert(sizeof(TUserArmRec) == 144);

class TUserArm1 {
public:
    // The default user: "???", no full name, position or password, ids 0.
    explicit TUserArm1(TClock& clock);
    // Texts are cut to their fields; the user starts without any right.
    TUserArm1(TClock& clock, std::string_view UserName, std::string_view UserFullName, std::string_view APost,
              std::string_view APswd, std::int32_t AUserID, std::int32_t AccessID);

    const TUserArmRec& uarec() const { return uarec_; }

private:
    TUserArmRec uarec_;
    // Started with the user; kept for the timed release of command rights,
    // which nothing uses yet.
    TTimeCheckPause TimeSbrosAccessTU;
};

} // namespace gw
