-- Wireshark dissector for the Maltor USB protocol: the command pipes (OUT
-- 0x02, IN 0x82) with standard command frames and replies, Mirel frames,
-- logger and gateway update frames and the file-transfer exchange, and the
-- raw streams of the stream pipes (OUT 0x03, IN 0x83).
--
-- Attaches to the four device kinds' vendor and product ids, and as a
-- heuristic on bulk transfers when the capture holds no device descriptor.
-- Use: tshark -X lua_script:maltor.lua -r trace.pcapng, or copy it into
-- Wireshark's personal plugin folder.

local maltor = Proto("maltor", "Maltor USB protocol")

local f = maltor.fields
f.frame = ProtoField.string("maltor.frame", "Frame")
f.seq = ProtoField.uint8("maltor.seq", "Sequence")
f.length = ProtoField.uint16("maltor.length", "Length")
f.code = ProtoField.uint8("maltor.code", "Command code", base.HEX)
f.command = ProtoField.string("maltor.command", "Command")
f.checksum = ProtoField.uint8("maltor.checksum", "Checksum", base.HEX)
f.checksum16 = ProtoField.uint16("maltor.checksum16", "Checksum (16-bit)", base.HEX)
f.checksum_status = ProtoField.string("maltor.checksum.status", "Checksum status")
f.u8 = ProtoField.uint8("maltor.field.u8", "Field")
f.u16 = ProtoField.uint16("maltor.field.u16", "Field")
f.u32 = ProtoField.uint32("maltor.field.u32", "Field")
f.bytes = ProtoField.bytes("maltor.field.bytes", "Field")
f.stream = ProtoField.bytes("maltor.stream", "Stream data")

local bad_checksum = ProtoExpert.new("maltor.checksum.bad", "Bad checksum",
                                     expert.group.CHECKSUM, expert.severity.ERROR)
maltor.experts = {bad_checksum}

local usb_endpoint = Field.new("usb.endpoint_address")

