// The monitored objects of one simulated station: single and double points,
// measured values (normalized, scaled, short float), integrated totals,
// bitstrings and eight-point bytes, each kind with its untimed and
// CP56-timed type identification.
#pragma once

#include "asdu.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace kpsim {

enum class PointKind { Single, Double, Normalized, Scaled, Float, Counter, Bitstring, Bits8 };

struct KindInfo {
    PointKind kind;
    const char* option; // command-line option without "--"
    TypeId untimed;
    TypeId timed;
    bool timeOnly = false; // the kind has no untimed type: always sent with a time tag
};

const std::vector<KindInfo>& Kinds();
const KindInfo& InfoOf(PointKind kind);

// A block of `count` objects with consecutive addresses.
struct PointRange {
    PointKind kind = PointKind::Single;
    std::uint32_t firstIoa = 0;
    std::uint32_t count = 0;
};

struct Point {
    PointKind kind;
    std::uint32_t ioa;
    double value;
    std::uint8_t sequence = 0; // integrated totals only
    std::uint8_t quality = 0;  // IV, NT, SB, BL, OV (totals: IV, CA, CY) bits as the element carries them
};

class SignalSet {
public:
    // Fails (returns the reason) when an address repeats or exceeds the width.
    std::string Build(const std::vector<PointRange>& ranges, int ioaWidth);

    const std::vector<Point>& Points() const { return points_; }
    Point* Find(std::uint32_t ioa);

    // The point of the next spontaneous change, taken round-robin over all
    // points but the integrated totals; its value is stepped. Nothing when
    // the station has no such point.
    Point* StepNext();
    // Integrated totals count up at every counter interrogation.
    void AdvanceCounters();

private:
    std::vector<Point> points_;
    std::unordered_map<std::uint32_t, std::size_t> byIoa_;
    std::size_t nextChange_ = 0;
};

// The information element of a point's value without time tag.
Bytes EncodeElement(const Point& point);
// Reads a value text for a point of this kind ("1", "2", "0.25", "-17").
bool ParseValue(PointKind kind, const std::string& text, double& value);
// The quality bit of a flag name ("iv", "nt", "sb", "bl", "ov"; "cy", "ca"
// for totals) for a point of this kind; 0 when the kind has no such flag.
std::uint8_t QualityBit(PointKind kind, const std::string& name);

} // namespace kpsim
