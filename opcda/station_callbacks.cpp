#include "opcda/station_callbacks.h"

#include "opcda/opc_defs.h"
#include "opcda/wide.h"
#include "service/commandentry.h"
#include "service/serviceinit.h"

#include <cmath>
#include <functional>
#include <optional>

namespace opcda {

using com::Variant;
using com::VARTYPE;

namespace {

constexpr std::int32_t ItemLimit = 60000; // numbers from here on get no signal leaf

bool isEmpty(const com::VARIANT& v) { return v.vt == com::VT_EMPTY; }

// The node's value as the number the item table holds; bools count 1 here.
std::optional<double> nodeNumber(const com::VARIANT& v, bool boolRow)
{
    if (boolRow && v.vt == com::VT_BOOL)
        return v.boolVal ? 1.0 : 0.0;
    return com::variantToDouble(v);
}

// Empty when the value compares with no number: such a write commands nothing.
std::optional<bool> equalsNumber(const com::VARIANT& value, double number)
{
    return com::variantEquals(value, *Variant::fromR8(number).get());
}

// The command a written value stands for; empty when it is no number, Empty
// when it is a number the point has no command for.
std::optional<gw::TTUCommand> commandOf(const com::VARIANT& value, VARTYPE requested, VARTYPE canonical)
{
    using gw::TTUCommand;
    const auto minusOne = equalsNumber(value, -1);
    if (!minusOne)
        return std::nullopt;
    if (requested == com::VT_BOOL)
        return *minusOne ? TTUCommand::tuCommand_On : TTUCommand::tuCommand_Off;
    const bool one = *equalsNumber(value, 1);
    if (canonical == com::VT_I4) {
        if (*equalsNumber(value, 2))
            return TTUCommand::tuCommand_On;
        return one ? TTUCommand::tuCommand_Off : TTUCommand::tuCommand_Empty;
    }
    return *minusOne || one ? TTUCommand::tuCommand_On : TTUCommand::tuCommand_Off;
}

} // namespace

StationModel::StationModel(gw::TServiceContext& ctx, CommandEntry executeTU)
    : ctx_(ctx), executeTU_(std::move(executeTU))
{
    if (!executeTU_)
        executeTU_ = [this](int tag, gw::TTUCommand c) { return gw::ExecuteTU(ctx_, tag, c); };
}

void StationModel::bind(sOPC& core)
{
    core_ = &core;
    core.FOnInitAddressSpace = [this, &core] { OpcItemsInitAddressSpace(core); };
    core.FOnRead = [this](sOPCNode& n, const std::u16string& p, VARTYPE t) { OpcItemsRead(n, p, t); };
    core.FOnWrite = [this](sOPCNode& n, const com::VARIANT& v, const std::u16string& p, VARTYPE t) {
        return OpcItemsWrite(n, v, p, t);
    };
}

std::uint64_t StationModel::currentFingerprint() const
{
    // Names, kinds and counts decide the numbering and what each number means.
    std::string text;
    for (int i = 1; i <= ctx_.Stations.KpCount; ++i) {
        const gw::T_KP& kp = ctx_.Stations.KpTable[static_cast<std::size_t>(i)];
        text += kp.NameKP + '\x1f' + std::to_string(kp.Kol_TS) + '\x1f' + std::to_string(kp.Kol_TI) + '\x1e';
        for (int j = 1; j <= kp.Kol_TS; ++j)
            text += kp.TS_arr[static_cast<std::size_t>(j)].NameTS + '\x1f'
                    + std::to_string(kp.TS_arr[static_cast<std::size_t>(j)].Type_Var) + '\x1e';
        for (int k = 1; k <= kp.Kol_TI; ++k)
            text += kp.TI_arr[static_cast<std::size_t>(k)].NameTI + '\x1e';
    }
    return std::hash<std::string>{}(text) ^ static_cast<std::uint64_t>(ctx_.Stations.KpCount);
}

bool StationModel::numberingMatches()
{
    return gw::WithRun(ctx_, [this](const gw::TServiceRun* run) {
        if (!run)
            return false; // stopped: the next start may renumber at any moment
        std::lock_guard<std::mutex> guard(numberingLock_);
        if (run != checkedRun_) {
            checkedRun_ = run;
            checkedMatches_ = currentFingerprint() == builtFingerprint_;
        }
        return checkedMatches_;
    });
}

void StationModel::OpcItemsInitAddressSpace(sOPC& core)
{
    if (ctx_.Switches.ConfiguratorMode)
        return;
    std::int32_t n = 0;
    gw::WithRun(ctx_, [&](const gw::TServiceRun* run) {
        const int stations = run ? ctx_.Stations.KpCount : 0;
        for (int i = 1; i <= stations; ++i) {
            const gw::T_KP& kp = ctx_.Stations.KpTable[static_cast<std::size_t>(i)];
            const std::int32_t branch = ++n;
            core.AddBranch(0, branch, toWide(kp.NameKP));
            ++n;
            core.AddLeaf(branch, n, u"Connected", com::VT_BOOL, 3);
            connectedIdents_.insert(n);
            for (int j = 1; j <= kp.Kol_TS; ++j) {
                const gw::T_TS& ts = kp.TS_arr[static_cast<std::size_t>(j)];
                if (++n < ItemLimit)
                    core.AddLeaf(branch, n, toWide(ts.NameTS), ts.Type_Var == 1 ? com::VT_I4 : com::VT_BOOL, 3);
            }
            for (int k = 1; k <= kp.Kol_TI; ++k)
                if (++n < ItemLimit)
                    core.AddLeaf(branch, n, toWide(kp.TI_arr[static_cast<std::size_t>(k)].NameTI), com::VT_R8, 3);
        }
        builtFingerprint_ = run ? currentFingerprint() : 0;
        checkedRun_ = run;
        checkedMatches_ = run != nullptr;
        return 0;
    });
    lifebit_ = n + 2;
    core.AddLeaf(0, lifebit_, u"lifebit", com::VT_INT, 1);
}

void StationModel::OpcItemsRead(sOPCNode& node, const std::u16string&, VARTYPE)
{
    if (ctx_.Switches.ConfiguratorMode)
        return;
    const TDateTime now = core_ ? core_->now() : gw::WallNow();
    const std::int32_t id = node.Ident;
    if (lifebit_ > 0 && id == lifebit_) {
        gw::TDateTimeParts parts;
        gw::TryDecodeDateTime(now, parts);
        node.CurrentValue = Variant::fromUI2(static_cast<std::uint16_t>(parts.second));
        node.Quality = 0xC0;
        node.LastUpdate = now;
        return;
    }
    if (id < 1 || id > gw::MaxOpcItem) {
        // No row behind the node: it stays empty and out of service.
        if (!isEmpty(*node.CurrentValue.get()) || node.Quality != 0x1C) {
            com::VariantClear(node.CurrentValue.get());
            node.Quality = 0x1C;
            node.LastUpdate = now;
        }
        return;
    }
    if (!numberingMatches()) {
        if (node.Quality != 0) {
            node.Quality = 0;
            node.LastUpdate = now;
        }
        return;
    }
    readRow(node, now);
}

void StationModel::readRow(sOPCNode& node, TDateTime now)
{
    const bool boolRow = node.vtCanonicalDataType == com::VT_BOOL;
    std::int32_t rowQuality = 0;
    TDateTime stamp = 0;
    double v = 0;
    {
        std::lock_guard<std::mutex> guard(ctx_.Items.OpcItemsLock);
        gw::TIndent* const item = ctx_.Items.Item(node.Ident);
        if (!item)
            return; // an identifier the table has no row for
        gw::TIndent& r = *item;
        v = ctx_.Items.OpcItemValues[static_cast<std::size_t>(node.Ident)];
        rowQuality = r.Quality;
        stamp = r.Stamp_DateTime;
        const auto current = nodeNumber(*node.CurrentValue.get(), boolRow);
        const bool unchanged = static_cast<com::WORD>(rowQuality) == node.Quality && !isEmpty(*node.CurrentValue.get())
                               && !r.FirstOpros && current && *current == v;
        if (unchanged)
            return;
        r.FirstOpros = false;
    }
    com::VariantClear(node.CurrentValue.get());
    node.LastUpdate = stamp > now - 1.0 ? stamp : now;
    const auto quality = static_cast<com::WORD>(rowQuality);
    if (boolRow) {
        node.CurrentValue = Variant::fromBool(v > 0);
        if (connectedIdents_.count(node.Ident))
            node.LastUpdate = now;
    } else if (node.vtCanonicalDataType == com::VT_I4) {
        const auto whole = static_cast<std::int64_t>(std::trunc(v));
        node.CurrentValue = Variant::fromI8(whole);
        node.BeforeValue = static_cast<double>(whole);
    } else {
        node.CurrentValue = Variant::fromR8(v);
        node.BeforeValue = v;
    }
    // A quality change moves the stamp for every kind of point: the periodic
    // refresh reports moved stamps only, and a single point that lost its
    // station keeps its old stamp in the row.
    if (quality != node.Quality)
        node.LastUpdate = now;
    node.Quality = quality;
}

// Every write that sends no command tells the client so: an S_OK would make
// it believe the station was commanded.
com::HRESULT StationModel::OpcItemsWrite(sOPCNode& node, const com::VARIANT& value, const std::u16string&,
                                         VARTYPE dataType)
{
    node.LastUpdate = core_ ? core_->now() : gw::WallNow();
    const std::int32_t id = node.Ident;
    if (connectedIdents_.count(id)) {
        LogLine(formatText("OpcItemsWrite - %d - Connected has no command", id));
        return com::E_FAIL;
    }
    if (!ctx_.Items.IsOpcItem(id) || !numberingMatches()) {
        LogLine(formatText("OpcItemsWrite - %d - no signal of this numbering", id));
        return com::E_FAIL;
    }
    std::int32_t tag = gw::NoOpcTag;
    {
        std::lock_guard<std::mutex> guard(ctx_.Items.OpcItemsLock);
        tag = ctx_.Items.OpcItems[static_cast<std::size_t>(id)].Nomer_Tag;
    }
    if (tag == gw::NoOpcTag)
        return com::E_FAIL;
    const auto command = commandOf(value, dataType, node.vtCanonicalDataType);
    if (!command)
        return OPC_E_BADTYPE;
    if (*command == gw::TTUCommand::tuCommand_Empty)
        return OPC_E_RANGE;
    return executeTU_(tag, *command) ? com::S_OK : com::E_FAIL;
}

} // namespace opcda