-- BEGIN command table (maltor_lua_table writes it from src/link/wire_layout.h)
local commands = {
  [0x02] = {name = "SCGetFirmwareVersion", request = {}, reply = {{"version word", 5, "u16", 0}, {"version bytes", 7, "bytes", 3}, }},
  [0x07] = {name = "SCReflashStart", request = {{"zero", 5, "u32", 0}, {"image length", 9, "u32", 0}, }, reply = {{"status", 5, "u16", 0}, }},
  [0x08] = {name = "SCReflashData", request = {{"offset", 5, "u32", 0}, {"data length", 9, "u16", 0}, {"data", 11, "bytes", 0}, }, reply = {{"status", 5, "u16", 0}, }},
  [0x09] = {name = "SCReflashEnd", request = {{"image sum", 5, "u16", 0}, }, reply = {{"status", 5, "u16", 0}, }},
  [0x0A] = {name = "SCUSBGetConfigInfo", request = {}, reply = {{"tag", 5, "bytes", 16}, {"configuration size", 21, "u32", 0}, }},
  [0x0B] = {name = "SCReconfigureStart", request = {{"payload", 5, "bytes", 0}, }, reply = {{"status", 5, "u16", 0}, }},
  [0x0C] = {name = "SCReconfigureData", request = {{"offset", 5, "u32", 0}, {"data length", 9, "u16", 0}, {"data", 11, "bytes", 0}, }, reply = {{"status", 5, "u16", 0}, }},
  [0x0D] = {name = "SCReconfigureEnd", request = {{"configuration sum", 5, "u16", 0}, }, reply = {{"status", 5, "u16", 0}, }},
  [0x0E] = {name = "SCSDFormat", request = {{"format parameter", 5, "u16", 0}, }, reply = {{"format reply", 5, "u16", 0}, }},
  [0x0F] = {name = "SCSDLogCount", request = {}, reply = {{"log count", 5, "u16", 0}, }},
  [0x10] = {name = "SCSDLogInfo", request = {{"log index", 5, "u16", 0}, }, reply = {{"log info", 5, "bytes", 0}, }},
  [0x11] = {name = "SCGetDateTime", request = {}, reply = {{"clock", 5, "u32", 0}, }},
  [0x12] = {name = "SCSetDateTime", request = {{"clock", 5, "u32", 0}, }, reply = {}},
  [0x13] = {name = "SCSDRequestSendData", request = {{"start sector", 5, "u32", 0}, {"end sector", 9, "u32", 0}, {"reserved", 13, "u16", 0}, }, reply = {}},
  [0x14] = {name = "SCSDStopSendData", request = {}, reply = {}},
  [0x15] = {name = "SCGetSerialNumber", request = {}, reply = {{"serial number block", 5, "bytes", 128}, }},
  [0x16] = {name = "SCSetSerialNumber", request = {{"data length", 5, "u8", 0}, {"data", 6, "bytes", 0}, }, reply = {}},
  [0x17] = {name = "SCSDCurrentSector", request = {}, reply = {{"current sector", 5, "u32", 0}, }},
  [0x19] = {name = "SCUSBStartLiveData", request = {{"live-data parameter", 5, "u8", 0}, }, reply = {}},
  [0x1A] = {name = "SCUSBStopLiveData", request = {{"live-data parameter", 5, "u8", 0}, }, reply = {}},
  [0x1B] = {name = "SCGetMMCInfo", request = {}, reply = {{"card record", 5, "bytes", 16}, {"card byte", 21, "u8", 0}, }},
  [0x1C] = {name = "SCConfigFileData", request = {{"bytes wanted", 5, "u16", 0}, }, reply = {{"configuration bytes", 5, "bytes", 0}, }},
  [0x1D] = {name = "InitBus", request = {{"set-up bytes", 5, "bytes", 4}, {"set-up word 1", 9, "u32", 0}, {"set-up word 2", 13, "u32", 0}, {"set-up word 3", 17, "u32", 0}, }, reply = {}},
  [0x1E] = {name = "CANTx", request = {{"bus", 5, "u8", 0}, {"attribute", 6, "u8", 0}, {"data length", 7, "u8", 0}, {"identifier", 8, "u32", 0}, {"data", 16, "bytes", 0}, }, reply = {{"reply", 5, "bytes", 0}, }},
  [0x1F] = {name = "CANRx", request = {{"bus", 5, "u8", 0}, {"receive timeout", 6, "u32", 0}, }, reply = {{"reply", 5, "bytes", 0}, }},
  [0x20] = {name = "DeInitBus", request = {}, reply = {}},
  [0x21] = {name = "SCSetHWSettings", request = {{"settings", 5, "bytes", 0}, }, reply = {}},
  [0x22] = {name = "SCGetHWSettings", request = {}, reply = {{"settings block", 5, "bytes", 128}, }},
  [0x23] = {name = "GetEEPROMPageFormat", request = {{"page", 5, "u8", 0}, }, reply = {{"page image", 5, "bytes", 64}, }},
  [0x24] = {name = "StoreEEPROMHWSettings", request = {{"selector 1", 5, "u8", 0}, {"selector 2", 6, "u8", 0}, }, reply = {{"status", 5, "u8", 0}, }},
  [0x25] = {name = "SCPartitionLogCount", request = {{"partition", 5, "u8", 0}, }, reply = {{"log count", 5, "u16", 0}, }},
  [0x26] = {name = "SCPartitionLogInfo", request = {{"partition", 5, "u8", 0}, {"log index", 6, "u16", 0}, }, reply = {{"log info", 5, "bytes", 0}, }},
  [0x27] = {name = "GetMaltorInfo", request = {}, reply = {{"info byte", 5, "u8", 0}, {"info value", 6, "bytes", 0}, }},
  [0x28] = {name = "SCPartitionFormat", request = {{"format parameter", 5, "u16", 0}, {"partition count", 7, "u8", 0}, {"partitions", 8, "bytes", 0}, }, reply = {{"format reply", 5, "u16", 0}, }},
  [0x2C] = {name = "SetSingleHWSetting", request = {{"setting", 5, "u16", 0}, {"value", 7, "u16", 0}, }, reply = {}},
  [0x2D] = {name = "GetSingleHWSetting", request = {{"setting", 5, "u16", 0}, }, reply = {{"value", 5, "u16", 0}, }},
  [0x2E] = {name = "GetMicroType", request = {}, reply = {{"micro type", 5, "u8", 0}, }},
  [0x2F] = {name = "SCUSBStartProcessData", request = {}, reply = {}},
  [0x30] = {name = "SCUSBStopProcessData", request = {}, reply = {}},
  [0x31] = {name = "CANInterfaceEnable", request = {}, reply = {{"reply word", 5, "u32", 0}, }},
  [0x32] = {name = "CANInterfaceDisable", request = {}, reply = {{"reply word", 5, "u32", 0}, }},
  [0x33] = {name = "CANBusCount", request = {}, reply = {{"bus count", 5, "u8", 0}, }},
  [0x34] = {name = "CANBusOpen", request = {{"bus", 5, "u16", 0}, {"option", 7, "u8", 0}, }, reply = {{"reply word", 5, "u32", 0}, }},
  [0x35] = {name = "CANBusClose", request = {{"bus", 5, "u16", 0}, }, reply = {{"reply word", 5, "u32", 0}, }},
  [0x36] = {name = "CANBusOn", request = {{"bus", 5, "u16", 0}, }, reply = {{"reply word", 5, "u32", 0}, }},
  [0x37] = {name = "CANBusOff", request = {{"bus", 5, "u16", 0}, }, reply = {{"reply word", 5, "u32", 0}, }},
  [0x38] = {name = "CANParameterSet", request = {{"bus", 5, "u16", 0}, {"parameter word", 7, "u32", 0}, {"parameter bytes", 11, "bytes", 4}, }, reply = {{"reply word", 5, "u32", 0}, }},
  [0x3A] = {name = "CANDataParameterSet", request = {{"bus", 5, "u16", 0}, {"parameter word", 7, "u32", 0}, {"parameter bytes", 11, "bytes", 4}, }, reply = {{"reply word", 5, "u32", 0}, }},
  [0x3C] = {name = "CANBlockUIDGet", request = {{"bus", 5, "u16", 0}, {"option", 7, "u8", 0}, }, reply = {{"reply word", 5, "u32", 0}, }},
}
local mirel_commands = {
  [1] = "MirelGetLogCount",
  [2] = "MirelGetFirstLogSection",
  [3] = "MirelGetActiveLogSection",
  [4] = "MirelGetDescriptorInfo",
  [5] = "MirelLogFileCheck",
  [15] = "MirelLogFileRequest",
  [220] = "MirelFirmwareVersion",
}
local logger_frames = {
  [0x84] = "logger start",
  [0x78] = "logger data",
  [0x88] = "logger finish",
  [0x7C] = "logger reconnect",
}
local gateway_frames = {
  [0x1013] = {"gateway firmware announce", 1},
  [0x1300] = {"gateway firmware block", 2},
  [0x6101] = {"gateway completion", 1},
  [0x1012] = {"gateway configuration announce", 2},
  [0x1202] = {"gateway configuration block", 2},
}
-- END command table

