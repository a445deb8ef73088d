// Hostile byte streams through the whole receive path of a channel: framing,
// control fields, ASDU headers and objects, time tags and the stores into the
// tags. Run under the sanitizers, any read or write outside a buffer fails.
// The streams are random but seeded, so a failure repeats.

#include "core/clients104.h"

#include "core/asdu.h"
#include "core/kplist.h"
#include "core/messbuff.h"
#include "core/signals.h"
#include "core/tags.h"
#include "core/typeident.h"
#include "fake_port.h"
#include "link_frames.h"
#include "support/fake_clock.h"

#include <gtest/gtest.h>

#include <random>

namespace gw::test {
namespace {

constexpr const char* kHost = "10.0.0.7";
constexpr int kPort = 2404;

// Builds streams that are mostly near-valid, so the parser gets past the
// framing and into the objects, with garbage mixed in.
class StreamMaker {
public:
    explicit StreamMaker(std::uint32_t seed) : rnd(seed) {}

    TFrameBytes Stream()
    {
        TFrameBytes out;
        const int frames = Pick(1, 12);
        for (int i = 0; i < frames; ++i) {
            const TFrameBytes f = Frame();
            out.insert(out.end(), f.begin(), f.end());
        }
        return out;
    }
    // Cuts a stream at random offsets.
    std::vector<TFrameBytes> Chunks(const TFrameBytes& stream)
    {
        std::vector<TFrameBytes> chunks;
        std::size_t at = 0;
        while (at < stream.size()) {
            const std::size_t n = std::min<std::size_t>(stream.size() - at, static_cast<std::size_t>(Pick(1, 300)));
            chunks.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                stream.begin() + static_cast<std::ptrdiff_t>(at + n));
            at += n;
        }
        return chunks;
    }
    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rnd); }
    bool Chance(int percent) { return Pick(1, 100) <= percent; }

    int ns = 0;
    // Clean streams keep N(S) in sequence and N(R) at 0, and break their
    // framing only where a frame of garbage or of an impossible length is:
    // how they are cut into chunks then cannot change what they store.
    bool clean = false;

private:
    TFrameBytes Frame()
    {
        switch (Pick(0, 9)) {
        case 0: return SFrame(clean ? 0 : Pick(0, 32767));
        case 1: {
            static const std::uint8_t u[] = {0x07, 0x0B, 0x13, 0x23, 0x43, 0x83, 0xC3, 0x03};
            TFrameBytes f = {0x68, 4, u[Pick(0, 7)], 0, 0, 0};
            if (Chance(10))
                f[static_cast<std::size_t>(Pick(3, 5))] = static_cast<std::uint8_t>(Pick(0, 255));
            return f;
        }
        case 2: return Garbage();
        default: break;
        }
        TFrameBytes asdu = Asdu();
        if (asdu.size() > 249)
            asdu.resize(249);
        // Mostly in sequence, sometimes ahead or behind.
        const int nsNow = clean || Chance(90) ? ns++ : Pick(0, 32767);
        TFrameBytes f = IFrame(nsNow & 0x7FFF, clean ? 0 : Pick(0, 3), asdu);
        if (Chance(5)) // a lying length byte
            f[1] = static_cast<std::uint8_t>(clean ? Pick(0, 3) : Pick(0, 255));
        if (!clean && Chance(5))
            f[static_cast<std::size_t>(Pick(0, static_cast<int>(f.size()) - 1))] ^=
                static_cast<std::uint8_t>(Pick(1, 255));
        return f;
    }
    TFrameBytes Garbage()
    {
        TFrameBytes f(static_cast<std::size_t>(Pick(1, 40)));
        for (auto& b : f)
            b = static_cast<std::uint8_t>(Pick(0, 255));
        if (f[0] == StartByte104)
            f[0] = 0;
        return f;
    }
    TFrameBytes Asdu()
    {
        static const int codes[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,  12,  13,  14,  15,  16, 20, 21, 30,
                                    31, 32, 33, 34, 35, 36, 37, 45, 46, 70, 100, 101, 103, 106, 136, 22, 0,  255};
        const int code = codes[Pick(0, static_cast<int>(std::size(codes)) - 1)];
        const bool sq = Chance(30);
        const int n = Chance(90) ? Pick(1, 10) : Pick(0, 127);
        TFrameBytes a = {static_cast<std::uint8_t>(code),
                         static_cast<std::uint8_t>((sq ? 0x80 : 0) | n),
                         static_cast<std::uint8_t>(Chance(80) ? Pick(1, 20) : Pick(0, 255)),
                         0,
                         1,
                         0};
        // Objects of a random plausible size, time tags with random fields.
        const int elem = Pick(0, 8) + (Chance(50) ? 7 : 0);
        const int objects = sq ? 1 : n;
        for (int o = 0; o < objects; ++o) {
            const int ioa = Pick(1, 24);
            a.insert(a.end(), {static_cast<std::uint8_t>(ioa), 0, 0});
            const int bytes = sq ? elem * n : elem;
            for (int b = 0; b < bytes; ++b)
                a.push_back(static_cast<std::uint8_t>(Pick(0, 255)));
        }
        if (Chance(10))
            a.resize(static_cast<std::size_t>(Pick(0, static_cast<int>(a.size()))));
        return a;
    }

    std::mt19937 rnd;
};

