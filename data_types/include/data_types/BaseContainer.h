// BaseContainer.h - a recorded bus or sensor frame: base header plus payload.
#pragma once

#include "data_types/BaseHeader.h"
#include "data_types/ChannelType.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace qir::data_types {

/// A frame of any channel type: a copy of its base header and its payload.
///
/// The payload is either copied into the container (`is_copied()`) or
/// borrowed: a container made without copying points into the caller's
/// memory, which must outlive it and stay unchanged. A container never
/// writes into borrowed memory; its first modification (the Ethernet
/// address and port setters) copies the payload first.
///
/// The typed classes (CANContainer, EthernetContainer, ...) add their type
/// header. `length` is always the size of the record the container writes:
/// the base header, the type header and the payload.
///
/// Thread-bound; its const functions may also run on several threads at
/// once while no thread modifies the container.
class BaseContainer {
public:
    /// Makes a container of `header` (its `length` is recomputed) and
    /// `payload`, which must hold exactly header.payload_length bytes.
    /// Throws std::invalid_argument when it does not.
    BaseContainer(const BaseHeader& header, std::span<const uint8_t> payload, bool copy_payload);

    BaseContainer(const BaseContainer& other);
    /// A moved-from container that had copied its payload is left with an
    /// empty payload; one that borrowed keeps borrowing.
    BaseContainer(BaseContainer&& other) noexcept;
    BaseContainer& operator=(const BaseContainer& other);
    BaseContainer& operator=(BaseContainer&& other) noexcept;
    virtual ~BaseContainer();

    /// Writes the record (base header, type header, payload) to the start of
    /// `dst` and returns the rest of `dst`. Throws std::length_error, writing
    /// nothing, when `dst` is shorter than get_length().
    virtual std::span<uint8_t> copy_data_to(std::span<uint8_t> dst) const;

    /// Writes the replay-data form (frame descriptor of CAN, FlexRay,
    /// Ethernet and LIN frames, then the payload) to the start of `dst` and
    /// returns the rest. Throws std::length_error, writing nothing, when
    /// `dst` is shorter than get_replay_data_length().
    virtual std::span<uint8_t> copy_replay_data_to(std::span<uint8_t> dst) const;

    /// True when the type byte is this class's channel type (NoneType here).
    virtual bool is_valid() const;

    /// Bytes that copy_replay_data_to writes.
    virtual size_t get_replay_data_length() const;

    const BaseHeader& get_base_header() const noexcept { return header_; }
    uint32_t get_length() const noexcept { return header_.length; }
    uint32_t get_payload_length() const noexcept { return header_.payload_length; }
    int64_t get_timestamp() const noexcept { return header_.timestamp; }
    void set_timestamp(int64_t timestamp) noexcept { header_.timestamp = timestamp; }
    ChannelType get_channel_type() const noexcept { return header_.type; }
    std::span<const uint8_t> get_payload() const noexcept { return { payload_, header_.payload_length }; }
    bool is_copied() const noexcept { return is_copied_; }

    /// Writes the 17-byte base header to `dst` and returns the rest of `dst`;
    /// throws std::length_error when it does not fit.
    std::span<uint8_t> copy_baseheader_to(std::span<uint8_t> dst) const;
    /// Writes the payload to `dst` and returns the rest of `dst`; throws
    /// std::length_error when it does not fit.
    std::span<uint8_t> copy_payload_to(std::span<uint8_t> dst) const;

    /// The record as a new byte vector (copy_data_to of get_length() bytes).
    std::vector<uint8_t> to_record() const;
    /// The replay-data form as a new byte vector.
    std::vector<uint8_t> to_replay_data() const;

    /// Largest record of `type` in bytes; 0 for NoneType and unknown values.
    static uint64_t get_maximum_size(ChannelType type);

    /// Reads the record at the start of `src` into a container of its
    /// channel type (lidar included). `src` may go on past the record.
    /// Returns nothing when the type byte names no channel type, when `src`
    /// is shorter than the record's headers or its `length`, or when
    /// `length` disagrees with `payload_length` and the headers' size.
    /// Without copying, the container points into `src`.
    static std::shared_ptr<BaseContainer> read_data_from(std::span<const uint8_t> src, bool copy_payload);

protected:
    /// For the typed classes: `record_overhead` is the size of the base and
    /// type headers, from which `length` is computed.
    BaseContainer(const BaseHeader& header, std::span<const uint8_t> payload, bool copy_payload,
                  size_t record_overhead);

    /// The payload, copied first when it is borrowed, for in-place changes.
    std::span<uint8_t> writable_payload();

    /// Writes base header, `type_header` and payload (a whole record).
    std::span<uint8_t> copy_record_to(std::span<uint8_t> dst, std::span<const uint8_t> type_header) const;

    /// Writes `descriptor` then the payload (a replay-data form).
    std::span<uint8_t> copy_replay_form_to(std::span<uint8_t> dst, std::span<const uint8_t> descriptor) const;

private:
    void adopt_payload(std::span<const uint8_t> payload, bool copy_payload);
    void drop_payload() noexcept;

    BaseHeader header_;
    const uint8_t* payload_ = nullptr;
    bool is_copied_ = false;
    std::vector<uint8_t> copied_payload_;
};

/// Bytes of a packed header, for the copy helpers.
template <typename Header>
std::span<const uint8_t> header_bytes(const Header& header) noexcept
{
    return { reinterpret_cast<const uint8_t*>(&header), sizeof(Header) };
}

} // namespace qir::data_types