local function sum8(tvb, first, last)
  local s = 0
  for i = first, last do s = (s + tvb(i, 1):uint()) % 256 end
  return s
end

local function sum16(tvb, first, last)
  local s = 0
  for i = first, last do s = (s + tvb(i, 1):uint()) % 65536 end
  return s
end

local function add_checksum(tree, tvb, range, expected)
  local actual = range:le_uint()
  tree:add_le(range:len() == 1 and f.checksum or f.checksum16, range)
  local verdict = actual == expected and "good" or "bad"
  local item = tree:add(f.checksum_status, verdict)
  if verdict == "bad" then
    item:add_proto_expert_info(bad_checksum,
                               string.format("Bad checksum: 0x%02X, expected 0x%02X", actual, expected))
  end
  return verdict
end

local function add_fields(tree, tvb, list, limit)
  for _, field in ipairs(list) do
    local name, offset, kind, length = field[1], field[2], field[3], field[4]
    local size = ({u8 = 1, u16 = 2, u32 = 4})[kind] or length
    if kind == "bytes" and length == 0 then size = limit - offset end
    if size > 0 and offset + size <= limit then
      local range = tvb(offset, size)
      local item = tree:add_le(f[kind], range)
      if kind == "bytes" then
        item:set_text(name .. ": " .. size .. " bytes")
      else
        item:set_text(name .. ": " .. range:le_uint())
      end
    end
  end
