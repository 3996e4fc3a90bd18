-- Wireshark dissectors for what OrvFlashPuc puts on the wire:
--   orvccb   the CAN gateway protocol on TCP (requests and replies of the gateway board)
--   orvboot  the boot loader's CAN frames in SocketCAN captures (candump, OrvCanSim --pcap)
-- Load it with `tshark -X lua_script:orvflashpuc.lua` or copy it into a Lua plugin folder.

set_plugin_info({ version = "1.0.0", description = "OrvFlashPuc gateway protocol and boot-loader frames" })

------------------------------------------------------------------------------------------------
-- orvccb: the gateway protocol

local orvccb = Proto("orvccb", "OrvFlashPuc CAN gateway protocol")

local kHeaderSize = 8      -- byte count and command: enough to know a message's length
local kMessageHeader = 16  -- byte count, command, status, dataLength
local kMaxMessage = 4016   -- 16 + 4000 data bytes
local kOpenRequest = 267
local kSendFrameRequest = 44
local kShortReply = 12
local kStatusOk = 100

local commandNames = {
    [100] = "OPEN", [108] = "RESET", [109] = "SEND_FRAME",
    [200] = "BOOT_INIT", [201] = "WRITE_SUBBLOCK", [202] = "ABORT", [203] = "WRITE_ENABLE",
    [204] = "READ_CODE", [205] = "JUMP_TO_APP", [206] = "FINALIZE", [207] = "GET_STATUS",
    [208] = "GET_INFO", [209] = "VALIDATE", [210] = "PROGRAM_SUBBLOCK",
    [212] = "SELECT_VARIANT_1", [213] = "SELECT_VARIANT_2", [215] = "SEND_DATA",
    [217] = "INIT_EXT_INFO", [218] = "CONFIGURE",
}
-- Gateway codes that are no command of their own but still get a reply (status 0).
local function IsReservedCode(code) return code == 211 or code == 214 or code == 216 end

local function CommandName(code)
    if commandNames[code] then return commandNames[code] end
    if IsReservedCode(code) then return "RESERVED" end
    return "UNKNOWN"
end

local commandValues = {}
for code, name in pairs(commandNames) do commandValues[code] = "CCB_CMD_" .. name end

local statusValues = {
    [0] = "not carried out (reserved or unknown command)",
    [100] = "CCB_STATUS_OK: done",
    [101] = "CCB_STATUS_NO_REPLY: the node did not answer within the wait",
    [102] = "CCB_STATUS_SAME_SUBBLOCK: a sub-block with the previous one's address was refused",
    [104] = "CCB_STATUS_NO_VARIANT: no boot protocol variant selected",
}