class ReceiveFuzz : public ::testing::Test {
protected:
    ReceiveFuzz()
    {
        SetPrmnDefault(prmn[0], PrmnKind104, kHost, kPort);
        prmn[0].prWork1 = 1;
        prmn[0].CommonAsduAddress = 1;
        kps.Add(TKpEthernet(1001, 1001, KpTypeAddr::kpta_KP, "KP1", kHost, kPort));
        for (int ioa = 1; ioa <= kTags; ++ioa)
            recs.AddRec(1001, ioa % 3 == 0 ? SignalType::stTS : SignalType::stTIT, "S", 0);
        AddTags();
        ctx = {TLinkEnv{&clock, &log, nullptr, true}, &types, &tags, true};
        cl = table.AddClient(TLinkSocket{&port, 1, false, false}, prmn, ctx);
        frm = std::make_unique<TClient104Frm>(cl, true, TChannelModel{&kps, &tags, &recs, &stationTags});
    }

    static constexpr int kTags = 24;

    // Fresh tags of every signal category at object addresses 1..24 of CA 1.
    void AddTags()
    {
        tags.Clear();
        const TagCategName kinds[] = {TagCategName::tcn_TS, TagCategName::tcn_TIT, TagCategName::tcn_TII};
        for (int ioa = 1; ioa <= kTags; ++ioa) {
            TTagSignal t;
            std::string name = "S"; // appended: GCC 12 at -O3 warns falsely (-Wrestrict) about "S" + to_string
            name += std::to_string(ioa);
            t.Init(name, 1, ioa, kHost, kPort, cats.GetPtc(kinds[ioa % 3]), ioa - 1, ioa % 2, ioa, ioa);
            tags.AddTag(t);
        }
    }

    void CheckInvariants()
    {
        const auto& s = cl->s_APDUBuf;
        ASSERT_LE(0, s.Send());
        ASSERT_LE(s.Send(), s.Count());
        ASSERT_LE(s.Count(), s.Size());
        ASSERT_GE(cl->vr(), 0);
        ASSERT_LE(cl->vr(), 32767);
        ASSERT_GE(cl->Vs(), 0);
        ASSERT_LE(cl->Vs(), 32767);
        ASSERT_LE(cl->Area().Pending(), 60000u) << "the receive area grows without bound";
    }

    TTypeIdentList types;
    TTagCategoryList cats{1};
    TArmSignals recs;
    TKpList kps;
    std::vector<std::pair<int, int>> stationTags{{0, 0}, {0, kTags}}; // station 1001: every tag
    FakeClock clock;
    TMessBuff log{64, 0xFFFFFFFF};
    TTagSignalList tags{&recs, nullptr, &log};
    FakePort port;
    TPrmnArray prmn = MakePrmn104();
    TClients104 table;
    TClientContext ctx;
    std::shared_ptr<T104Client> cl;
    std::unique_ptr<TClient104Frm> frm;
};