end

-- Recognises a request frame on the command OUT pipe.
local function classify_request(tvb)
  local n = tvb:len()
  if n >= 6 and tvb(1, 2):le_uint() == n and tvb(4, 1):uint() == 0 and commands[tvb(3, 1):uint()] then
    return "standard"
  end
  if n >= 9 and tvb(0, 4):uint() == 0 and tvb(4, 2):le_uint() == n
      and gateway_frames[tvb(6, 1):uint() * 256 + tvb(7, 1):uint()] then
    return "gateway", 4
  end
  if n >= 9 and tvb(0, 4):uint() == 0 and tvb(4, 2):le_uint() == n then return "mirel" end
  if n >= 5 and tvb(0, 2):le_uint() == n
      and gateway_frames[tvb(2, 1):uint() * 256 + tvb(3, 1):uint()] then
    return "gateway", 0
  end
  if n >= 4 and tvb(0, 1):uint() == n and tvb(2, 1):uint() == 0 and logger_frames[tvb(1, 1):uint()] then
    return "logger"
  end
  return nil
end

-- What the last request was, for the replies that follow it; replies keep
-- the request they answer by frame number, so a second pass sees the same.
local last_request = nil
local answered = {}

local function dissect_request(tvb, pinfo, tree)
  local kind, lead = classify_request(tvb)
  local n = tvb:len()
  local request = {kind = kind or "unknown"}
  if kind == "standard" then
    local code = tvb(3, 1):uint()
    local command = commands[code]
    request.code, request.name, request.seq = code, command.name, tvb(0, 1):uint()
    tree:add(f.frame, "standard command frame")
    tree:add(f.seq, tvb(0, 1))
    tree:add_le(f.length, tvb(1, 2))
    tree:add(f.code, tvb(3, 1))
    tree:add(f.command, command.name)
    add_fields(tree, tvb, command.request, n - 1)
    local verdict = add_checksum(tree, tvb, tvb(n - 1, 1), sum8(tvb, 0, n - 2))
    pinfo.cols.info = string.format("%s request seq=%d%s", command.name, request.seq,
                                    verdict == "bad" and " [bad checksum]" or "")
  elseif kind == "mirel" then
    local number = tvb(6, 2):le_uint()
    request.name = mirel_commands[number] or ("Mirel command " .. number)
    request.mirel = number
    tree:add(f.frame, "Mirel frame")
    tree:add_le(f.length, tvb(4, 2))
    tree:add(f.command, request.name)
    if n > 9 then tree:add(f.bytes, tvb(8, n - 9)):set_text("payload: " .. (n - 9) .. " bytes") end
    -- The Mirel sum leaves out the length, which is written after it.
    local verdict = add_checksum(tree, tvb, tvb(n - 1, 1), sum8(tvb, 6, n - 2))
    pinfo.cols.info = request.name .. " request" .. (verdict == "bad" and " [bad checksum]" or "")
  elseif kind == "gateway" then
    local at = lead
    local frame = gateway_frames[tvb(at + 2, 1):uint() * 256 + tvb(at + 3, 1):uint()]
    request.name = frame[1]
    tree:add(f.frame, frame[1] .. (lead > 0 and " (with lead-in)" or ""))
    tree:add_le(f.length, tvb(at, 2))
    tree:add(f.command, frame[1])
    local width = frame[2]
    local payload = n - at - 4 - width
    if payload > 0 then
      tree:add(f.bytes, tvb(at + 4, payload)):set_text("payload: " .. payload .. " bytes")
    end
    local expected = width == 1 and sum8(tvb, at + 2, n - 2) or sum16(tvb, at + 2, n - 3)
    local verdict = add_checksum(tree, tvb, tvb(n - width, width), expected)
    pinfo.cols.info = frame[1] .. (verdict == "bad" and " [bad checksum]" or "")
  elseif kind == "logger" then
    request.name = logger_frames[tvb(1, 1):uint()]
    tree:add(f.frame, request.name .. " frame")
    tree:add(f.length, tvb(0, 1))
    tree:add(f.command, request.name)
    if n > 5 then tree:add(f.bytes, tvb(5, n - 5)):set_text("data: " .. tvb(4, 1):uint() .. " bytes") end
    pinfo.cols.info = request.name .. " frame"
  else
    tree:add(f.frame, "unrecognised command pipe frame")
    pinfo.cols.info = "command pipe, " .. n .. " bytes"
  end
  last_request = request
  request.replies = 0
