#include "opcua/opcuabridge.h"

#include "opcua/uanames.h"
#include "opcua/uatime.h"
#include "service/serviceinit.h"

#include <atomic>
#include <cstring>

namespace gw {

namespace {

constexpr const char* UaLog = "log_iec104.txt";
constexpr std::size_t CredentialBytes = 100;

// The bridge whose server runs: the library's callback carries only the id.
std::atomic<TOpcUaLibraryBridge*> ActiveBridge{nullptr};

std::int32_t Length(const std::string& s) { return static_cast<std::int32_t>(s.size()); }

constexpr std::uint32_t UaGood = 0;
constexpr std::uint32_t UaBadTooManyOperations = 0x80100000;
constexpr std::uint32_t UaBadNoCommunication = 0x80310000;
constexpr std::uint32_t UaBadNotWritable = 0x803B0000;
constexpr std::uint32_t UaBadOutOfRange = 0x803C0000;

} // namespace

std::optional<TTUCommand> UaWrittenCommand(std::uint16_t kind, std::int32_t v)
{
    if (kind == UaKindSinglePoint)
        return v > 0 ? TTUCommand::tuCommand_On : TTUCommand::tuCommand_Off;
    if (kind == UaKindDoublePoint) {
        if (v == 2)
            return TTUCommand::tuCommand_On;
        if (v == 1)
            return TTUCommand::tuCommand_Off;
    }
    return std::nullopt;
}

std::uint32_t UaWriteStatus(TTuDecision decision)
{
    switch (decision) {
    case TTuDecision::Accepted: return UaGood;
    case TTuDecision::NoDataTransfer: return UaBadNoCommunication;
    case TTuDecision::QueueFull: return UaBadTooManyOperations;
    case TTuDecision::NoCommand: return UaBadOutOfRange;
    case TTuDecision::NotCommandable: return UaBadNotWritable;
    }
    return UaBadNotWritable;
}

TOpcUaLibraryBridge::TOpcUaLibraryBridge(const TOpcUaSettings& settings) : settings_(settings) {}

TOpcUaLibraryBridge::~TOpcUaLibraryBridge()
{
    Stop();
    if (thread_.Running()) {
        // Stop gave up waiting: the thread still runs inside the library,
        // which must stay loaded until it is out.
        thread_.StopAndJoin();
        Release();
    }
}

bool TOpcUaLibraryBridge::LoadOpcUaLibrary(TServiceContext& ctx)
{
    std::string path = ctx.Process.FilePath(OpcUaLibraryName);
    if (path.find('/') == std::string::npos)
        path = "./" + path; // the working directory, never the system's search path
    std::string error;
    if (lib_.Load(path, error))
        return true;
    AppendServiceLine(ctx, "OPC UA: библиотека не загружена, " + path + ": " + error, UaLog);
    return false;
}

bool TOpcUaLibraryBridge::Start(TServiceContext& ctx)
{
    Stop();
    if (!settings_.OPC_UA_use)
        return false;
    if (thread_.Running()) {
        AppendServiceLine(ctx, "OPC UA: сервер прошлого запуска не остановился, OPC UA не запущен", UaLog);
        return false;
    }
    TOpcUaLibraryBridge* none = nullptr;
    if (!ActiveBridge.compare_exchange_strong(none, this)) {
        AppendServiceLine(ctx, "OPC UA: библиотеку уже использует другой сервер", UaLog);
        return false;
    }
    if (!LoadOpcUaLibrary(ctx)) {
        ActiveBridge = nullptr;
        return false;
    }
    ctx_ = &ctx;
    StartOpcUa(ctx);
    const std::size_t credentials = settings_.OPC_UA_username.size() + settings_.OPC_UA_password.size();
    if (settings_.OPC_UA_by_pwd && credentials > CredentialBytes)
        AppendServiceLine(ctx, "OPC UA: имя и пароль длиннее 100 байт, вход будет отклонён", UaLog);
    if (lib_.Api().set_write_status_callback != nullptr)
        lib_.Api().set_write_status_callback(&OpcUaWriteStatusCallback);
    thread_.Start([this, started = settings_] { Execute(started); }, [this] { lib_.Api().setrunning_bool(0); });
    return true;
}

void TOpcUaLibraryBridge::StartOpcUa(TServiceContext& ctx)
{
    const TOpcUaEntryPoints& api = lib_.Api();
    api.create_din_arrays(ctx.Stations.SignalCountTS + ctx.Stations.SignalCountTI + ctx.Stations.SignalCountTU
                              + 5 * ctx.Stations.KpCount + 3,
                          ctx.Stations.KpCount + 4);
    OpcUaKpCount = ctx.Stations.KpCount;
    OpcUaGroups.assign(static_cast<std::size_t>(ctx.Stations.KpCount) + 4, {});
    for (int i = 1; i <= ctx.Stations.KpCount; ++i) {
        TAll_groups_OPC_UA& g = OpcUaGroups[static_cast<std::size_t>(i)];
        g.Name = UaNameFilter(ctx.Stations.KpTable[static_cast<std::size_t>(i)].NameKP, false);
        g.index1 = UaGroupBase + i;
        api.add_new_group(Length(g.Name), g.index1, g.Name.c_str());
    }
    TAll_groups_OPC_UA& life = OpcUaGroups[static_cast<std::size_t>(ctx.Stations.KpCount) + 1];
    life.Name = UaNameFilter("lifebit", false);
    life.index1 = UaGroupBase + 1 + ctx.Stations.KpCount;
    api.add_new_group(Length(life.Name), life.index1, life.Name.c_str());

    points_.assign(MaxOpcItem + 1, {});
    std::int32_t tag = 0;
    int lastId = 0;
    for (int i = 1; i <= ctx.Stations.KpCount; ++i) {
        AddStation(ctx, i, tag);
        const T_KP& kp = ctx.Stations.KpTable[static_cast<std::size_t>(i)];
        lastId = kp.Nom_OPC_TI + kp.Kol_TI - 1;
    }
    OpcUaLifebitId = lastId + 2;
    api.Add_new_perem(7, OpcUaLifebitId, UaTypeInt32, life.index1, 1, 0, "lifebit");
}

// Station i's "Connected", points and measured values, on the ids the
// service start has given their OPC items; tag runs on as the tag list does.
// Signals numbered from MaxOpcItem on have no variable, as they have no OPC
// DA item: the service start names how many.
void TOpcUaLibraryBridge::AddStation(TServiceContext& ctx, int i, std::int32_t& tag)
{
    const TOpcUaEntryPoints& api = lib_.Api();
    const T_KP& kp = ctx.Stations.KpTable[static_cast<std::size_t>(i)];
    const std::int32_t group = UaGroupBase + i;
    api.Add_new_perem(9, kp.Nom_OPC_Alarm, UaTypeBoolean, group, 1, 0, "Connected");
    const std::int32_t writable = settings_.OPC_UA_writable ? 1 : 0;
    std::lock_guard<std::mutex> items(ctx.Items.OpcItemsLock);
    for (int n = 1; n <= kp.Kol_TS; ++n, ++tag) {
        const int id = kp.Nom_OPC_TS + n - 1;
        if (id >= MaxOpcItem || static_cast<std::size_t>(n) >= kp.TS_arr.size())
            continue;
        const T_TS& ts = kp.TS_arr[static_cast<std::size_t>(n)];
        const std::string name = UaNameFilter(ts.NameTS, false);
        // The library answers Good to every write it takes: a point without
        // command addresses, whose writes the command entry can only refuse,
        // is read-only, so its client hears BadNotWritable instead.
        const std::int32_t commandable = ts.AdrASDU_TU != 0 && ts.AdrIOA_TU != 0 ? writable : 0;
        api.Add_new_perem(Length(name), id, ts.Type_Var != 0 ? UaTypeInt32 : UaTypeBoolean, group, 1, commandable,
                          name.c_str());
        points_[static_cast<std::size_t>(id)] = {ts.Type_Var == 1 ? UaKindDoublePoint : UaKindSinglePoint, tag,
                                                 "КП " + std::to_string(i) + " \"" + kp.NameKP + "\", сигнал \""
                                                     + ts.NameTS + "\""};
    }
    for (int n = 1; n <= kp.Kol_TI; ++n, ++tag) {
        const int id = kp.Nom_OPC_TI + n - 1;
        if (id >= MaxOpcItem || static_cast<std::size_t>(n) >= kp.TI_arr.size())
            continue;
        const std::string name = UaNameFilter(kp.TI_arr[static_cast<std::size_t>(n)].NameTI, false);
        api.Add_new_perem(Length(name), id, UaTypeDouble, group, 1, 0, name.c_str());
    }
}

void TOpcUaLibraryBridge::Execute(const TOpcUaSettings& settings)
{
    // User name, then password, as UTF-8 bytes, the way clients send them.
    // What does not fit the 100 bytes is left out; the full lengths tell the
    // library to refuse every login then.
    char buffer[CredentialBytes] = {};
    const std::string& user = settings.OPC_UA_username;
    const std::string& password = settings.OPC_UA_password;
    std::memcpy(buffer, user.data(), std::min(user.size(), CredentialBytes));
    if (user.size() < CredentialBytes)
        std::memcpy(buffer + user.size(), password.data(), std::min(password.size(), CredentialBytes - user.size()));
    const std::int32_t result =
        lib_.Api().UA_ServerNetworkLayerTCP_dll(settings.OPC_UA_Port, settings.OPC_UA_by_pwd ? 1 : 0, Length(user),
                                                Length(password), &OpcUaWriteCallback, buffer);
    if (result != 0)
        AppendServiceLine(*ctx_,
                          "OPC UA: сервер завершился с кодом " + std::to_string(result) + ", порт "
                              + std::to_string(settings.OPC_UA_Port),
                          UaLog);
}

void TOpcUaLibraryBridge::OpcUaWriteCallback(std::int32_t id)
{
    TOpcUaLibraryBridge* bridge = ActiveBridge.load();
    if (!bridge)
        return;
    try {
        const TOpcUaEntryPoints& api = bridge->lib_.Api();
        const std::int32_t v = api.get_int32_valwrite_by_index(id);
        bridge->OpcUaWriteToCommand(id, v, true);
    } catch (const std::exception&) {
        // Nothing may unwind into the library.
    }
}

std::uint32_t TOpcUaLibraryBridge::OpcUaWriteStatusCallback(std::int32_t id)
{
    TOpcUaLibraryBridge* bridge = ActiveBridge.load();
    if (!bridge)
        return UaBadNoCommunication;
    try {
        const std::int32_t v = bridge->lib_.Api().get_int32_valwrite_by_index(id);
        return UaWriteStatus(bridge->OpcUaWriteToCommand(id, v, false));
    } catch (const std::exception&) {
        // Nothing may unwind into the library; whether the command left is not known.
        return UaBadNoCommunication;
    }
}

TTuDecision TOpcUaLibraryBridge::OpcUaWriteToCommand(int id, std::int32_t v, bool answeredGood)
{
    const TUaPoint point =
        id >= 0 && static_cast<std::size_t>(id) < points_.size() ? points_[static_cast<std::size_t>(id)] : TUaPoint{};
    const std::string write = "OPC UA: запись " + std::to_string(v) + " в переменную " + std::to_string(id);
    if (!point.kind) {
        AppendServiceLine(*ctx_, write + " не даёт команды", UaLog);
        return TTuDecision::NotCommandable;
    }
    const std::string where = ", " + point.who;
    const std::optional<TTUCommand> command = UaWrittenCommand(point.kind, v);
    if (!command) {
        AppendServiceLine(*ctx_, write + " не даёт команды" + where, UaLog);
        return TTuDecision::NoCommand;
    }
    const TTuDecision decision = DecideTU(*ctx_, point.tag, *command);
    if (decision != TTuDecision::Accepted && answeredGood)
        AppendServiceLine(*ctx_, write + " отвечена клиенту Good, но команда не принята" + where, UaLog);
    return decision;
}

void TOpcUaLibraryBridge::Stop()
{
    if (!thread_.Running())
        return;
    thread_.RequestStop();
    if (!thread_.Join(OpcUaJoinMs)) {
        AppendServiceLine(*ctx_, "OPC UA: сервер не остановился вовремя", UaLog);
        return;
    }
    Release();
}

void TOpcUaLibraryBridge::Release()
{
    lib_.Unload();
    ActiveBridge = nullptr;
    OpcUaLifebitId = 0;
    points_.clear();
}

void TOpcUaLibraryBridge::SetValue(int type, int id, int iValue, double dValue, std::uint32_t status, TDateTime source,
                                   TDateTime server)
{
    if (lib_.IsLoaded())
        lib_.Api().Set_new_val_to_perem(type, id, iValue, dValue, status, DateTimeToUaTime(source),
                                        DateTimeToUaTime(server));
}

void TOpcUaLibraryBridge::SetQuality(int id, std::uint32_t status, TDateTime source, TDateTime server)
{
    if (lib_.IsLoaded())
        lib_.Api().Set_new_quality_to_perem(id, status, DateTimeToUaTime(source), DateTimeToUaTime(server));
}

} // namespace gw