TEST_F(ReceiveFuzz, HostileStreamsNeverReadOutsideTheirBytesNorBreakTheCounters)
{
    constexpr int kStreams = 3000;
    StreamMaker maker(20261210);
    frm->OnConnect();
    for (int s = 0; s < kStreams; ++s) {
        for (const TFrameBytes& chunk : maker.Chunks(maker.Stream())) {
            frm->OnReceive({chunk, kHost, kPort}, true, 0);
            if (maker.Chance(20)) {
                cl->QueueIFrame([&] {
                    T104APDU f;
                    f.FromAsdu(BuildInterrogation(1, cl->Layout(), types));
                    return f;
                }());
            }
            if (maker.Chance(30))
                port.Drain();
            if (maker.Chance(10))
                clock.Advance(maker.Pick(0, 20000));
            table.Connecting(true, 0);
            frm->DoService(true, 0);
            CheckInvariants();
            if (HasFatalFailure())
                return;
        }
        // The link drops a connection that went wrong; the station comes back.
        if (port.disconnectRequests > 0 || maker.Chance(5)) {
            port.disconnectRequests = 0;
            frm->OnDisconnect();
            frm->DoService(true, 0);
            frm->CheckValid1(false);
            frm->OnConnect();
            maker.ns = 0;
        }
        std::string line;
        TDateTime dt;
        while (log.Get(line, dt)) {
        }
        TValue1 taken;
        tags.TakeNew(s % tags.Count(), taken);
    }
}

// Every split of a hostile stream gives the same stores as the whole stream.
TEST_F(ReceiveFuzz, ChunkBoundariesDoNotChangeWhatIsStored)
{
    StreamMaker maker(7);
    maker.clean = true;
    for (int s = 0; s < 300; ++s) {
        const TFrameBytes stream = maker.Stream();
        auto run = [&](bool split) {
            AddTags();
            frm->OnConnect();
            if (split) {
                for (const TFrameBytes& chunk : maker.Chunks(stream))
                    frm->OnReceive({chunk, kHost, kPort}, false, 0);
            } else {
                frm->OnReceive({stream, kHost, kPort}, false, 0);
            }
            std::vector<std::string> values;
            for (int i = 0; i < tags.Count(); ++i) {
                TValue1 v;
                tags.ReadValue(i, v);
                values.push_back(v.ToStringValue() + "/" + std::to_string(v.Qualit));
            }
            frm->OnDisconnect();
            frm->DoService(false, 0);
            return values;
        };
        const auto whole = run(false);
        const auto split = run(true);
        ASSERT_EQ(whole, split) << "stream " << s;
        maker.ns = 0;
    }
}

// Random ASDUs under every field layout a channel may be configured with,
// parsed, stored, shown and offered to a command as its confirmation.
TEST_F(ReceiveFuzz, RandomAsdusUnderEveryLayout)
{
    StreamMaker maker(1104);
    TElemTU tu(clock, types, &log);
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 20000; ++i) {
        const TAsduLayout layout = TAsduLayout::Make(maker.Pick(0, 3), maker.Pick(-1, 3), maker.Pick(-1, 4));
        bytes.resize(static_cast<std::size_t>(maker.Pick(0, 260)));
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(maker.Chance(30) ? maker.Pick(0, 3) : maker.Pick(0, 255));
        if (!bytes.empty() && maker.Chance(80)) {
            static const int codes[] = {1, 3, 5, 7, 9, 11, 13, 15, 20, 21, 30, 31, 33, 36, 37, 45, 46, 100, 103, 136};
            bytes[0] = static_cast<std::uint8_t>(codes[maker.Pick(0, static_cast<int>(std::size(codes)) - 1)]);
        }
        const int offset = maker.Pick(0, 3);
        const int length = static_cast<int>(bytes.size()) - offset + maker.Pick(-2, 2);
        TIEC_ASDUt asdu(bytes, offset, length, layout, types);
        asdu.IP_address2 = kHost;
        asdu.IP_port3 = kPort;
        if (maker.Chance(5))
            tu.Init(TTUCommand::tuCommand_On, asdu.ASDUAddress, asdu.ObjAddress, layout, true, maker.Pick(0, 3));
        tu.OnConfirmation(asdu);
        asdu.ReceiveRaspak1({tags, clock, &log});
        EXPECT_LE(asdu.ToString().size(), 400u);
        std::array<std::uint8_t, kMaxAsduLen> out{};
        EXPECT_LE(asdu.Encode(out), kMaxAsduLen);
        std::string line;
        TDateTime dt;
        while (log.Get(line, dt)) {
        }
    }
}

} // namespace
} // namespace gw::test
