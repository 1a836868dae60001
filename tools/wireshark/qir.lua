-- qir.lua - Wireshark dissector for the QIR unit protocol: control requests
-- and their replies, periodic status messages and sensor datagrams.
--
-- Load it with `tshark -X lua_script:tools/wireshark/qir.lua` or copy it into
-- a Lua plugin folder (the Debian package installs it into Wireshark's
-- global one). See README.md next to it.
--
-- Which datagrams it decodes:
--   * UDP to or from the control port (preference "control_port", 65024):
--     control requests ("QIR-C") and status messages ("QIR-S");
--   * UDP to the data ports (preferences "data_base_port", 61440, and
--     "data_channels", 64): sensor datagrams, channel n on base + n;
--   * any UDP datagram that begins with "QIR-C" or "QIR-S" (heuristic);
--   * any port chosen with "Decode As..." (`-d udp.port==N,qir`): a datagram
--     with a control or status magic is decoded as one, anything else as a
--     sensor datagram.
--
-- Layouts (all little-endian), as the unit's wire header defines them:
--   control  0 magic(5) 5 version 6 length 7 channel 8 command(2)
--            10 request id(2) 12 payload (0, 4 or 8 bytes)
--   status   0 magic(5) 5 version 6 length 7 channel 8 response type(2)
--            10 response id(2) 12 payload (16 bytes)
--   sensor   0 frame(2) 2 line(2) 4 payload size(2) 6 version 7 flags
--            8 packet number(2) 10 stream id 11 reserved(5)
--            16 timestamp ns(8) 24 payload
--
-- Expert infos flag a gap in a channel's packet numbers, a frame whose lines
-- stop without end of frame, a line number going backwards inside a frame, a
-- status whose free FIFO entries are below the sender's threshold, a payload
-- size disagreeing with the datagram length, an unknown version, and other
-- malformed messages. Every read is checked against the bytes captured: a
-- short or garbled datagram is flagged, never a Lua error.

-- Loaded once: with the installed plugin, `-X lua_script:` names it a second
-- time, which then steps aside instead of failing to register again.
local registered_first, qir = pcall(Proto, "qir", "QIR unit protocol")
if not registered_first then
    return
end

-- Constants -------------------------------------------------------------------

local PROTOCOL_VERSION = 3
local CONTROL_MAGIC = "QIR-C"
local STATUS_MAGIC = "QIR-S"
local CONTROL_HEADER_LENGTH = 12
local STATUS_MESSAGE_SIZE = 28
local STATUS_MIN_LENGTH = 8
local SENSOR_HEADER_SIZE = 24
local RESPONSE_PERIODIC_STATUS = 0x00FF
local RESPONSE_BUFFER_SIZE = 3
local RESPONSE_CHANNEL_NOT_AVAILABLE = 0x8004

local command_names = {
    [0] = "DISABLE_CHANNEL",
    [1] = "ENABLE_CHANNEL",
    [2] = "RESET_CHANNEL",
    [3] = "GET_BUFFER_SIZE",
    [16] = "DISABLE_STATUS_MESSAGES",
    [17] = "ENABLE_STATUS_MESSAGES",
    [18] = "CLEAR_STATUS_FLAGS",
    [32] = "SET_OFFSET_TIMESTAMP",
    [33] = "GET_OFFSET_TIMESTAMP",
    [34] = "SET_START_TIMESTAMP",
    [35] = "GET_START_TIMESTAMP",
    [36] = "SET_STOP_TIMESTAMP",
    [37] = "GET_STOP_TIMESTAMP",
    [48] = "SET_FRAME_SIZE",
    [49] = "GET_FRAME_SIZE",
}

-- Payload bytes a request of each command carries.
local command_payload = { [32] = 8, [34] = 8, [36] = 8, [48] = 4 }

local response_names = {}
for value, name in pairs(command_names) do
    response_names[value] = name
end
response_names[RESPONSE_PERIODIC_STATUS] = "PERIODIC_STATUS"
response_names[RESPONSE_CHANNEL_NOT_AVAILABLE] = "CHANNEL_NOT_AVAILABLE"

-- Fields ----------------------------------------------------------------------