local f = {
    length = ProtoField.uint32("orvccb.length", "Byte count", base.DEC),
    command = ProtoField.uint32("orvccb.command", "Command", base.DEC, commandValues),
    cmd = ProtoField.string("orvccb.cmd", "Command name"),
    reply = ProtoField.bool("orvccb.reply", "Reply"),
    status = ProtoField.uint32("orvccb.status", "Status", base.DEC, statusValues),
    requestStatus = ProtoField.uint32("orvccb.request_status", "Status (0 in requests)", base.DEC),
    result = ProtoField.uint32("orvccb.result", "Result (0 = success)", base.DEC),
    dataLength = ProtoField.uint32("orvccb.data_length", "dataLength", base.DEC),
    data = ProtoField.bytes("orvccb.data", "Data"),
    node = ProtoField.uint8("orvccb.node", "nodeId", base.DEC),
    openFlags = ProtoField.bytes("orvccb.open.flags", "Open bytes"),
    padding = ProtoField.bytes("orvccb.padding", "Padding"),
    busId = ProtoField.uint8("orvccb.bus_id", "busId (reserved)", base.DEC),
    initPage = ProtoField.uint8("orvccb.init.page", "page", base.DEC),
    initStart = ProtoField.uint16("orvccb.init.start_address", "startAddress", base.HEX),
    initLength = ProtoField.uint16("orvccb.init.length", "length", base.DEC),
    initChecksum = ProtoField.uint16("orvccb.init.checksum", "checksum", base.HEX),
    replyTimeout = ProtoField.uint32("orvccb.reply_timeout", "replyTimeoutMs", base.DEC),
    replyBase = ProtoField.uint16("orvccb.reply_base", "replyBase", base.HEX),
    requestBase = ProtoField.uint16("orvccb.request_base", "requestBase", base.HEX),
    subblockPage = ProtoField.uint8("orvccb.subblock.page", "page", base.DEC),
    subblock = ProtoField.uint16("orvccb.subblock", "Sub-block address", base.HEX),
    subblockLength = ProtoField.uint16("orvccb.subblock.length", "length", base.DEC),
    subblockChecksum = ProtoField.uint16("orvccb.subblock.checksum", "checksum", base.HEX),
    subblockParameter = ProtoField.uint32("orvccb.subblock.parameter", "parameter", base.DEC),
    subblockData = ProtoField.bytes("orvccb.subblock.data", "Sub-block data"),
    readAddress = ProtoField.uint16("orvccb.read.address", "Read address", base.HEX),
    readPage = ProtoField.uint8("orvccb.read.page", "Read page byte", base.DEC),
    answer = ProtoField.bytes("orvccb.answer", "Node's answer"),
    nodeStatus = ProtoField.uint8("orvccb.node_status", "Node status byte", base.HEX),
    busy = ProtoField.uint8("orvccb.busy", "Busy bits", base.HEX),
    version = ProtoField.string("orvccb.boot_code_version", "Boot code version"),
    hardwareId = ProtoField.uint8("orvccb.hardware_id", "Hardware ID", base.HEX),
    sendData = ProtoField.uint8("orvccb.send_data.command", "Boot-loader command byte", base.HEX),
    infoAddress = ProtoField.uint16("orvccb.info.address", "Information block address", base.HEX),
    infoBytes = ProtoField.bytes("orvccb.info.bytes", "Information block bytes"),
    extNode = ProtoField.uint32("orvccb.ext_info.node", "Node ID", base.DEC),
    canBase = ProtoField.uint16("orvccb.can.base", "Base CAN identifier", base.HEX),
    canId = ProtoField.uint16("orvccb.can.id", "CAN identifier", base.HEX),
    canDlc = ProtoField.uint8("orvccb.can.dlc", "Data length code", base.DEC),
    canData = ProtoField.bytes("orvccb.can.data", "CAN data"),
    requestIn = ProtoField.framenum("orvccb.request_in", "Request in frame", base.NONE, frametype.REQUEST),
    replyIn = ProtoField.framenum("orvccb.reply_in", "Reply in frame", base.NONE, frametype.RESPONSE),
    time = ProtoField.relative_time("orvccb.time", "Time since request"),
}
orvccb.fields = f

local e = {
    badCount = ProtoExpert.new("orvccb.bad_count", "Byte count outside 8..4016: not a gateway message",
        expert.group.MALFORMED, expert.severity.ERROR),
    truncated = ProtoExpert.new("orvccb.truncated", "Message ends before its byte count",
        expert.group.MALFORMED, expert.severity.ERROR),
    short = ProtoExpert.new("orvccb.too_short", "Message too short for its command",
        expert.group.MALFORMED, expert.severity.ERROR),
    mismatch = ProtoExpert.new("orvccb.length_mismatch", "Byte count is not 16 + dataLength",
        expert.group.MALFORMED, expert.severity.ERROR),
    unknown = ProtoExpert.new("orvccb.unknown_command", "Command the gateway does not carry out",
        expert.group.UNDECODED, expert.severity.WARN),
    failed = ProtoExpert.new("orvccb.failed", "The command did not succeed",
        expert.group.RESPONSE_CODE, expert.severity.WARN),
}
orvccb.experts = { e.badCount, e.truncated, e.short, e.mismatch, e.unknown, e.failed }

local tcpStream = Field.new("tcp.stream")

-- Request/reply pairs, worked out on the first pass in capture order.
local pending   -- tcp stream -> { frame, time, key } of the request still waiting
local links     -- message key -> { requestIn | replyIn, time }

function orvccb.init()
    pending = {}
    links = {}
end

local function KnownCode(code)
    return commandNames[code] ~= nil or (code >= 200 and code <= 218)
end

-- Where a message plausibly starts: a sane byte count followed by a code the gateway knows.
local function LooksLikeMessage(tvb, offset)
    if tvb:len() - offset < kHeaderSize then return false end
    local count = tvb(offset, 4):le_uint()
    return count >= kHeaderSize and count <= kMaxMessage and KnownCode(tvb(offset + 4, 4):le_uint())
end

-- Bytes that are no message run up to the next plausible message or to the end of the segment.
local function GarbageLength(tvb, offset)
    for p = offset + 1, tvb:len() - kHeaderSize do
        if LooksLikeMessage(tvb, p) then return p - offset end
    end
    return tvb:len() - offset