end

local function dissect_reply(tvb, pinfo, tree)
  local n = tvb:len()
  local entry = answered[pinfo.number]
  if entry == nil then
    local request = last_request or {kind = "unknown", replies = 0}
    entry = {request = request, index = request.replies}
    request.replies = request.replies + 1
    answered[pinfo.number] = entry
  end
  local request, index = entry.request, entry.index
  if request.kind == "standard" and n >= 6 then
    local command = commands[request.code]
    tree:add(f.frame, "standard reply")
    tree:add(f.seq, tvb(0, 1))
    tree:add_le(f.length, tvb(1, 2))
    tree:add(f.code, tvb(3, 1))
    tree:add(f.command, command.name)
    local limit = math.min(n, tvb(1, 2):le_uint()) - 1
    add_fields(tree, tvb, command.reply, limit)
    local verdict = "short"
    if tvb(1, 2):le_uint() == n then
      verdict = add_checksum(tree, tvb, tvb(n - 1, 1), sum8(tvb, 0, n - 2))
    end
    pinfo.cols.info = string.format("%s reply seq=%d%s", command.name, tvb(0, 1):uint(),
                                    verdict == "bad" and " [bad checksum]" or "")
  elseif request.mirel == 15 and index > 0 then
    tree:add(f.frame, "Mirel log file data")
    tree:add(f.stream, tvb())
    pinfo.cols.info = "Mirel log file data, " .. n .. " bytes"
  elseif request.kind ~= "unknown" and request.kind ~= "standard" then
    tree:add(f.frame, request.name .. " reply")
    tree:add(f.command, request.name)
    if request.kind == "mirel" and n >= 5 then
      tree:add(f.u8, tvb(4, 1)):set_text("status: " .. tvb(4, 1):uint())
    elseif request.kind == "logger" and n >= 4 then
      tree:add(f.u8, tvb(3, 1)):set_text("status: " .. tvb(3, 1):uint())
    elseif request.kind == "gateway" and n >= 5 then
      tree:add(f.u8, tvb(4, 1)):set_text("gateway status: " .. tvb(4, 1):uint())
    end
    pinfo.cols.info = request.name .. " reply"
  else
    tree:add(f.frame, "command pipe reply")
    pinfo.cols.info = "command pipe reply, " .. n .. " bytes"
  end
end

local function dissect(tvb, pinfo, tree)
  local endpoint = usb_endpoint()
  if endpoint == nil or tvb:len() == 0 then return false end
  endpoint = endpoint.value
  if endpoint ~= 0x02 and endpoint ~= 0x82 and endpoint ~= 0x03 and endpoint ~= 0x83 then
    return false
  end
  pinfo.cols.protocol = "MALTOR"
  local subtree = tree:add(maltor, tvb())
  if endpoint == 0x02 then
    dissect_request(tvb, pinfo, subtree)
  elseif endpoint == 0x82 then
    dissect_reply(tvb, pinfo, subtree)
  else
    subtree:add(f.frame, endpoint == 0x83 and "stream data in" or "stream data out")
    subtree:add(f.stream, tvb())
    pinfo.cols.info = string.format("stream data %s, %d bytes", endpoint == 0x83 and "in" or "out",
                                    tvb:len())
  end
  return true
end

function maltor.dissector(tvb, pinfo, tree)
  dissect(tvb, pinfo, tree)
end

function maltor.init()
  last_request = nil
  answered = {}
end

local products = DissectorTable.get("usb.product")
for _, id in ipairs({0x4D540001, 0x4D540002, 0x4D540003, 0x4D540005}) do
  products:add(id, maltor)
end
maltor:register_heuristic("usb.bulk", dissect)
