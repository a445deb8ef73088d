#include "core/errlist.h"
#include "core/messbuff.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace gw {
namespace {

TEST(MessBuff, CategoriesFollowTheMask)
{
    TMessBuff buff(10);
    buff.Put(0x2000, "tag", 1.0);
    buff.Put(0, "always", 2.0);
    EXPECT_EQ(buff.Count(), 1);
    buff.SetLogMask(0x2000);
    buff.Put(0x2000, "tag", 3.0);
    buff.Put(0x2001, "either bit", 4.0);
    buff.Put(0x0004, "other", 5.0);
    buff.Put(0, "always", 0.0);
    EXPECT_EQ(buff.Count(), 4);

    std::string text;
    TDateTime dt = -1;
    ASSERT_TRUE(buff.Get(text, dt));
    EXPECT_EQ(text, "always");
    EXPECT_EQ(dt, 2.0);
    EXPECT_EQ(buff.Get(), "tag");
    EXPECT_EQ(buff.Get(), "either bit");
    ASSERT_TRUE(buff.Get(text, dt));
    EXPECT_EQ(dt, 0.0); // stored as given
    text = "untouched";
    EXPECT_FALSE(buff.Get(text, dt));
    EXPECT_EQ(text, "untouched");
    EXPECT_EQ(dt, 0.0);
}

TEST(MessBuff, FullQueueEndsWithTheOverflowLine)
{
    TMessBuff buff(3);
    buff.Put(0, "A", 1.0);
    buff.Put(0, "B", 2.0);
    buff.Put(0, "C", 3.0);
    buff.Put(0, "D", 4.0); // dropped
    EXPECT_EQ(buff.Count(), 3);
    EXPECT_EQ(buff.Get(), "A");
    buff.Put(0, "E", 5.0); // fills it again
    EXPECT_EQ(buff.Get(), "B");
    EXPECT_EQ(buff.Get(), TMessBuff::OverflowText);
    std::string text;
    TDateTime dt = 0;
    ASSERT_TRUE(buff.Get(text, dt));
    EXPECT_EQ(text, TMessBuff::OverflowText);
    EXPECT_EQ(dt, 5.0); // the stamp of the message it replaced
    EXPECT_EQ(buff.Count(), 0);
}

TEST(MessBuff, ConcurrentPutLosesNothing)
{
    constexpr int threads = 8, each = 500;
    TMessBuff buff(threads * each + 1);
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([&buff, t] {
            for (int i = 0; i < each; ++i)
                buff.Put(0, std::to_string(t) + ":" + std::to_string(i), t);
        });
    for (auto& w : writers)
        w.join();
    ASSERT_EQ(buff.Count(), threads * each);
    std::set<std::string> seen;
    for (int i = 0; i < threads * each; ++i)
        seen.insert(buff.Get());
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(threads * each));
    EXPECT_TRUE(seen.count("7:499"));
}

TEST(ErrLstArm, Texts)
{
    const TErrLstArm errors;
    EXPECT_EQ(errors.Count(), 9);
    EXPECT_EQ(errors.GetMess(1001), "1001: Мала константа MAX_KPLIST");
    EXPECT_EQ(errors.GetMess(1008), "1008: Неизвестный код сообщения");
    EXPECT_EQ(errors.GetMess(5), "Неизвестный код сообщения");
    EXPECT_EQ(errors.GetMess(1004, "iec104.cfg"), "1004: Ошибка открытия файла\riec104.cfg");
}

} // namespace
} // namespace gw