end

-- Adds a field when the message holds its bytes; the message's own expert mark says it was short.
local function Add(tree, field, m, offset, size, littleEndian)
    if offset + size > m:len() then return nil end
    if littleEndian == false then return tree:add(field, m(offset, size)) end
    return tree:add_le(field, m(offset, size))
end

local function AddBootInitParams(tree, m, offset)
    Add(tree, f.busId, m, offset, 1)
    Add(tree, f.node, m, offset + 1, 1)
    Add(tree, f.initPage, m, offset + 2, 1)
    Add(tree, f.initStart, m, offset + 3, 2)
    Add(tree, f.initLength, m, offset + 5, 2)
    Add(tree, f.initChecksum, m, offset + 7, 2)
    Add(tree, f.replyTimeout, m, offset + 9, 4)
    Add(tree, f.replyBase, m, offset + 13, 2)
    Add(tree, f.requestBase, m, offset + 15, 2)
    if m:len() >= offset + 2 then return "node " .. m(offset + 1, 1):uint() end
    return ""
end

local function AddSubblock(tree, m, offset, dataLength)
    Add(tree, f.subblockPage, m, offset, 1)
    Add(tree, f.subblock, m, offset + 1, 2)
    Add(tree, f.subblockLength, m, offset + 3, 2)
    Add(tree, f.subblockChecksum, m, offset + 5, 2)
    Add(tree, f.subblockParameter, m, offset + 7, 4)
    if dataLength > 11 and m:len() > offset + 11 then
        tree:add(f.subblockData, m(offset + 11, math.min(dataLength - 11, m:len() - offset - 11)))
    end
    if m:len() < offset + 5 then return "" end
    return string.format("sub-block 0x%04X, page %d", m(offset + 1, 2):le_uint(), m(offset, 1):uint())
end

local function AddSendData(tree, m, offset, dataLength)
    local code = m(offset, 1):uint()
    tree:add(f.sendData, m(offset, 1))
    if code >= 0x90 and code <= 0x9F and dataLength >= 3 then
        Add(tree, f.infoAddress, m, offset + 1, 2)
        if dataLength > 3 then tree:add(f.infoBytes, m(offset + 3, dataLength - 3)) end
        return string.format("information block bytes at 0x%04X", m(offset + 1, 2):le_uint())
    end
    return string.format("boot-loader command 0x%02X", code)
end

-- The fields of a request's payload; returns words for the Info column.
local function AddRequestPayload(tree, code, m, dataLength)
    local offset = kMessageHeader
    if code == 200 or code == 218 or ((code == 212 or code == 213) and dataLength >= 17) then
        return AddBootInitParams(tree, m, offset)
    elseif code == 201 then
        return AddSubblock(tree, m, offset, dataLength)
    elseif code == 204 and dataLength >= 5 then
        tree:add_le(f.readAddress, m(offset + 2, 2))
        tree:add(f.readPage, m(offset + 4, 1))
        return string.format("address 0x%04X", m(offset + 2, 2):le_uint())
    elseif code == 215 and dataLength >= 1 then
        return AddSendData(tree, m, offset, dataLength)
    elseif code == 217 and dataLength >= 4 then
        tree:add_le(f.extNode, m(offset, 4))
        return "node " .. m(offset, 4):le_uint()
    end
    return ""
end

-- The node's 8 answer bytes that replies to 204, 207 and 208 carry.
local function AddAnswer(tree, code, m, dataLength)
    if dataLength < 8 then return "" end
    local a = m(kMessageHeader, 8)
    local answer = tree:add(f.answer, a)
    if code == 207 then
        answer:add(f.nodeStatus, a(0, 1))
        answer:add(f.busy, a(1, 1))
        return string.format(", status byte 0x%02X", a(0, 1):uint())
    elseif code == 208 then
        answer:add(f.version, a(1, 4))
        answer:add(f.hardwareId, a(7, 1))
        return ", version " .. a(1, 4):string()
    end
    return ""
end

local function AddStatus(tree, field, m, offset, okValue)
    local item = Add(tree, field, m, offset, 4)
    if not item then return nil end
    local value = m(offset, 4):le_uint()
    if value ~= okValue then item:add_proto_expert_info(e.failed) end
    return value
end

local statusNames = { [0] = "not carried out", [100] = "OK", [101] = "NO_REPLY", [102] = "SAME_SUBBLOCK", [104] = "NO_VARIANT" }

