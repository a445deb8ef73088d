// The whole way: kpsim as the station over loopback, the service polling it,
// an OPC DA client with one group over every item. Spontaneous values arrive
// as data changes with their values, qualities and stamps; writes reach the
// station as select and execute; a station that goes away turns bad and
// refuses writes.
#include "service_fixture.h"

namespace opcda::test {
namespace {

TEST_F(ServiceEndToEnd, SpontaneousValuesWritesAndALostStation)
{
    const long leaks = taskMemOutstanding();
    ASSERT_NO_FATAL_FAILURE(startStation());
    {
        auto server = connect();
        auto group = addGroup(*server);
        auto sink = advise(*group);
        HRESULT* errors = nullptr;

        EXPECT_TRUE(dataChangeUntil(*sink, [&](const auto& call) {
            const auto* c = entry(call, hConnected);
            return c && isTrue(c->value) && c->quality == 0xC0;
        })) << "Connected comes true";

        // A time-tagged spontaneous change: value, quality and the station's stamp.
        kpsim->Control("set 1 100 1 time=2023-03-15T11:30:00.000");
        const gw::TDateTime stationTime = 45000.5 - 0.5 / 24;
        EXPECT_TRUE(dataChangeUntil(*sink, [&](const auto& call) {
            const auto* sp = entry(call, hSP);
            return sp && sp->value.vt() == VT_BOOL && sp->value.get()->boolVal == VARIANT_TRUE && sp->quality == 0xC0
                   && fileTimeValue(sp->time) == fileTimeValue(localDateToFileTime(stationTime, zone));
        })) << "the single point switched on, with the station's time";
        kpsim->Control("set 1 200 2");
        EXPECT_TRUE(dataChangeUntil(*sink, [&](const auto& call) {
            const auto* dp = entry(call, hDP);
            return dp && dp->value.vt() == VT_I8 && dp->value.get()->llVal == 2 && dp->quality == 0xC0;
        })) << "the double point arrives as an integer";

        // Writes become select and execute with the command addresses.
        auto sync = group.as<IOPCSyncIO>();
        const auto writeReaches = [&](OPCHANDLE item, VARIANT value, const std::string& command) {
            ASSERT_EQ(sync->Write(1, &item, &value, &errors), S_OK);
            CoTaskMemFree(errors);
            for (const std::string& line : {command + " select=1", command + " select=0"}) {
                const auto got = kpsim->WaitFor("command ");
                ASSERT_TRUE(got);
                EXPECT_EQ(got->substr(0, line.size()), line);
            }
        };
        const VARIANT off = *Variant::fromBool(false).get();
        const VARIANT on = *Variant::fromI4(2).get();
        writeReaches(handles[1], off, "command station=1 type=C_SC_NA_1 ca=3 ioa=5100 value=0");
        writeReaches(handles[2], on, "command station=1 type=C_DC_NA_1 ca=3 ioa=5200 value=2");

        // The station goes away: its items turn bad and Connected false.
        kpsim->Quit();
        kpsim.reset();
        bool connectedFalse = false, pointsBad = false;
        EXPECT_TRUE(dataChangeUntil(*sink, [&](const auto& call) {
            if (const auto* c = entry(call, hConnected))
                connectedFalse = connectedFalse || (c->value.vt() == VT_BOOL && c->value.get()->boolVal == 0);
            if (const auto* p = entry(call, hSP))
                pointsBad = pointsBad || p->quality != 0xC0;
            return connectedFalse && pointsBad;
        })) << "Connected false and the points bad";

        // Reads of the lost station, from the cache and the device, are not good either.
        for (const DWORD source : {OPC_DS_CACHE, OPC_DS_DEVICE}) {
            OPCHANDLE sp = handles[1];
            OPCITEMSTATE* states = nullptr;
            ASSERT_EQ(sync->Read(source, 1, &sp, &states, &errors), S_OK);
            EXPECT_NE(states[0].wQuality, 0xC0) << source;
            VariantClear(&states[0].vDataValue);
            CoTaskMemFree(states);
            CoTaskMemFree(errors);
        }

        // A command to the lost station cannot go out: the write says so.
        OPCHANDLE sp = handles[1];
        VARIANT value = off;
        ASSERT_EQ(sync->Write(1, &sp, &value, &errors), S_FALSE);
        EXPECT_EQ(errors[0], E_FAIL);
        CoTaskMemFree(errors);
        cp->Unadvise(cookie);
    }
    classes.revokeClass(CLSID_OPCDataAccess20);
    EXPECT_EQ(taskMemOutstanding(), leaks);
}

} // namespace
} // namespace opcda::test
