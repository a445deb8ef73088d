// The gateway's variables and groups as the entry points define them, with
// the values pushed by the caller and the slots of the last client write.
// Structure (groups, variables) is set up before the server runs and only
// read while it runs; values and the pending-changes list are shared between
// the caller's thread and the server thread under one short-held mutex.
#pragma once

#include "id_index.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tagserve {

enum class VarType : int32_t { Boolean = 0, Int32 = 5, Double = 10 };

// One per variable: the 8-byte fields first, so nothing is padded.
struct VariableValue {
    double dbl = 0; // Double variables
    int64_t sourceTime = 0;
    int64_t serverTime = 0;
    int32_t i32 = 0; // Boolean and Int32 variables
    uint32_t status;
};

struct WriteSlots {
    int32_t i32 = 0;
    double dbl = 0;
    bool b = false;
};

struct ModelGroup {
    int32_t id;
    std::string name; // UTF-8
};

struct ModelVariable {
    int32_t id;
    VarType type;
    int32_t group;
    bool writable;
    std::string name; // UTF-8
};

struct Change {
    uint32_t index;
    VariableValue value;
};

constexpr size_t kMaxPendingChanges = 100000;

// A double as Int32: truncated, clamped to the range, NaN as 0.
int32_t SaturateToInt32(double v);

class Model {
public:
    Model();

    // Structure; called by the entry points before the server runs.
    void Reset(int32_t variableHint, int32_t groupHint);
    int32_t AddGroup(int32_t id, std::string name);
    int32_t AddVariable(int32_t id, int32_t type, int32_t group, bool writable, std::string name);
    const std::vector<ModelGroup>& Groups() const { return groups_; }
    const std::vector<ModelVariable>& Variables() const { return variables_; }
    int32_t IndexOf(int32_t id) const; // -1 when unknown

    // Pushes from the caller's thread: O(1), short lock, no I/O.
    int32_t SetValue(int32_t type, int32_t id, int32_t ival, double dval, uint32_t status, int64_t sourceTime,
                     int64_t serverTime);
    int32_t SetQuality(int32_t id, uint32_t status, int64_t sourceTime, int64_t serverTime);

    // Server thread.
    VariableValue Snapshot(uint32_t index) const;
    // Moves the pending changes out; true when the list overflowed since the
    // last drain, so every watcher must compare with the current values.
    bool DrainChanges(std::vector<Change>& out);
    void StoreWrite(uint32_t index, const WriteSlots& slots);

    // The slots of the last client write (zero when never written).
    WriteSlots Written(int32_t id) const;

private:
    // Finds the variable, lets setValue change its value, stamps it and queues the change.
    template <typename SetValueFn>
    int32_t Update(int32_t id, uint32_t status, int64_t sourceTime, int64_t serverTime, SetValueFn setValue);
    void Push(uint32_t index);
    bool FirstUnknown(int32_t id); // under the lock
    static int32_t Unknown(int32_t id, bool first);

    std::vector<ModelGroup> groups_;
    std::vector<ModelVariable> variables_;
    IdIndex variableIndex_;
    std::unordered_map<int32_t, uint32_t> groupIndex_;

    mutable std::mutex mutex_;
    std::vector<VariableValue> values_;
    std::unordered_map<uint32_t, WriteSlots> written_; // by index; only variables a client wrote
    std::vector<Change> pending_;
    bool overflow_ = false;
    std::unordered_set<int32_t> loggedUnknown_;
};

} // namespace tagserve