local function StatusWords(value)
    if value == nil then return "" end
    return string.format(" status %d (%s)", value, statusNames[value] or "unknown")
end

-- Short forms: OPEN and RESET requests, SEND_FRAME requests, and the 12-byte replies of the three.
local function AddShortForm(tree, code, m, isReply)
    if isReply then
        if m:len() < kShortReply then tree:add_proto_expert_info(e.short) end
        if code == 109 then return StatusWords(AddStatus(tree, f.status, m, 8, kStatusOk)) end
        local value = AddStatus(tree, f.result, m, 8, 0)
        return value and (" result " .. value) or ""
    end
    local needed = ({ [100] = kOpenRequest, [108] = kHeaderSize, [109] = kSendFrameRequest })[code]
    if m:len() < needed then tree:add_proto_expert_info(e.short) end
    if code == 100 then
        Add(tree, f.openFlags, m, 8, 3)
        Add(tree, f.node, m, 11, 1)
        Add(tree, f.padding, m, 12, kOpenRequest - 12)
        return m:len() >= 12 and (" node " .. m(11, 1):uint()) or ""
    elseif code == 109 and m:len() >= 20 then
        tree:add(f.node, m(8, 1))
        tree:add_le(f.canBase, m(9, 2))
        local id = bit.bor(m(9, 2):le_uint(), m(8, 1):uint())
        tree:add(f.canId, m(9, 2), id):set_generated()
        tree:add(f.canDlc, m(11, 1))
        tree:add(f.canData, m(12, 8))
        Add(tree, f.padding, m, 20, kSendFrameRequest - 20)
        return string.format(" frame 0x%03X#%s", id, tostring(m(12, math.min(m(11, 1):uint(), 8)):bytes()))
    end
    return ""
end

local function AddGatewayMessage(tree, code, m, isReply)
    if m:len() < kMessageHeader then
        tree:add_proto_expert_info(e.short)
        return ""
    end
    if isReply then
        AddStatus(tree, f.status, m, 8, kStatusOk)
    else
        tree:add_le(f.requestStatus, m(8, 4))
    end
    local dataLength = m(12, 4):le_uint()
    local lengthItem = tree:add_le(f.dataLength, m(12, 4))
    if m(0, 4):le_uint() ~= kMessageHeader + dataLength then
        lengthItem:add_proto_expert_info(e.mismatch)
    end
    dataLength = math.min(dataLength, m:len() - kMessageHeader)
    if dataLength > 0 then tree:add(f.data, m(kMessageHeader, dataLength)) end
    if isReply then
        return StatusWords(m(8, 4):le_uint()) .. AddAnswer(tree, code, m, dataLength)
    end
    local words = AddRequestPayload(tree, code, m, dataLength)
    return words ~= "" and (" " .. words) or ""
end

-- Pairs a reply with the request before it on the same connection (first pass only).
local function LinkRequestReply(pinfo, key, isReply)
    local streamField = tcpStream()
    if pinfo.visited or streamField == nil then return end
    local stream = streamField.value
    if not isReply then
        pending[stream] = { frame = pinfo.number, time = pinfo.abs_ts, key = key }
        return
    end
    local request = pending[stream]
    if request then
        links[key] = { requestIn = request.frame, time = pinfo.abs_ts - request.time }
        links[request.key] = { replyIn = pinfo.number }
        pending[stream] = nil
    end
end

local function AddLinks(tree, key)
    local link = links[key]
    if not link then return end
    if link.requestIn then
        tree:add(f.requestIn, link.requestIn):set_generated()
        tree:add(f.time, NSTime.new(math.floor(link.time), math.floor((link.time % 1) * 1e9))):set_generated()
    elseif link.replyIn then
        tree:add(f.replyIn, link.replyIn):set_generated()
    end
end