local f = {
    kind = ProtoField.string("qir.kind", "Message"),
    magic = ProtoField.string("qir.magic", "Magic"),
    version = ProtoField.uint8("qir.version", "Version"),
    length = ProtoField.uint8("qir.length", "Length"),
    channel = ProtoField.uint8("qir.channel", "Channel"),
    command = ProtoField.uint16("qir.command", "Command", base.DEC, command_names),
    request_id = ProtoField.uint16("qir.request_id", "Request id"),
    response_type = ProtoField.uint16("qir.response_type", "Response type", base.HEX_DEC, response_names),
    response_id = ProtoField.uint16("qir.response_id", "Response id"),
    ts = ProtoField.uint64("qir.ts", "Time (ns)"),
    width = ProtoField.uint16("qir.frame_size.width", "Frame width"),
    height = ProtoField.uint16("qir.frame_size.height", "Frame height (lines)"),
    total_buffer = ProtoField.uint32("qir.buffer.total_size", "Total buffer size (bytes)"),
    total_fifo = ProtoField.uint32("qir.buffer.fifo_entries", "Total FIFO entries"),
    payload = ProtoField.bytes("qir.payload", "Payload"),

    status_flags = ProtoField.uint16("qir.status.flags", "Status flags", base.HEX),
    status_enabled = ProtoField.bool("qir.status.enabled", "Enabled", 16, nil, 0x0001),
    status_loss = ProtoField.bool("qir.status.loss", "Loss", 16, nil, 0x0002),
    status_ptp_synced = ProtoField.bool("qir.status.ptp_synced", "PTP synced", 16, nil, 0x0004),
    status_ptp_active = ProtoField.bool("qir.status.ptp_active", "PTP active", 16, nil, 0x0008),
    status_rx_packet = ProtoField.uint16("qir.status.rx_packet", "Latest packet number received"),
    status_free_fifo = ProtoField.uint32("qir.status.free_fifo", "Free FIFO entries"),
    status_time = ProtoField.uint64("qir.status.time", "Unit time (ns)"),

    data_channel = ProtoField.uint16("qir.data.channel", "Channel (from the data port)"),
    data_frame = ProtoField.uint16("qir.data.frame", "Frame number"),
    data_line = ProtoField.uint16("qir.data.line", "Line number"),
    data_size = ProtoField.uint16("qir.data.size", "Payload size"),
    data_flags = ProtoField.uint8("qir.data.flags", "Flags", base.HEX),
    data_reserved_flags = ProtoField.uint8("qir.data.reserved_flags", "Reserved flag bits", base.HEX, nil, 0x3F),
    data_eol = ProtoField.bool("qir.data.eol", "End of line", 8, nil, 0x40),
    data_eof = ProtoField.bool("qir.data.eof", "End of frame", 8, nil, 0x80),
    data_packet = ProtoField.uint16("qir.data.packet", "Packet number"),
    data_stream = ProtoField.uint8("qir.data.stream", "Stream id"),
    data_reserved = ProtoField.bytes("qir.data.reserved", "Reserved"),
    data_timestamp = ProtoField.uint64("qir.data.timestamp", "Timestamp (ns)"),
    data_payload = ProtoField.bytes("qir.data.payload", "Sensor data"),
}
qir.fields = f

local e = {
    packet_gap = ProtoExpert.new("qir.expert.packet_gap", "Gap in the channel's packet numbers",
        expert.group.SEQUENCE, expert.severity.WARN),
    frame_without_eof = ProtoExpert.new("qir.expert.frame_without_eof", "Frame ended without end of frame",
        expert.group.SEQUENCE, expert.severity.WARN),
    line_backwards = ProtoExpert.new("qir.expert.line_backwards", "Line number went backwards inside a frame",
        expert.group.SEQUENCE, expert.severity.WARN),
    fifo_below_threshold = ProtoExpert.new("qir.expert.fifo_below_threshold",
        "Free FIFO entries below the sending threshold", expert.group.SEQUENCE, expert.severity.WARN),
    size_mismatch = ProtoExpert.new("qir.expert.size_mismatch", "Payload size disagrees with the datagram length",
        expert.group.MALFORMED, expert.severity.ERROR),
    unknown_version = ProtoExpert.new("qir.expert.unknown_version", "Unknown protocol version",
        expert.group.PROTOCOL, expert.severity.ERROR),
    length_mismatch = ProtoExpert.new("qir.expert.length_mismatch", "Length byte disagrees with the datagram length",
        expert.group.MALFORMED, expert.severity.ERROR),
    too_short = ProtoExpert.new("qir.expert.too_short", "Datagram too short for its header",
        expert.group.MALFORMED, expert.severity.ERROR),
    bad_magic = ProtoExpert.new("qir.expert.bad_magic", "No control or status magic on the control port",
        expert.group.MALFORMED, expert.severity.ERROR),
    unknown_command = ProtoExpert.new("qir.expert.unknown_command", "Unknown command",
        expert.group.PROTOCOL, expert.severity.ERROR),
    reserved_set = ProtoExpert.new("qir.expert.reserved_set", "Reserved bits or bytes not zero",
        expert.group.PROTOCOL, expert.severity.WARN),
    channel_not_available = ProtoExpert.new("qir.expert.channel_not_available", "The unit refused the channel",
        expert.group.RESPONSE_CODE, expert.severity.NOTE),
}
qir.experts = e

