#include "core/userarm.h"

#include "support/fake_clock.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

namespace gw::test {
namespace {

TEST(TUserArmRec, FieldsLieWhereTheRecordHasThem)
{
    EXPECT_EQ(offsetof(TUserArmRec, userName), 0u);
    EXPECT_EQ(offsetof(TUserArmRec, pswd), 17u);
    EXPECT_EQ(offsetof(TUserArmRec, FullName), 38u);
    EXPECT_EQ(offsetof(TUserArmRec, Post), 99u);
    EXPECT_EQ(offsetof(TUserArmRec, UserID), 132u);
    EXPECT_EQ(offsetof(TUserArmRec, AccessID), 136u);
    EXPECT_EQ(offsetof(TUserArmRec, accessMask), 140u);
}

TEST(TUserArm1, DefaultUserHasNoRights)
{
    FakeClock clock;
    const TUserArm1 user(clock);
    const TUserArmRec& rec = user.uarec();
    EXPECT_EQ(rec.userName.Text(), "???");
    EXPECT_EQ(rec.userName.length, 3);
    EXPECT_EQ(std::memcmp(rec.userName.chars.data(), "???", 3), 0);
    EXPECT_EQ(rec.FullName.Text(), "");
    EXPECT_EQ(rec.Post.Text(), "");
    EXPECT_EQ(rec.pswd.Text(), "");
    EXPECT_EQ(rec.UserID, 0);
    EXPECT_EQ(rec.AccessID, 0);
    EXPECT_EQ(rec.accessMask, 0u);
}

TEST(TUserArm1, TextsAreWindows1251CutToTheirFields)
{
    FakeClock clock;
    const std::string name = "Диспетчер_подстанции"; // 20 letters for 16 places
    const std::string post(40, 'p');                 // 40 for 32
    const TUserArm1 user(clock, name, "Иванов Иван Иванович", post, "пароль", 7, 3);
    const TUserArmRec& rec = user.uarec();

    EXPECT_EQ(rec.userName.length, 16);
    EXPECT_EQ(rec.userName.chars[0], 0xC4); // Д
    EXPECT_EQ(rec.userName.Text(), "Диспетчер_подста");
    EXPECT_EQ(rec.FullName.Text(), "Иванов Иван Иванович");
    EXPECT_EQ(rec.FullName.length, 20);
    EXPECT_EQ(rec.Post.Text(), std::string(32, 'p'));
    EXPECT_EQ(rec.pswd.Text(), "пароль");
    EXPECT_EQ(rec.pswd.length, 6);
    EXPECT_EQ(rec.UserID, 7);
    EXPECT_EQ(rec.AccessID, 3);
    EXPECT_EQ(rec.accessMask, 0u); // no rights, whoever the user
}

} // namespace
} // namespace gw::test