-- One message (or one stretch of garbage) of the stream; returns its Info column words.
local function DissectMessage(m, pinfo, parent, isReply, key, problem)
    local tree = parent:add(orvccb, m())
    if problem == "garbage" then
        tree:set_text(string.format("OrvFlashPuc gateway protocol: %d bytes that are no message", m:len()))
        tree:add_le(f.length, m(0, math.min(4, m:len()))):add_proto_expert_info(e.badCount)
        return "[not a gateway message]"
    end
    local count = m(0, 4):le_uint()
    local code = m(4, 4):le_uint()
    local name = CommandName(code)
    local direction = isReply and "reply" or "request"
    tree:append_text(string.format(", %s %s, %d bytes", name, direction, count))
    tree:add_le(f.length, m(0, 4))
    local commandItem = tree:add_le(f.command, m(4, 4))
    tree:add(f.cmd, m(4, 4), name):set_generated()
    tree:add(f.reply, isReply):set_generated()
    if problem == "truncated" then
        tree:add_proto_expert_info(e.truncated,
            string.format("Message ends after %d of its %d bytes", m:len(), count))
    end
    if not commandNames[code] then commandItem:add_proto_expert_info(e.unknown) end

    local words
    if code == 100 or code == 108 or code == 109 then
        words = AddShortForm(tree, code, m, isReply)
    else
        words = AddGatewayMessage(tree, code, m, isReply)
    end
    LinkRequestReply(pinfo, key, isReply)
    AddLinks(tree, key)
    return name .. " " .. direction .. words .. (problem and " [truncated]" or "")
end

