#include "model.h"

#include "ids.h"
#include "log.h"

#include <cmath>
#include <limits>

namespace tagserve {

namespace {

constexpr size_t kMaxLoggedUnknown = 1000;

bool KnownType(int32_t type)
{
    return type == static_cast<int32_t>(VarType::Boolean) || type == static_cast<int32_t>(VarType::Int32)
           || type == static_cast<int32_t>(VarType::Double);
}

} // namespace

int32_t SaturateToInt32(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (v <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

Model::Model() { Reset(0, 0); }

void Model::Reset(int32_t variableHint, int32_t groupHint)
{
    std::lock_guard lock(mutex_);
    groups_.clear();
    variables_.clear();
    variableIndex_.Clear();
    groupIndex_.clear();
    values_.clear();
    written_.clear();
    pending_.clear();
    overflow_ = false;
    loggedUnknown_.clear();
    // The counts are only hints: the caller may add more (the lifebit id exceeds the count).
    if (variableHint > 0 && variableHint <= 1000000) {
        variables_.reserve(static_cast<size_t>(variableHint));
        values_.reserve(static_cast<size_t>(variableHint));
        variableIndex_.Reserve(static_cast<size_t>(variableHint));
    }
    if (groupHint > 0 && groupHint <= 100000)
        groups_.reserve(static_cast<size_t>(groupHint));
}

int32_t Model::AddGroup(int32_t id, std::string name)
{
    std::lock_guard lock(mutex_);
    if (groupIndex_.count(id) || variableIndex_.Contains(id)) {
        Log(LogKind::Caller, "add_new_group: id %d already used", id);
        return -1;
    }
    groupIndex_.emplace(id, static_cast<uint32_t>(groups_.size()));
    groups_.push_back({id, std::move(name)});
    return 0;
}

int32_t Model::AddVariable(int32_t id, int32_t type, int32_t group, bool writable, std::string name)
{
    std::lock_guard lock(mutex_);
    if (!KnownType(type)) {
        Log(LogKind::Caller, "Add_new_perem: id %d has unknown type %d", id, type);
        return -1;
    }
    if (!groupIndex_.count(group)) {
        Log(LogKind::Caller, "Add_new_perem: id %d names unknown group %d", id, group);
        return -1;
    }
    if (variableIndex_.Contains(id) || groupIndex_.count(id)) {
        Log(LogKind::Caller, "Add_new_perem: id %d already used", id);
        return -1;
    }
    variableIndex_.Insert(id, static_cast<uint32_t>(variables_.size()));
    variables_.push_back({id, static_cast<VarType>(type), group, writable, std::move(name)});
    VariableValue initial;
    initial.status = status::BadWaitingForInitialData;
    values_.push_back(initial);
    return 0;
}

int32_t Model::IndexOf(int32_t id) const { return variableIndex_.Find(id); }

bool Model::FirstUnknown(int32_t id)
{
    return loggedUnknown_.size() < kMaxLoggedUnknown && loggedUnknown_.insert(id).second;
}

int32_t Model::Unknown(int32_t id, bool first)
{
    if (first) // logged outside the lock: a push never waits for I/O
        Log(LogKind::Caller, "value for unknown variable id %d", id);
    return -1;
}

void Model::Push(uint32_t index)
{
    if (pending_.size() >= kMaxPendingChanges) {
        overflow_ = true;
        return;
    }
    pending_.push_back({index, values_[index]});
}

template <typename SetValueFn>
int32_t Model::Update(int32_t id, uint32_t status, int64_t sourceTime, int64_t serverTime, SetValueFn setValue)
{
    std::unique_lock lock(mutex_);
    const int32_t found = variableIndex_.Find(id);
    if (found < 0) {
        bool first = FirstUnknown(id);
        lock.unlock();
        return Unknown(id, first);
    }
    const auto index = static_cast<uint32_t>(found);
    VariableValue& v = values_[index];
    setValue(v, variables_[index].type);
    v.status = status;
    v.sourceTime = sourceTime;
    v.serverTime = serverTime;
    Push(index);
    return 0;
}

int32_t Model::SetValue(int32_t type, int32_t id, int32_t ival, double dval, uint32_t status, int64_t sourceTime,
                        int64_t serverTime)
{
    bool pushedDouble = type == static_cast<int32_t>(VarType::Double);
    // The value takes the variable's declared type, whatever type the caller pushed.
    return Update(id, status, sourceTime, serverTime, [&](VariableValue& v, VarType declared) {
        switch (declared) {
        case VarType::Boolean: v.i32 = (pushedDouble ? dval != 0 : ival != 0) ? 1 : 0; break;
        case VarType::Int32: v.i32 = pushedDouble ? SaturateToInt32(dval) : ival; break;
        case VarType::Double: v.dbl = pushedDouble ? dval : static_cast<double>(ival); break;
        }
    });
}

int32_t Model::SetQuality(int32_t id, uint32_t status, int64_t sourceTime, int64_t serverTime)
{
    return Update(id, status, sourceTime, serverTime, [](VariableValue&, VarType) {});
}

VariableValue Model::Snapshot(uint32_t index) const
{
    std::lock_guard lock(mutex_);
    return values_[index];
}

bool Model::DrainChanges(std::vector<Change>& out)
{
    std::lock_guard lock(mutex_);
    out.clear();
    out.swap(pending_);
    bool overflow = overflow_;
    overflow_ = false;
    return overflow;
}

void Model::StoreWrite(uint32_t index, const WriteSlots& slots)
{
    std::lock_guard lock(mutex_);
    written_[index] = slots;
}

WriteSlots Model::Written(int32_t id) const
{
    std::lock_guard lock(mutex_);
    const int32_t index = variableIndex_.Find(id);
    if (index < 0)
        return {};
    auto it = written_.find(static_cast<uint32_t>(index));
    return it == written_.end() ? WriteSlots{} : it->second;
}

} // namespace tagserve
