// SOMEIPHeader.h - type header of a SOME/IP record (follows the base header).
//
//    0        2    3        5            9        11        13  14  15  16  17            21   22
//   +--------+----+--------+------------+--------+---------+---+---+---+---+-------------+----+
//   |service |evt | method | length u32 | client | session |pv |iv |mt |rc | offset_field|resm|
//   +--------+----+--------+------------+--------+---------+---+---+---+---+-------------+----+
//
// Little-endian like every record integer; the fields mirror one SOME/IP
// message header (which is big-endian on the wire, see SomeIpWireLayout.h).
// is_event is a boolean byte (0 false, other values true).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qir::data_types {

struct [[gnu::packed]] SOMEIPHeader {
    uint16_t service_id;
    uint8_t is_event;
    uint16_t method_id;
    uint32_t length;
    uint16_t client_id;
    uint16_t session_id;
    uint8_t protocol_version;
    uint8_t interface_version;
    uint8_t message_type;
    uint8_t return_code;
    uint32_t offset_field;
    uint8_t resm;
};

static_assert(sizeof(SOMEIPHeader) == 22);
static_assert(offsetof(SOMEIPHeader, service_id) == 0);
static_assert(offsetof(SOMEIPHeader, is_event) == 2);
static_assert(offsetof(SOMEIPHeader, method_id) == 3);
static_assert(offsetof(SOMEIPHeader, length) == 5);
static_assert(offsetof(SOMEIPHeader, client_id) == 9);
static_assert(offsetof(SOMEIPHeader, session_id) == 11);
static_assert(offsetof(SOMEIPHeader, protocol_version) == 13);
static_assert(offsetof(SOMEIPHeader, interface_version) == 14);
static_assert(offsetof(SOMEIPHeader, message_type) == 15);
static_assert(offsetof(SOMEIPHeader, return_code) == 16);
static_assert(offsetof(SOMEIPHeader, offset_field) == 17);
static_assert(offsetof(SOMEIPHeader, resm) == 21);

} // namespace qir::data_types