function orvccb.dissector(tvb, pinfo, tree)
    local total = tvb:len()
    local isReply = pinfo.src_port == pinfo.match_uint and pinfo.dst_port ~= pinfo.match_uint
    local summaries = {}
    local offset = 0
    while offset < total do
        local left = total - offset
        local length, problem
        if left < kHeaderSize then
            if pinfo.can_desegment > 0 then
                pinfo.desegment_offset = offset
                pinfo.desegment_len = DESEGMENT_ONE_MORE_SEGMENT
                break
            end
            length, problem = left, "garbage"
        else
            local count = tvb(offset, 4):le_uint()
            if count < kHeaderSize or count > kMaxMessage then
                length, problem = GarbageLength(tvb, offset), "garbage"
            elseif count > left then
                if pinfo.can_desegment > 0 then
                    pinfo.desegment_offset = offset
                    pinfo.desegment_len = count - left
                    break
                end
                length, problem = left, "truncated"
            else
                length = count
            end
        end
        local key = pinfo.number .. ":" .. offset
        summaries[#summaries + 1] =
            DissectMessage(tvb(offset, length):tvb(), pinfo, tree, isReply, key, problem)
        offset = offset + length
    end
    if #summaries > 0 then
        pinfo.cols.protocol = "ORVCCB"
        pinfo.cols.info = table.concat(summaries, " | ")
    end
    return total
end

local tcpPort = DissectorTable.get("tcp.port")
for board = 0, 15 do tcpPort:add(15006 + 100 * board, orvccb) end
tcpPort:add(17706, orvccb)
tcpPort:add(17806, orvccb)

------------------------------------------------------------------------------------------------
-- orvboot: the boot loader's frames on CAN

local orvboot = Proto("orvboot", "OrvFlashPuc boot-loader frames")

local kReplyBase = 0x180
local kRequestBase = 0x200
local kSubblockMax = 2048
local kStatusBusy = 0x06

local statusMeanings = {
    [0x00] = "fine", [0x01] = "toggle mismatch in a data segment", [0x02] = "checksum mismatch",
    [0x03] = "no write enable", [0x04] = "frame out of sequence", [0x05] = "address out of range",
    [0x06] = "busy", [0x07] = "unknown command or frame too short",
}
local nmtNames = { [0x01] = "start", [0x80] = "enter pre-operational", [0x96] = "start the boot loader" }

local b = {
    node = ProtoField.uint8("orvboot.node", "Node", base.DEC),
    reply = ProtoField.bool("orvboot.reply", "Answer of the node"),
    kind = ProtoField.string("orvboot.kind", "Step"),
    code = ProtoField.uint8("orvboot.code", "Command byte", base.HEX),
    nmt = ProtoField.uint8("orvboot.nmt", "NMT command specifier", base.HEX, nmtNames),
    page = ProtoField.uint8("orvboot.page", "page", base.DEC),
    subblock = ProtoField.uint16("orvboot.subblock", "Sub-block address", base.HEX),
    length = ProtoField.uint16("orvboot.length", "length", base.DEC),
    checksum = ProtoField.uint16("orvboot.checksum", "checksum", base.HEX),
    start = ProtoField.uint16("orvboot.start_address", "startAddress", base.HEX),
    total = ProtoField.uint32("orvboot.total", "Bytes of the whole download", base.DEC),
    toggle = ProtoField.bool("orvboot.toggle", "Toggle", 8, nil, 0x08),
    count = ProtoField.uint8("orvboot.count", "Data bytes in this segment", base.DEC, nil, 0x07),
    segment = ProtoField.uint16("orvboot.segment", "Segment of the sub-block", base.DEC),
    bytes = ProtoField.bytes("orvboot.bytes", "Data"),
    address = ProtoField.uint16("orvboot.address", "Address", base.HEX),
    status = ProtoField.uint8("orvboot.status", "Status byte", base.HEX, statusMeanings),
    erasing = ProtoField.bool("orvboot.busy.erasing", "Erasing", 8, nil, 0x01),
    programming = ProtoField.bool("orvboot.busy.programming", "Programming", 8, nil, 0x02),
    version = ProtoField.string("orvboot.version", "Boot code version"),
    hardwareId = ProtoField.uint8("orvboot.hardware_id", "Hardware ID", base.HEX),
    ident = ProtoField.string("orvboot.ident", "Identification"),
    highFirst = ProtoField.bool("orvboot.high_byte_first", "16-bit fields high byte first"),
}
orvboot.fields = b

local be = {
    short = ProtoExpert.new("orvboot.too_short", "Frame too short for its command",
        expert.group.MALFORMED, expert.severity.ERROR),
    unknown = ProtoExpert.new("orvboot.unknown", "Command byte the boot loader does not know",
        expert.group.UNDECODED, expert.severity.WARN),
    status = ProtoExpert.new("orvboot.status_error", "The node reports an error",
        expert.group.RESPONSE_CODE, expert.severity.WARN),
}
orvboot.experts = { be.short, be.unknown, be.status }

local byteOrders = { { 1, "Guess from the frames", 0 }, { 2, "Low byte first (PUC)", 1 }, { 3, "High byte first (HT)", 2 } }
orvboot.prefs.byte_order = Pref.enum("16-bit header fields", 0,
    "Byte order of the 16-bit fields in initialisation and sub-block header frames", byteOrders, false)

-- What the first pass learnt about each node, and what it concluded for each frame.
local nodes   -- node -> { pdo, highFirst, aborts, lastRequest, readAddress, subblock, segments }
local frames  -- frame number -> context of that frame

function orvboot.init()
    nodes = {}
    frames = {}
end

local function NodeState(node)
    if not nodes[node] then nodes[node] = { aborts = 0, segments = 0 } end
    return nodes[node]
end

local function U16(range, highFirst)
    if highFirst then return range:uint() end
    return range:le_uint()
end

-- A header's length is at most 2048: the reading that fits tells the byte order.
local function GuessHighFirst(lengthRange, fallback)
    local low, high = lengthRange:le_uint(), lengthRange:uint()
    local lowFits = low >= 1 and low <= kSubblockMax
    local highFits = high >= 1 and high <= kSubblockMax
    if lowFits and highFits then return high > low end
    if lowFits ~= highFits then return highFits end
    return fallback
end

local function HighFirst(state, lengthRange)
    local chosen = orvboot.prefs.byte_order
    if chosen == 1 then return false end
    if chosen == 2 then return true end
    if lengthRange then return GuessHighFirst(lengthRange, state.highFirst or false) end
    -- An initialisation of variant 2 follows two aborts; variant 1 sends one.
    return state.aborts >= 2
end

-- Works out a request frame's meaning from its bytes and the node's history (first pass).
local function RequestContext(tvb, state)
    local first = tvb(0, 1):uint()
    local c = { code = first }
    if tvb:len() == 1 and first == 0xFF then
        c.kind = "PDO start"
        state.pdo = true
    elseif first == 0xFF then
        c.kind = "abort"
        state.pdo = false
        state.aborts = state.aborts + 1
    elseif first == 0x00 then
        c.kind = state.pdo and "PDO download initialisation" or "download initialisation"
        if not state.pdo and tvb:len() >= 6 then
            c.highFirst = HighFirst(state, nil)
            state.highFirst = c.highFirst
        end
    elseif first == 0x01 and state.pdo then
        c.kind = "PDO checksum"
    elseif first == 0x10 then
        c.kind = state.pdo and "PDO sub-block header" or "sub-block header"
        if tvb:len() >= 8 then
            if state.pdo then
                state.subblock = tvb(1, 2):le_uint()
            else
                c.highFirst = HighFirst(state, tvb(4, 2))
                state.highFirst = c.highFirst
                state.subblock = U16(tvb(2, 2), c.highFirst)
            end
        end
        state.segments = 0
    elseif first >= 0x20 and first <= 0x2F then
        c.kind = state.pdo and "PDO sub-block data" or "sub-block data"
        state.segments = state.segments + 1
        c.subblock, c.segment = state.subblock, state.segments
    elseif first == 0x50 then c.kind = "status poll"
    elseif first == 0x70 then c.kind = "boot code information"
    elseif first == 0x60 then
        c.kind = "read at address"
        if tvb:len() >= 4 then state.readAddress = tvb(2, 2):le_uint() end
    elseif first == 0xAA then c.kind = "write enable"
    elseif first == 0x30 then c.kind = "program"
    elseif first == 0x40 then c.kind = "validate"
    elseif first == 0x80 then c.kind = "jump to application"
    elseif first >= 0x90 and first <= 0x9F then c.kind = "information block bytes"
    elseif first == 0xB0 then c.kind = "information block commit"
    elseif first == 0xC0 then c.kind = "information block update"
    else c.kind = "unknown" end
    state.lastRequest = c.kind
    return c
end

local function ReplyContext(state)
    local c = { answers = state.lastRequest, readAddress = state.readAddress }
    if c.answers == "status poll" then c.kind = "status"
    elseif c.answers == "boot code information" then c.kind = "boot code information answer"
    elseif c.answers == "read at address" then c.kind = "memory bytes"
    else c.kind = "answer" end
    return c
end

local function Need(tree, tvb, size)
    if tvb:len() >= size then return true end
    tree:add_proto_expert_info(be.short)
    return false
end

-- The fields of a request; returns words for the Info column.
local function AddRequest(tree, tvb, c)
    local kind = c.kind
    tree:add(b.code, tvb(0, 1))
    if kind == "download initialisation" and Need(tree, tvb, 8) then
        tree:add(b.highFirst, c.highFirst):set_generated()
        tree:add(b.page, tvb(1, 1))
        tree:add(b.start, tvb(2, 2), U16(tvb(2, 2), c.highFirst))
        tree:add(b.length, tvb(4, 2), U16(tvb(4, 2), c.highFirst))
        tree:add(b.checksum, tvb(6, 2), U16(tvb(6, 2), c.highFirst))
        return string.format(" start 0x%04X", U16(tvb(2, 2), c.highFirst))
    elseif kind == "PDO download initialisation" and Need(tree, tvb, 8) then
        tree:add_le(b.start, tvb(1, 2))
        tree:add_le(b.total, tvb(4, 4))
        return string.format(" start 0x%04X, %d bytes", tvb(1, 2):le_uint(), tvb(4, 4):le_uint())
    elseif kind == "PDO checksum" and Need(tree, tvb, 8) then
        tree:add_le(b.checksum, tvb(2, 2))
        tree:add_le(b.total, tvb(4, 4))
    elseif kind == "sub-block header" and Need(tree, tvb, 8) then
        tree:add(b.highFirst, c.highFirst):set_generated()
        tree:add(b.page, tvb(1, 1))
        local address = U16(tvb(2, 2), c.highFirst)
        tree:add(b.subblock, tvb(2, 2), address)
        tree:add(b.length, tvb(4, 2), U16(tvb(4, 2), c.highFirst))
        tree:add(b.checksum, tvb(6, 2), U16(tvb(6, 2), c.highFirst))
        return string.format(" 0x%04X, page %d, %d bytes", address, tvb(1, 1):uint(), U16(tvb(4, 2), c.highFirst))
    elseif kind == "PDO sub-block header" and Need(tree, tvb, 8) then
        tree:add_le(b.subblock, tvb(1, 2))
        tree:add(b.page, tvb(3, 1))
        tree:add_le(b.length, tvb(4, 2))
        tree:add_le(b.checksum, tvb(6, 2))
        return string.format(" 0x%04X, page %d, %d bytes", tvb(1, 2):le_uint(), tvb(3, 1):uint(), tvb(4, 2):le_uint())
    elseif kind == "sub-block data" or kind == "PDO sub-block data" then
        tree:add(b.toggle, tvb(0, 1))
        tree:add(b.count, tvb(0, 1))
        local n = bit.band(c.code, 0x07)
        if n == 0 then tree:add_proto_expert_info(be.short, "A data segment carries 1 to 7 bytes") end
        if n > 0 and Need(tree, tvb, n + 1) then tree:add(b.bytes, tvb(1, n)) end
        if c.subblock then
            tree:add(b.subblock, c.subblock):set_generated()
            tree:add(b.segment, c.segment):set_generated()
            return string.format(" of 0x%04X, segment %d", c.subblock, c.segment)
        end
    elseif kind == "read at address" and Need(tree, tvb, 5) then
        tree:add_le(b.address, tvb(2, 2))
        tree:add(b.page, tvb(4, 1))
        return string.format(" 0x%04X", tvb(2, 2):le_uint())
    elseif kind == "information block bytes" and Need(tree, tvb, 3) then
        local n = bit.band(c.code, 0x07)
        tree:add_le(b.address, tvb(1, 2))
        if n > 0 and Need(tree, tvb, n + 3) then tree:add(b.bytes, tvb(3, n)) end
        return string.format(" at 0x%04X", tvb(1, 2):le_uint())
    elseif kind == "unknown" then
        tree:add_proto_expert_info(be.unknown)
    end
    return ""
end

local function AddReply(tree, tvb, c)
    if c.kind == "status" and Need(tree, tvb, 2) then
        local value, busy = tvb(0, 1):uint(), tvb(1, 1):uint()
        local item = tree:add(b.status, tvb(0, 1))
        -- Busy is what a board says while it erases or programs, not a fault.
        if value ~= 0 and value ~= kStatusBusy then item:add_proto_expert_info(be.status) end
        tree:add(b.erasing, tvb(1, 1))
        tree:add(b.programming, tvb(1, 1))
        local words = string.format(" 0x%02X (%s)", value, statusMeanings[value] or "error")
        if bit.band(busy, 0x01) ~= 0 then words = words .. ", erasing" end
        if bit.band(busy, 0x02) ~= 0 then words = words .. ", programming" end
        return words
    elseif c.kind == "boot code information answer" and Need(tree, tvb, 8) then
        if tvb(0, 1):uint() == 0 then
            tree:add(b.version, tvb(1, 4))
            tree:add(b.hardwareId, tvb(7, 1))
            return " version " .. tvb(1, 4):string()
        end
        tree:add(b.ident, tvb(0, 8))
        return " " .. tvb(0, 8):stringz()
    elseif c.kind == "memory bytes" then
        if c.readAddress then tree:add(b.address, c.readAddress):set_generated() end
        tree:add(b.bytes, tvb())
        return c.readAddress and string.format(" at 0x%04X", c.readAddress) or ""
    end
    tree:add(b.bytes, tvb())
    return ""
end

local function DissectNmt(tvb, pinfo, tree)
    if tvb:len() ~= 2 or not nmtNames[tvb(0, 1):uint()] then return 0 end
    local specifier, node = tvb(0, 1):uint(), tvb(1, 1):uint()
    if specifier == 0x96 and not pinfo.visited then
        nodes[node] = nil  -- a boot loader that starts forgets its download
    end
    local t = tree:add(orvboot, tvb())
    t:add(b.kind, "NMT " .. nmtNames[specifier]):set_generated()
    t:add(b.nmt, tvb(0, 1))
    t:add(b.node, tvb(1, 1))
    pinfo.cols.protocol = "ORVBOOT"
    pinfo.cols.info = string.format("NMT %s, %s", nmtNames[specifier], node == 0 and "all nodes" or ("node " .. node))
    return 2
end

function orvboot.dissector(tvb, pinfo, tree)
    local id = pinfo.match_uint
    if id == 0 then return DissectNmt(tvb, pinfo, tree) end
    if tvb:len() == 0 then return 0 end
    local isReply = id < kRequestBase
    local node = id - (isReply and kReplyBase or kRequestBase)
    local c = frames[pinfo.number]
    if not c then
        local state = NodeState(node)
        c = isReply and ReplyContext(state) or RequestContext(tvb, state)
        frames[pinfo.number] = c
    end
    local t = tree:add(orvboot, tvb())
    t:append_text(string.format(", node %d %s: %s", node, isReply and "answer" or "request", c.kind))
    t:add(b.node, node):set_generated()
    t:add(b.reply, isReply):set_generated()
    t:add(b.kind, c.kind):set_generated()
    local words = isReply and AddReply(t, tvb, c) or AddRequest(t, tvb, c)
    pinfo.cols.protocol = "ORVBOOT"
    pinfo.cols.info = string.format("node %d %s %s%s", node, isReply and "<-" or "->", c.kind, words)
    return tvb:len()
end

local canId = DissectorTable.get("can.id")
canId:add(0, orvboot)
for node = 1, 127 do
    canId:add(kReplyBase + node, orvboot)
    canId:add(kRequestBase + node, orvboot)
end
