#include "core/prmn.h"

#include "testkit/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace gw {
namespace {

using test::TempDir;
using Bytes = std::string;

std::int32_t LoadInt(const Bytes& b, std::size_t at)
{
    std::int32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

void StoreInt(Bytes& b, std::size_t at, std::int32_t v) { std::memcpy(b.data() + at, &v, 4); }

// The file's checksum computed here on its own, from the file's bytes.
std::int32_t FileChecksum(const Bytes& file)
{
    std::int64_t sum = LoadInt(file, 0);
    const std::size_t end = file.size() - 4;
    for (std::size_t i = 8; i < end; ++i) {
        sum += static_cast<std::uint8_t>(file[i]);
        if (sum > 0x0FFFFFFF)
            sum -= 0x0FFFFFFF;
    }
    return static_cast<std::int32_t>(sum);
}

// A file of count records whose record i has Port 1000 + i, with a right checksum.
Bytes MakeFile(std::int32_t count)
{
    Bytes file(8 + 160 * static_cast<std::size_t>(count) + 4, '\0');
    StoreInt(file, 0, PrmnFileVersion);
    StoreInt(file, 4, count);
    for (std::int32_t i = 0; i < count; ++i) {
        const std::size_t rec = 8 + 160 * static_cast<std::size_t>(i);
        file[rec] = 3;
        std::memcpy(&file[rec + 1], "abc", 3);
        StoreInt(file, rec + 68, 1000 + i);
    }
    StoreInt(file, file.size() - 4, FileChecksum(file));
    return file;
}

TPrmnArray Defaults()
{
    TPrmnArray prmn = MakePrmn104();
    for (auto& p : prmn)
        SetPrmnDefault(p, PrmnKind104, "127.0.0.1", 2404);
    return prmn;
}

TEST(Prmn, ClientProfile)
{
    TPrmn p;
    std::memset(p.Name.chars.data(), 'x', 32);
    p.LinkAddress1 = 7;
    p.PollingCycle = 8;
    p.prWork1 = 1;
    SetPrmnDefault(p, PrmnKind104, std::string(40, '9'), 2404);
    EXPECT_EQ(p.Name.Raw(), "Client104");
    EXPECT_EQ(p.Name.chars[9], 'x'); // only length and nine characters written
    EXPECT_EQ(p.Host.Raw(), std::string(32, '9'));
    EXPECT_EQ(p.Port, 2404);
    EXPECT_EQ(std::vector<int>({p.t0, p.t1, p.t2, p.t3, p.kMax, p.wMax, p.ReceiveBufferLength}),
              std::vector<int>({30000, 15000, 10000, 20000, 12, 8, 100}));
    EXPECT_EQ(std::vector<int>({p.OriginatorAddress, p.sz_LinkAddress, p.ConfirmationTimeout, p.TerminationTimeout,
                                p.RetryCount, p.RetryTimeOut, p.CommonAsduAddress, p.sz_ASDUAddress, p.sz_InfObjAddress,
                                p.sz_COT, p.ClockSinhronizationCheck, p.ClockSinhronizationTime}),
              std::vector<int>({0, 0, 5000, 30000, 3, 20000, 3, 2, 3, 2, 0, 30}));
    EXPECT_EQ(std::vector<int>({p.LinkAddress1, p.PollingCycle, p.prWork1}), std::vector<int>({7, 8, 1}));
}

TEST(Prmn, MasterProfileKeepsLinkFields)
{
    TPrmn p;
    SetPrmnDefault(p, PrmnKind104, "10.0.0.5", 2405);
    p.t1 = 111;
    p.kMax = 5;
    SetPrmnDefault(p, 101, "ignored", 1);
    EXPECT_EQ(p.Name.Raw(), "Master101");
    EXPECT_EQ(p.Host.Raw(), "10.0.0.5");
    EXPECT_EQ(p.Port, 2405);
    EXPECT_EQ(p.t1, 111);
    EXPECT_EQ(p.kMax, 5);
    EXPECT_EQ(p.ReceiveBufferLength, 100);
    EXPECT_EQ(std::vector<int>({p.sz_InfObjAddress, p.sz_ASDUAddress, p.sz_COT, p.sz_LinkAddress, p.RetryTimeOut}),
              std::vector<int>({2, 1, 1, 1, 2000}));
}

TEST(Prmn, TextIsWindows1251Inside)
{
    TPrmn p;
    p.Name.SetText("Подстанция");
    EXPECT_EQ(p.Name.len, 10); // one byte a letter
    EXPECT_EQ(p.Name.Text(), "Подстанция");
}

TEST(PrmnFile, WritesTheLayoutAndReadsItBack)
{
    TempDir dir;
    TPrmnArray prmn = Defaults();
    prmn[0].Host.SetRaw("192.168.1.10");
    prmn[1].Port = 2405;
    prmn[1].ClockSinhronizationCheck = 1;
    prmn[1].prWork1 = 1;
    const std::string file = dir.File("iec104sr.bin");
    ASSERT_TRUE(WritePrmnBin(file, prmn, 2));

    const Bytes image = dir.Read("iec104sr.bin");
    ASSERT_EQ(image.size(), 332u);
    EXPECT_EQ(LoadInt(image, 0), 525092);
    EXPECT_EQ(LoadInt(image, 4), 2);
    EXPECT_EQ(image.substr(8, 10), "\x09"
                                   "Client104");
    EXPECT_EQ(image.substr(8 + 33, 13), "\x0C"
                                        "192.168.1.10");
    EXPECT_EQ(LoadInt(image, 8 + 160 + 68), 2405);
    EXPECT_EQ(LoadInt(image, 8 + 160 + 72), 30000); // t0
    EXPECT_EQ(LoadInt(image, 8 + 160 + 132), 3);    // CommonAsduAddress
    EXPECT_EQ(image[8 + 160 + 148], 1);
    EXPECT_EQ(LoadInt(image, 8 + 160 + 156), 1);
    EXPECT_EQ(LoadInt(image, 328), FileChecksum(image));

    TPrmnArray back = MakePrmn104();
    ASSERT_TRUE(ReadPrmnBin(file, back));
    EXPECT_EQ(std::memcmp(&back[0], &prmn[0], 2 * sizeof(TPrmn)), 0);
    EXPECT_EQ(back[2].Port, 0); // not in the file: untouched
}

TEST(PrmnFile, EmptyFileCarriesTheVersionAsChecksum)
{
    TempDir dir;
    TPrmnArray prmn = MakePrmn104();
    ASSERT_TRUE(WritePrmnBin(dir.File("e.bin"), prmn, 0));
    const Bytes image = dir.Read("e.bin");
    ASSERT_EQ(image.size(), 12u);
    EXPECT_EQ(LoadInt(image, 8), 525092);
    EXPECT_TRUE(ReadPrmnBin(dir.File("e.bin"), prmn));
}

TEST(PrmnFile, RecordsPastTheArrayAreCheckedNotKept)
{
    TempDir dir;
    dir.Write("big.bin", MakeFile(1000));
    TPrmnArray prmn = MakePrmn104();
    ASSERT_TRUE(ReadPrmnBin(dir.File("big.bin"), prmn));
    EXPECT_EQ(prmn.size(), PrmnCount);
    EXPECT_EQ(prmn[0].Port, 1000);
    EXPECT_EQ(prmn[997].Port, 1997);
    EXPECT_EQ(prmn[997].Name.Raw(), "abc");

    Bytes bad = MakeFile(1000);
    bad[8 + 160 * 999 + 100] ^= 1; // in the last record, never stored
    dir.Write("bad.bin", bad);
    EXPECT_FALSE(ReadPrmnBin(dir.File("bad.bin"), prmn));
}

TEST(PrmnFile, DamagedFilesLoadNothing)
{
    const Bytes good = MakeFile(3);
    struct Case {
        const char* what;
        Bytes file;
    } cases[] = {
        {"wrong version",
         [&] {
             Bytes b = good;
             StoreInt(b, 0, 525093);
             return b;
         }()},
        {"record byte changed",
         [&] {
             Bytes b = good;
             b[8 + 160 + 70] ^= 0x10;
             return b;
         }()},
        {"checksum changed",
         [&] {
             Bytes b = good;
             b[b.size() - 1] ^= 1;
             return b;
         }()},
        {"count lowered",
         [&] {
             Bytes b = good;
             StoreInt(b, 4, 2);
             return b;
         }()},
        {"count raised",
         [&] {
             Bytes b = good;
             StoreInt(b, 4, 4);
             return b;
         }()},
        {"truncated in a record", good.substr(0, 8 + 160 + 20)},
        {"truncated before the checksum", good.substr(0, good.size() - 2)},
        {"huge count",
         [&] {
             Bytes b = good;
             StoreInt(b, 4, 0x7FFFFFFF);
             return b;
         }()},
        {"negative count",
         [&] {
             Bytes b = good;
             StoreInt(b, 4, -1);
             return b;
         }()},
        {"header only", good.substr(0, 6)},
        {"empty", ""},
    };
    TempDir dir;
    for (const auto& c : cases) {
        dir.Write("iec104sr.bin", c.file);
        TPrmnArray prmn = Defaults();
        EXPECT_FALSE(ReadPrmnBin(dir.File("iec104sr.bin"), prmn)) << c.what;
        EXPECT_EQ(prmn[0].Port, 2404) << c.what << ": a record was loaded";
    }
    TPrmnArray prmn = Defaults();
    EXPECT_FALSE(ReadPrmnBin(dir.File("missing.bin"), prmn));
}

TEST(PrmnFile, StringLengthsAbove32AreClamped)
{
    Bytes file = MakeFile(1);
    file[8] = static_cast<char>(200);      // Name
    file[8 + 33] = static_cast<char>(255); // Host
    StoreInt(file, file.size() - 4, FileChecksum(file));
    TempDir dir;
    dir.Write("f.bin", file);
    TPrmnArray prmn = MakePrmn104();
    ASSERT_TRUE(ReadPrmnBin(dir.File("f.bin"), prmn));
    EXPECT_EQ(prmn[0].Name.len, 32);
    EXPECT_EQ(prmn[0].Host.len, 32);
    EXPECT_EQ(prmn[0].Name.Raw().size(), 32u);
}

TEST(PrmnFile, ModesAndTheConfigurationOwner)
{
    TempDir dir;
    const std::string file = dir.File("iec104sr.bin");
    TPrmnArray prmn = Defaults();
    // The configuration owns the parameters: neither read nor written.
    EXPECT_TRUE(RdWrPrmnBin(1, file, prmn, true, 5));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(RdWrPrmnBin(0, file, prmn, true, 5));

    EXPECT_TRUE(RdWrPrmnBin(1, file, prmn, false, 5));
    EXPECT_EQ(std::filesystem::file_size(file), 8u + 5 * 160 + 4);
    EXPECT_TRUE(RdWrPrmnBin(0, file, prmn, false, 0));
    EXPECT_TRUE(RdWrPrmnBin(7, dir.File("none.bin"), prmn, false, 5)); // nothing to do
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.bin")));
    EXPECT_FALSE(RdWrPrmnBin(0, dir.File("none.bin"), prmn, false, 5));
    EXPECT_FALSE(RdWrPrmnBin(1, dir.File("no/dir/iec104sr.bin"), prmn, false, 5));
}

} // namespace
} // namespace gw
