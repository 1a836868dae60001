#include "data_types/BaseContainer.h"

#include "data_types/ByteWriter.h"
#include "data_types/RecordLayout.h"

#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace qir::data_types {

namespace {

void require_room(std::span<uint8_t> dst, size_t needed, const char* what)
{
    if (dst.size() < needed) {
        throw std::length_error(std::string(what) + ": " + std::to_string(needed) + " bytes do not fit the " +
                                std::to_string(dst.size()) + "-byte destination");
    }
}

uint32_t record_length(uint32_t payload_length, size_t overhead)
{
    if (payload_length > std::numeric_limits<uint32_t>::max() - overhead) {
        throw std::invalid_argument("container payload of " + std::to_string(payload_length) +
                                    " bytes makes a record longer than the 32-bit length field");
    }
    return static_cast<uint32_t>(payload_length + overhead);
}

} // namespace

BaseContainer::BaseContainer(const BaseHeader& header, std::span<const uint8_t> payload, bool copy_payload)
    : BaseContainer(header, payload, copy_payload, kBaseHeaderSize)
{ }

BaseContainer::BaseContainer(const BaseHeader& header, std::span<const uint8_t> payload, bool copy_payload,
                             size_t record_overhead)
    : header_(header)
{
    if (payload.size() != header.payload_length) {
        throw std::invalid_argument("container payload of " + std::to_string(payload.size()) +
                                    " bytes, but payload_length says " + std::to_string(header.payload_length));
    }
    header_.length = record_length(header.payload_length, record_overhead);
    adopt_payload(payload, copy_payload);
}

BaseContainer::BaseContainer(const BaseContainer& other) : header_(other.header_)
{
    adopt_payload(other.get_payload(), other.is_copied_);
}

BaseContainer::BaseContainer(BaseContainer&& other) noexcept
    : header_(other.header_)
    , payload_(other.payload_)
    , is_copied_(other.is_copied_)
    , copied_payload_(std::move(other.copied_payload_))
{
    // A moved vector keeps its buffer, so a copied payload stays where it was.
    if (is_copied_) {
        payload_ = copied_payload_.data();
        other.drop_payload();
    }
}

BaseContainer& BaseContainer::operator=(const BaseContainer& other)
{
    if (this != &other) {
        BaseContainer copy(other);
        *this = std::move(copy);
    }
    return *this;
}

BaseContainer& BaseContainer::operator=(BaseContainer&& other) noexcept
{
    if (this != &other) {
        header_ = other.header_;
        is_copied_ = other.is_copied_;
        copied_payload_ = std::move(other.copied_payload_);
        payload_ = is_copied_ ? copied_payload_.data() : other.payload_;
        if (is_copied_)
            other.drop_payload();
    }
    return *this;
}

void BaseContainer::drop_payload() noexcept
{
    // A borrowed source stays as it was; one whose copy was taken keeps its
    // headers with an empty payload, still a consistent record.
    header_.length -= header_.payload_length;
    header_.payload_length = 0;
    copied_payload_.clear();
    payload_ = copied_payload_.data();
}

BaseContainer::~BaseContainer() = default;

void BaseContainer::adopt_payload(std::span<const uint8_t> payload, bool copy_payload)
{
    is_copied_ = copy_payload;
    if (copy_payload) {
        copied_payload_.assign(payload.begin(), payload.end());
        payload_ = copied_payload_.data();
    } else {
        payload_ = payload.data();
    }
}

std::span<uint8_t> BaseContainer::writable_payload()
{
    if (!is_copied_)
        adopt_payload(get_payload(), true);
    return copied_payload_;
}

std::span<uint8_t> BaseContainer::copy_record_to(std::span<uint8_t> dst, std::span<const uint8_t> type_header) const
{
    require_room(dst, get_length(), "record");
    ByteWriter writer(dst);
    writer.write(header_);
    writer.write_bytes(type_header);
    writer.write_bytes(get_payload());
    return writer.rest();
}

std::span<uint8_t> BaseContainer::copy_replay_form_to(std::span<uint8_t> dst, std::span<const uint8_t> descriptor) const
{
    require_room(dst, descriptor.size() + get_payload_length(), "replay data");
    ByteWriter writer(dst);
    writer.write_bytes(descriptor);
    writer.write_bytes(get_payload());
    return writer.rest();
}

std::span<uint8_t> BaseContainer::copy_data_to(std::span<uint8_t> dst) const
{
    return copy_record_to(dst, {});
}

std::span<uint8_t> BaseContainer::copy_replay_data_to(std::span<uint8_t> dst) const
{
    return copy_replay_form_to(dst, {});
}

bool BaseContainer::is_valid() const
{
    return header_.type == ChannelType::NoneType;
}

size_t BaseContainer::get_replay_data_length() const
{
    return get_payload_length();
}

std::span<uint8_t> BaseContainer::copy_baseheader_to(std::span<uint8_t> dst) const
{
    require_room(dst, kBaseHeaderSize, "base header");
    ByteWriter writer(dst);
    writer.write(header_);
    return writer.rest();
}

std::span<uint8_t> BaseContainer::copy_payload_to(std::span<uint8_t> dst) const
{
    require_room(dst, get_payload_length(), "payload");
    ByteWriter writer(dst);
    writer.write_bytes(get_payload());
    return writer.rest();
}

std::vector<uint8_t> BaseContainer::to_record() const
{
    std::vector<uint8_t> record(get_length());
    copy_data_to(record);
    return record;
}

std::vector<uint8_t> BaseContainer::to_replay_data() const
{
    std::vector<uint8_t> data(get_replay_data_length());
    copy_replay_data_to(data);
    return data;
}

uint64_t BaseContainer::get_maximum_size(ChannelType type)
{
    return maximum_record_size(type);
}

} // namespace qir::data_types