-- Preferences -----------------------------------------------------------------

qir.prefs.control_port = Pref.uint("Control port", 65024, "UDP port of the unit's control address")
qir.prefs.data_base_port = Pref.uint("Data base port", 61440, "UDP data port of channel 0; channel n uses base + n")
qir.prefs.data_channels = Pref.uint("Data channels", 64, "Number of data ports from the base port on")
qir.prefs.fifo_entries = Pref.uint("FIFO entries", 0,
    "Total replay FIFO entries per channel when the capture holds no GET_BUFFER_SIZE reply (0: unknown)")
qir.prefs.threshold_percent = Pref.uint("Sending threshold (%)", 20,
    "The sender waits while free FIFO entries are below this share of the total")

-- Sequence analysis -----------------------------------------------------------
--
-- On the first pass over the capture each sensor datagram is compared with
-- the previous one of its channel (the unit's data address and port) and
-- each status with the FIFO size its unit reported; the findings are kept
-- per packet, so later passes (and a GUI that dissects packets in any order)
-- show the same.

local channels = {} -- data endpoint -> { packet, frame, line, eof }
local fifo_totals = {} -- unit address / channel -> total FIFO entries
local findings = {} -- packet number -> list of { expert, text }

function qir.init()
    channels = {}
    fifo_totals = {}
    findings = {}
end

local function note(list, expert_field, text)
    list[#list + 1] = { expert_field, text }
end

local function sensor_findings(pinfo, frame, line, packet, eof)
    local key = tostring(pinfo.dst) .. ":" .. tostring(pinfo.dst_port)
    local list = {}
    local last = channels[key]
    if last then
        local expected = (last.packet + 1) % 65536
        if packet ~= expected then
            local missing = (packet - expected) % 65536
            note(list, e.packet_gap, string.format("Packet number %d after %d: expected %d (%d missing, or reordered)",
                packet, last.packet, expected, missing))
        end
        if frame ~= last.frame and not last.eof then
            note(list, e.frame_without_eof, string.format(
                "Frame %d ended at line %d without end of frame; frame %d began", last.frame, last.line, frame))
        elseif frame == last.frame and not last.eof and line < last.line then
            note(list, e.line_backwards, string.format("Line %d after line %d in frame %d", line, last.line, frame))
        end
    end
    channels[key] = { packet = packet, frame = frame, line = line, eof = eof }
    return list
end

local function status_key(pinfo, channel)
    return tostring(pinfo.src) .. "/" .. tostring(channel)
end

local function add_findings(pinfo, tree, compute)
    local list = findings[pinfo.number]
    if list == nil or not pinfo.visited then
        list = compute()
        findings[pinfo.number] = list
    end
    for _, finding in ipairs(list) do
        tree:add_proto_expert_info(finding[1], finding[2])
    end
    return #list
end

-- Messages --------------------------------------------------------------------

local function u16(tvb, offset)
    return tvb(offset, 2):le_uint()
end

-- Magic and version byte of a control or status message of `length` (at
-- least 5) captured bytes.
local function add_magic_and_version(tvb, tree, length)
    tree:add(f.magic, tvb(0, 5))
    if length < 6 then return end
    local version = tvb(5, 1):uint()
    local version_item = tree:add(f.version, tvb(5, 1))
    if version ~= PROTOCOL_VERSION then
        version_item:add_proto_expert_info(e.unknown_version, "Version " .. version .. ", expected " .. PROTOCOL_VERSION)
    end
end

-- Control request. `length` is the number of bytes captured.
local function dissect_control(tvb, pinfo, tree, length)
    tree:add(f.kind, "control request"):set_generated()
    pinfo.cols.info:set(string.format("Request, %d bytes", length))
    add_magic_and_version(tvb, tree, length)
    if length < CONTROL_HEADER_LENGTH then
        tree:add_proto_expert_info(e.too_short, string.format("%d bytes; a control request has at least %d",
            length, CONTROL_HEADER_LENGTH))
        if length >= 7 then tree:add(f.length, tvb(6, 1)) end
        if length >= 8 then tree:add(f.channel, tvb(7, 1)) end
        return
    end
    local declared = tvb(6, 1):uint()
    local length_item = tree:add(f.length, tvb(6, 1))
    if declared ~= length then
        length_item:add_proto_expert_info(e.length_mismatch, string.format("Length byte %d, datagram %d bytes",
            declared, length))
    end
    local channel = tvb(7, 1):uint()
    tree:add(f.channel, tvb(7, 1))
    local command = u16(tvb, 8)
    local command_item = tree:add_le(f.command, tvb(8, 2))
    local request_id = u16(tvb, 10)
    tree:add_le(f.request_id, tvb(10, 2))
    local name = command_names[command]
    if name == nil then
        command_item:add_proto_expert_info(e.unknown_command, "Command " .. command .. " is not one of the unit's")
        name = "command " .. command
    end
    pinfo.cols.info:set(string.format("Request %s ch=%d id=%d", name, channel, request_id))

    local payload = length - CONTROL_HEADER_LENGTH
    local expected = command_payload[command] or 0
    if command_names[command] ~= nil and payload ~= expected then
        tree:add_proto_expert_info(e.size_mismatch, string.format("%s carries %d payload bytes, the datagram %d",
            name, expected, payload))
    end
    if payload <= 0 then return end
    if expected == 8 and payload >= 8 then
        tree:add_le(f.ts, tvb(12, 8))
        pinfo.cols.info:append(" ts=" .. tvb(12, 8):le_uint64():tonumber())
    elseif expected == 4 and payload >= 4 then
        tree:add_le(f.width, tvb(12, 2))
        tree:add_le(f.height, tvb(14, 2))
        pinfo.cols.info:append(string.format(" %dx%d", u16(tvb, 12), u16(tvb, 14)))
    else
        tree:add(f.payload, tvb(12, payload))
    end
end

-- Periodic status or reply. `length` is the number of bytes captured.
local function dissect_status(tvb, pinfo, tree, length)
    pinfo.cols.info:set(string.format("Status, %d bytes", length))
    add_magic_and_version(tvb, tree, length)
    if length < STATUS_MIN_LENGTH then
        tree:add(f.kind, "status"):set_generated()
        tree:add_proto_expert_info(e.too_short, string.format("%d bytes; a status message has at least %d",
            length, STATUS_MIN_LENGTH))
        if length >= 7 then tree:add(f.length, tvb(6, 1)) end
        return
    end
    local declared = tvb(6, 1):uint()
    local length_item = tree:add(f.length, tvb(6, 1))
    if declared ~= length then
        length_item:add_proto_expert_info(e.length_mismatch, string.format(
            "Length byte %d, datagram %d bytes: a client drops it", declared, length))
    end
    local channel = tvb(7, 1):uint()
    tree:add(f.channel, tvb(7, 1))
    if length < CONTROL_HEADER_LENGTH then
        tree:add(f.kind, "status"):set_generated()
        tree:add_proto_expert_info(e.too_short, string.format("%d bytes: no response type", length))
        return
    end
    local response = u16(tvb, 8)
    tree:add_le(f.response_type, tvb(8, 2))
    local payload = length - CONTROL_HEADER_LENGTH
    -- Bytes beyond the record are ignored, missing ones read as zero.
    local function have(offset, size)
        return offset + size <= length and offset + size <= STATUS_MESSAGE_SIZE
    end

    if response == RESPONSE_PERIODIC_STATUS then
        tree:add(f.kind, "periodic status"):set_generated()
        pinfo.cols.info:set(string.format("Status ch=%d", channel))
        if have(12, 2) then
            local flags_item = tree:add_le(f.status_flags, tvb(12, 2))
            flags_item:add_le(f.status_enabled, tvb(12, 2))
            flags_item:add_le(f.status_loss, tvb(12, 2))
            flags_item:add_le(f.status_ptp_synced, tvb(12, 2))
            flags_item:add_le(f.status_ptp_active, tvb(12, 2))
            if bit.band(u16(tvb, 12), 0x0002) ~= 0 then pinfo.cols.info:append(" LOSS") end
        end
        if have(14, 2) then
            tree:add_le(f.status_rx_packet, tvb(14, 2))
            pinfo.cols.info:append(" rx=" .. u16(tvb, 14))
        end
        if have(16, 4) then
            local free = tvb(16, 4):le_uint()
            local free_item = tree:add_le(f.status_free_fifo, tvb(16, 4))
            pinfo.cols.info:append(" free=" .. free)
            add_findings(pinfo, free_item, function()
                local list = {}
                local total = fifo_totals[status_key(pinfo, channel)]
                if total == nil and qir.prefs.fifo_entries > 0 then total = qir.prefs.fifo_entries end
                local share = qir.prefs.threshold_percent / 100.0
                if total ~= nil and total > 0 and free / total < share then
                    note(list, e.fifo_below_threshold, string.format(
                        "%d of %d entries free, below the sending threshold of %d (%d%%): the sender waits",
                        free, total, math.ceil(total * share), qir.prefs.threshold_percent))
                end
                return list
            end)
        end
        if have(20, 8) then tree:add_le(f.status_time, tvb(20, 8)) end
        if payload < 16 then
            tree:add_proto_expert_info(e.too_short, string.format("%d payload bytes of 16; the rest reads as zero",
                math.max(payload, 0)))
        end
        return
    end

    tree:add(f.kind, "reply"):set_generated()
    local response_id = u16(tvb, 10)
    tree:add_le(f.response_id, tvb(10, 2))
    local name = response_names[response] or string.format("0x%04x", response)
    pinfo.cols.info:set(string.format("Reply %s ch=%d id=%d", name, channel, response_id))
    if response == RESPONSE_BUFFER_SIZE then
        if have(12, 4) then tree:add_le(f.total_buffer, tvb(12, 4)) end
        if have(16, 4) then
            local total = tvb(16, 4):le_uint()
            tree:add_le(f.total_fifo, tvb(16, 4))
            pinfo.cols.info:append(" fifo=" .. total)
            if not pinfo.visited then fifo_totals[status_key(pinfo, channel)] = total end
        end
    elseif response == 33 or response == 35 or response == 37 then
        if have(12, 8) then tree:add_le(f.ts, tvb(12, 8)) end
    elseif response == 49 then
        if have(12, 2) then tree:add_le(f.width, tvb(12, 2)) end
        if have(14, 2) then tree:add_le(f.height, tvb(14, 2)) end
    elseif response == RESPONSE_CHANNEL_NOT_AVAILABLE then
        tree:add_proto_expert_info(e.channel_not_available, "Channel " .. channel .. " is not available on the unit")
    end
end

-- Sensor datagram. `length` is the number of bytes captured, `reported` the
-- length of the datagram on the wire.
local function dissect_sensor(tvb, pinfo, tree, length, reported)
    tree:add(f.kind, "sensor datagram"):set_generated()
    local base_port = qir.prefs.data_base_port
    if pinfo.dst_port >= base_port and pinfo.dst_port < base_port + qir.prefs.data_channels then
        tree:add(f.data_channel, pinfo.dst_port - base_port):set_generated()
    end
    if length < SENSOR_HEADER_SIZE then
        tree:add_proto_expert_info(e.too_short, string.format("%d bytes; a sensor datagram has a %d-byte header",
            length, SENSOR_HEADER_SIZE))
        pinfo.cols.info:set(string.format("Sensor datagram, %d bytes: too short", length))
        return
    end
    local frame = u16(tvb, 0)
    local line = u16(tvb, 2)
    local size = u16(tvb, 4)
    local version = tvb(6, 1):uint()
    local flags = tvb(7, 1):uint()
    local packet = u16(tvb, 8)
    tree:add_le(f.data_frame, tvb(0, 2))
    tree:add_le(f.data_line, tvb(2, 2))
    local size_item = tree:add_le(f.data_size, tvb(4, 2))
    if size ~= reported - SENSOR_HEADER_SIZE then
        size_item:add_proto_expert_info(e.size_mismatch, string.format(
            "Payload size %d, but the datagram holds %d bytes after the header", size, reported - SENSOR_HEADER_SIZE))
    end
    local version_item = tree:add(f.version, tvb(6, 1))
    if version ~= PROTOCOL_VERSION then
        version_item:add_proto_expert_info(e.unknown_version, "Version " .. version .. ", expected " .. PROTOCOL_VERSION)
    end
    local flags_item = tree:add(f.data_flags, tvb(7, 1))
    flags_item:add(f.data_eol, tvb(7, 1))
    flags_item:add(f.data_eof, tvb(7, 1))
    flags_item:add(f.data_reserved_flags, tvb(7, 1))
    tree:add_le(f.data_packet, tvb(8, 2))
    tree:add(f.data_stream, tvb(10, 1))
    local reserved_item = tree:add(f.data_reserved, tvb(11, 5))
    local reserved_zero = bit.band(flags, 0x3F) == 0
    for i = 11, 15 do
        if tvb(i, 1):uint() ~= 0 then reserved_zero = false end
    end
    if not reserved_zero then
        reserved_item:add_proto_expert_info(e.reserved_set, "Reserved flag bits or reserved bytes are not zero")
    end
    tree:add_le(f.data_timestamp, tvb(16, 8))
    if length > SENSOR_HEADER_SIZE then
        tree:add(f.data_payload, tvb(SENSOR_HEADER_SIZE, length - SENSOR_HEADER_SIZE))
    end

    local eol = bit.band(flags, 0x40) ~= 0
    local eof = bit.band(flags, 0x80) ~= 0
    pinfo.cols.info:set(string.format("Data frame=%d line=%d pkt=%d size=%d%s%s", frame, line, packet, size,
        eol and " EOL" or "", eof and " EOF" or ""))
    add_findings(pinfo, tree, function() return sensor_findings(pinfo, frame, line, packet, eof) end)
end

local function magic_of(tvb, length)
    if length < 5 then return nil end
    return tvb(0, 5):string()
end

function qir.dissector(tvb, pinfo, tree)
    local length = tvb:len()
    local reported = tvb:reported_length_remaining()
    if length == 0 then return 0 end
    pinfo.cols.protocol:set("QIR")
    local subtree = tree:add(qir, tvb(), "QIR unit protocol")
    local magic = magic_of(tvb, length)
    local on_control_port = pinfo.src_port == qir.prefs.control_port or pinfo.dst_port == qir.prefs.control_port
    if magic == CONTROL_MAGIC then
        dissect_control(tvb, pinfo, subtree, length)
    elseif magic == STATUS_MAGIC then
        dissect_status(tvb, pinfo, subtree, length)
    elseif on_control_port then
        subtree:add(f.kind, "unknown"):set_generated()
        subtree:add_proto_expert_info(e.bad_magic, string.format("%d bytes without \"%s\" or \"%s\"", length,
            CONTROL_MAGIC, STATUS_MAGIC))
        pinfo.cols.info:set(string.format("Not a QIR control message (%d bytes)", length))
    else
        dissect_sensor(tvb, pinfo, subtree, length, reported)
    end
    return length
end

local function heuristic(tvb, pinfo, tree)
    local magic = magic_of(tvb, tvb:len())
    if magic ~= CONTROL_MAGIC and magic ~= STATUS_MAGIC then return false end
    qir.dissector(tvb, pinfo, tree)
    return true
end

-- Registration ----------------------------------------------------------------

local udp_port = DissectorTable.get("udp.port")
local registered = {}

local function register_ports()
    for _, pattern in ipairs(registered) do
        udp_port:remove(pattern, qir)
    end
    registered = {}
    udp_port:add(qir.prefs.control_port, qir)
    registered[#registered + 1] = qir.prefs.control_port
    if qir.prefs.data_channels > 0 then
        local range = string.format("%d-%d", qir.prefs.data_base_port,
            math.min(65535, qir.prefs.data_base_port + qir.prefs.data_channels - 1))
        udp_port:add(range, qir)
        registered[#registered + 1] = range
    end
end

function qir.prefs_changed()
    register_ports()
end

register_ports()
udp_port:add_for_decode_as(qir)
qir:register_heuristic("udp", heuristic)
