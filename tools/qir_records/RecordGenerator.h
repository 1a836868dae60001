// RecordGenerator.h - a deterministic mix of records of every channel type,
// for test and benchmark files.
#pragma once

#include "FrameBuilder.h"

#include <cstdint>
#include <random>

namespace qir::records {

/// Produces records in time order: CAN and CAN FD, FlexRay, LIN, Ethernet
/// (UDP with SOME/IP over IPv4 and IPv6, with no, one or two VLAN tags, with
/// an authentication header, TCP), SOME/IP records, video, raw PLP, lidar and
/// untyped records. The same seed gives the same sequence. Thread-bound.
class RecordGenerator {
public:
    /// Records follow each other by kMinStepUs to kMaxStepUs microseconds.
    static constexpr uint32_t kMinStepUs = 20;
    static constexpr uint32_t kMaxStepUs = 400;

    RecordGenerator(uint64_t seed, int64_t start_time_us);

    /// Appends the next record to `out`.
    void append_next(Bytes& out);

    /// Time of the next record in microseconds.
    int64_t next_time() const noexcept { return time_us_; }

private:
    void append_can(Bytes& out);
    void append_flexray(Bytes& out);
    void append_lin(Bytes& out);
    void append_ethernet(Bytes& out);
    void append_someip_record(Bytes& out);
    void append_video(Bytes& out);
    void append_plpraw(Bytes& out);
    void append_lidar(Bytes& out);
    void append_untyped(Bytes& out);

    Bytes random_bytes(size_t count);
    uint32_t uniform(uint32_t low, uint32_t high);

    std::mt19937_64 rng_;
    int64_t time_us_;
    uint16_t session_ = 1;
};

} // namespace qir::records
