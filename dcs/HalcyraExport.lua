-- Halcyra for DCS World: sends the own aircraft's position and radios to the Halcyra TeamSpeak
-- plug-in over UDP (127.0.0.1:10602 unless HalcyraConfig.lua says otherwise).
--
-- Loaded by one line in Saved Games\DCS...\Scripts\Export.lua (halcyra-dcs-install writes it):
--   pcall(dofile, lfs.writedir() .. "Scripts/Halcyra/HalcyraExport.lua") -- Halcyra
--
-- Lua 5.1, for the simulator's export environment. Other tools' callbacks defined before this
-- script keep running: LuaExportStart, LuaExportStop and LuaExportAfterNextFrame call the earlier
-- function after this script's own work, with the same arguments, and return its results; this
-- script leaves LuaExportBeforeNextFrame and LuaExportActivityNextEvent as they are, so their
-- calls and next-time contract stay exactly those of the tools that defined them.
--
-- Nothing of this script's own work raises into the simulator: it runs under pcall, and each
-- distinct problem is written once to the simulator's log (dcs.log, subsystem HALCYRA).
--
-- Datagrams, each 11 to 119 bytes:
--   SET_LLALT <lat %.6f> <lon %.6f> <altitude, whole feet> <radio class>    send_rate per second
--   SET_RADIO <f1> <f2> <f3> <crypto frequency> <crypto key>                 MHz as %07.3f
--   SET_VOLUM <v1> <v2> <v3>                                                 percent
--   SET_ACTIV <X__|_X_|__X>                                                  on entering an aircraft
-- SET_RADIO and SET_VOLUM are sent when they change and again every resend_seconds. SET_ACTIV
-- selects active_radio once each time the pilot enters an aircraft (a new type, or any aircraft
-- after none), and never with the resends, so that a radio selected later with the plug-in's
-- joystick buttons stays selected; active_radio "none" (or 0) sends none. Nothing is sent while
-- there is no own aircraft (spectator, slot selection).

if HalcyraExport and HalcyraExport.loaded then
  -- A second hook line: the callbacks are chained already.
  return
end

local M = { loaded = true }
HalcyraExport = M

local SUBSYSTEM = "HALCYRA"
local FEET_PER_METRE = 1 / 0.3048
local MIN_DATAGRAM, MAX_DATAGRAM = 11, 119
local FREQUENCY_OFF = "000.000"

-- ---------------------------------------------------------------------------------------------
-- Log: the environment's log.write when there is one, else print. Each key is written once.

local reported = {}

local function say(message)
  local logger = log
  if type(logger) == "table" and type(logger.write) == "function" then
    pcall(logger.write, SUBSYSTEM, logger.INFO or 64, message)
  else
    pcall(print, SUBSYSTEM .. ": " .. message)
  end
end

local function sayOnce(key, message)
  if not reported[key] then
    reported[key] = true
    say(message)
  end
end

-- ---------------------------------------------------------------------------------------------
-- Files of this script: its own folder (from its source path), else Scripts/Halcyra/ of the
-- simulator's write folder.

local function ownFolder()
  local ok, source = pcall(function() return debug.getinfo(1, "S").source end)
  if ok and type(source) == "string" then
    local folder = source:match("^@(.*[/\\])")
    if folder then return folder end
  end
  return lfs.writedir() .. "Scripts/Halcyra/"
end

local folder = ownFolder()
M.configPath = folder .. "HalcyraConfig.lua"
local templatePath = folder .. "HalcyraConfig.default.lua"
local aircraftPath = folder .. "HalcyraAircraft.lua"

-- ---------------------------------------------------------------------------------------------
-- Settings: the defaults, and HalcyraConfig.lua over them (each value checked on its own).

local function defaults()
  return {
    host = "127.0.0.1",
    port = 10602,
    send_rate = 4,
    resend_seconds = 5,
    radio_class = 0,
    crypto_frequency = 0,
    crypto_key = 0,
    active_radio = 1,
    volumes = { 100, 100, 100 },
    channel_spacing_khz = 25,
    check_power = true,
    devices = {},
    fixed_frequencies = {},
  }
end
M.defaults = defaults

local function isInteger(value, low, high)
  return type(value) == "number" and value == math.floor(value) and value >= low and value <= high
end

local function isNumber(value, low, high)
  return type(value) == "number" and value == value and value >= low and value <= high
end

local function isList(value, check)
  if type(value) ~= "table" then return false end
  for key, item in pairs(value) do
    if not isInteger(key, 1, 3) or not check(item) then return false end
  end
  return true
end

local function isRadioDevice(item)
  if item == false then return true end
  if type(item) == "table" then
    return isInteger(item.device, 0, 100000) and (item.spacing_khz == nil or isNumber(item.spacing_khz, 0.001, 1000))
  end
  return isInteger(item, 0, 100000)
end

-- active_radio: 1, 2 or 3, or "none"; 0 is the "none" of settings files of earlier versions.
local NO_RADIO = 0

local function activeRadioOf(value)
  if value == "none" or value == NO_RADIO then return NO_RADIO end
  if isInteger(value, 1, 3) then return value end
  return nil
end

local function isMap(value, check)
  if type(value) ~= "table" then return false end
  for key, item in pairs(value) do
    if type(key) ~= "string" or not check(item) then return false end
  end
  return true
end

local rules = {
  host = { "a text such as \"127.0.0.1\"", function(v) return type(v) == "string" and v ~= "" end },
  port = { "a whole number from 1 to 65535", function(v) return isInteger(v, 1, 65535) end },
  send_rate = { "a number from 1 to 50", function(v) return isNumber(v, 1, 50) end },
  resend_seconds = { "a number from 1 to 60", function(v) return isNumber(v, 1, 60) end },
  radio_class = { "a whole number (0, 1, 2, 100 or 200)", function(v) return isInteger(v, -2147483648, 2147483647) end },
  crypto_frequency = { "a frequency in MHz below 1000, or 0", function(v) return isNumber(v, 0, 999.999) end },
  crypto_key = { "a whole number", function(v) return isInteger(v, -2147483648, 2147483647) end },
  active_radio = { "1, 2, 3 or \"none\"", function(v) return activeRadioOf(v) ~= nil end },
  volumes = { "three percentages from 0 to 200, e.g. { 100, 100, 100 }",
    function(v) return isList(v, function(item) return isInteger(item, 0, 200) end) end },
  channel_spacing_khz = { "a number of kHz from 0.001 to 1000", function(v) return isNumber(v, 0.001, 1000) end },
  check_power = { "true or false", function(v) return type(v) == "boolean" end },
  devices = { "a table of aircraft types, each with up to three device ids",
    function(v) return isMap(v, function(radios) return isList(radios, isRadioDevice) end) end },
  fixed_frequencies = { "a table of aircraft types, each with up to three frequencies in MHz",
    function(v) return isMap(v, function(list) return isList(list, function(f) return isNumber(f, 0, 999.999) end) end) end },
}

local function readFile(path)
  local file = io.open(path, "rb")
  if not file then return nil end
  local text = file:read("*a")
  file:close()
  return text
end

local function writeFile(path, text)
  local file, problem = io.open(path, "wb")
  if not file then return false, problem end
  local ok, writeProblem = file:write(text)
  file:close()
  if not ok then return false, writeProblem end
  return true
end

-- Runs a settings file in an environment of its own and returns the values it assigned.
local function runSettingsFile(path)
  local chunk, problem = loadfile(path)
  if not chunk then return nil, problem end
  local values = {}
  setfenv(chunk, values)
  local ok, runProblem = pcall(chunk)
  if not ok then return nil, tostring(runProblem) end
  return values
end
M.runSettingsFile = runSettingsFile

local function loadSettings()
  local settings = defaults()
  if not readFile(M.configPath) then
    local template = readFile(templatePath)
    if template then
      local ok, problem = writeFile(M.configPath, template)
      if ok then
        say("wrote the default settings to " .. M.configPath)
      else
        say("cannot write " .. M.configPath .. " (" .. tostring(problem) .. "); using the defaults")
      end
    else
      say(templatePath .. " is missing; using the defaults")
    end
    if not readFile(M.configPath) then return settings end
  end
  local values, problem = runSettingsFile(M.configPath)
  if not values then
    say("settings not read, using the defaults: " .. tostring(problem))
    return settings
  end
  for key, value in pairs(values) do
    local rule = rules[key]
    if not rule then
      say(M.configPath .. ": unknown setting " .. tostring(key) .. " ignored")
    elseif not rule[2](value) then
      say(M.configPath .. ": " .. key .. " must be " .. rule[1] .. "; using the default")
    else
      settings[key] = value
    end
  end
  settings.active_radio = activeRadioOf(settings.active_radio)
  return settings
end

local function loadAircraftTable()
  local chunk, problem = loadfile(aircraftPath)
  if chunk then
    setfenv(chunk, {})
    local ok, result = pcall(chunk)
    if ok and isMap(result, function(radios) return isList(radios, isRadioDevice) end) then return result end
    problem = ok and "not a table of aircraft types with device ids" or tostring(result)
  end
  say("aircraft table not read (" .. tostring(problem) .. "); only the devices of HalcyraConfig.lua are known")
  return {}
end

-- ---------------------------------------------------------------------------------------------
-- Texts of the datagrams.

-- MHz as "%07.3f": "251.000"; a frequency that does not fit seven characters is off.
local function frequencyText(megahertz)
  if type(megahertz) ~= "number" or megahertz ~= megahertz or megahertz <= 0 then return FREQUENCY_OFF end
  local text = string.format("%07.3f", megahertz)
  if #text ~= 7 then return FREQUENCY_OFF end
  return text
end
M.frequencyText = frequencyText

-- A device frequency in Hz, rounded to the channel spacing, as MHz text.
local function deviceFrequencyText(hertz, spacingKhz)
  if type(hertz) ~= "number" or hertz ~= hertz or hertz <= 0 then return FREQUENCY_OFF end
  local spacing = spacingKhz * 1000
  local rounded = math.floor(hertz / spacing + 0.5) * spacing
  -- Round the MHz value to whole hertz first, so that 8.33 kHz steps print as the nearest kHz.
  return frequencyText(math.floor(rounded + 0.5) / 1e6)
end
M.deviceFrequencyText = deviceFrequencyText

local function positionCommand(self, radioClass)
  local position = type(self) == "table" and self.LatLongAlt
  if type(position) ~= "table" then return nil, "no LatLongAlt in the own aircraft's data" end
  local lat, lon, alt = position.Lat, position.Long, position.Alt
  if not (isNumber(lat, -90, 90) and isNumber(lon, -180, 180) and isNumber(alt, -1e6, 1e7)) then
    return nil, "own aircraft position out of range: " .. tostring(lat) .. " " .. tostring(lon) .. " " .. tostring(alt)
  end
  local feet = math.floor(alt * FEET_PER_METRE + 0.5)
  return string.format("SET_LLALT %.6f %.6f %d %d", lat, lon, feet, radioClass)
end
M.positionCommand = positionCommand

local function activeMarks(radio)
  local marks = { "_", "_", "_" }
  marks[radio] = "X"
  return table.concat(marks)
end

-- ---------------------------------------------------------------------------------------------
-- Radios of the own aircraft.

local settings = defaults()
local aircraft = {}

local function radioDeviceOf(item)
  if type(item) == "table" then return item.device, item.spacing_khz end
  if item == false or item == nil then return nil end
  return item
end

-- The frequency text of one device, or "000.000" with a log line when it cannot be read.
local function readDevice(typeName, id, spacingKhz)
  local ok, result = pcall(function()
    local device = GetDevice(id)
    if device == nil then error("no such device", 0) end
    if settings.check_power then
      local known, on = pcall(function() return device:is_on() end)
      if known and on == false then return FREQUENCY_OFF end
    end
    return deviceFrequencyText(device:get_frequency(), spacingKhz or settings.channel_spacing_khz)
  end)
  if ok then return result end
  sayOnce("device " .. typeName .. " " .. id,
    typeName .. ": radio device " .. id .. " cannot be read (" .. tostring(result) .. "); that radio is sent as off")
  return FREQUENCY_OFF
end

local function radioFrequencies(typeName)
  local radios = settings.devices[typeName] or aircraft[typeName]
  local texts = { FREQUENCY_OFF, FREQUENCY_OFF, FREQUENCY_OFF }
  if radios then
    for radio = 1, 3 do
      local id, spacing = radioDeviceOf(radios[radio])
      if id then texts[radio] = readDevice(typeName, id, spacing) end
    end
    return texts
  end
  local fixed = settings.fixed_frequencies[typeName] or settings.fixed_frequencies["*"]
  if fixed then
    for radio = 1, 3 do texts[radio] = frequencyText(fixed[radio]) end
    return texts
  end
  sayOnce("type " .. typeName, "no radio devices known for aircraft type " .. typeName ..
    ": its radios are sent as off; give it devices or fixed_frequencies in " .. M.configPath)
  return texts
end

-- ---------------------------------------------------------------------------------------------
-- Sending.

local socketLibrary, udp, address
local active = false
local nextPosition, nextResend = 0, 0
local sent = {}            -- last text sent of each command word
local ownType = false      -- aircraft type of the last update; nil while there is none, false at start
local selectionDue = false -- SET_ACTIV waits to be sent: from entering an aircraft until a send works

local searchPathsAdded = false

local function openSocket()
  if not searchPathsAdded and lfs and lfs.currentdir then
    searchPathsAdded = true
    package.path = package.path .. ";" .. lfs.currentdir() .. "/LuaSocket/?.lua"
    package.cpath = package.cpath .. ";" .. lfs.currentdir() .. "/LuaSocket/?.dll"
  end
  socketLibrary = require("socket")
  address = socketLibrary.dns.toip(settings.host)
  if not address then error("cannot resolve " .. settings.host, 0) end
  udp = socketLibrary.udp()
  if not udp then error("no UDP socket", 0) end
  udp:settimeout(0)
end

local function send(text)
  if #text < MIN_DATAGRAM or #text > MAX_DATAGRAM then
    sayOnce("length " .. text:sub(1, 9), "not sent, " .. #text .. " bytes: " .. text)
    return false
  end
  local ok, problem = udp:sendto(text, address, settings.port)
  if not ok then
    sayOnce("send", "cannot send to " .. settings.host .. ":" .. settings.port .. " (" .. tostring(problem) ..
      "); trying again with every update")
    return false
  end
  if reported.send then
    reported.send = nil
    say("sending to " .. settings.host .. ":" .. settings.port .. " again")
  end
  return true
end

-- Sends text when it differs from the last one sent under its command word, or when due.
local function sendIfChanged(text, due)
  local word = text:sub(1, 9)
  if not due and sent[word] == text then return end
  if send(text) then sent[word] = text end
end

local function update(now)
  if now < nextPosition then return end
  nextPosition = nextPosition + 1 / settings.send_rate
  if nextPosition <= now then nextPosition = now + 1 / settings.send_rate end
  local self = LoGetSelfData()
  if type(self) ~= "table" then
    if ownType ~= nil then say("no own aircraft: nothing is sent") end
    ownType = nil
    return
  end
  local typeName = tostring(self.Name)
  if typeName ~= ownType then
    ownType = typeName
    sent = {}
    selectionDue = settings.active_radio ~= NO_RADIO
    say("own aircraft " .. typeName)
  end
  local position, problem = positionCommand(self, settings.radio_class)
  if not position then
    sayOnce("position", problem)
    return
  end
  send(position)

  local due = now >= nextResend
  if due then nextResend = now + settings.resend_seconds end
  local f = radioFrequencies(typeName)
  sendIfChanged(string.format("SET_RADIO %s %s %s %s %d", f[1], f[2], f[3],
    frequencyText(settings.crypto_frequency), settings.crypto_key), due)
  local v = settings.volumes
  sendIfChanged(string.format("SET_VOLUM %d %d %d", v[1] or 100, v[2] or 100, v[3] or 100), due)
  if selectionDue and send("SET_ACTIV " .. activeMarks(settings.active_radio)) then selectionDue = false end
end

local function clock()
  if socketLibrary and socketLibrary.gettime then return socketLibrary.gettime() end
  return LoGetModelTime()
end

local function start()
  reported = {}
  settings = loadSettings()
  aircraft = loadAircraftTable()
  sent, ownType, selectionDue, nextPosition, nextResend = {}, false, false, 0, 0
  local ok, problem = pcall(openSocket)
  if not ok then
    active = false
    say("stands down: " .. tostring(problem))
    return
  end
  active = true
  say("sending to " .. settings.host .. ":" .. settings.port .. ", " .. settings.send_rate .. " positions a second")
  if settings.active_radio == NO_RADIO then
    say("active_radio is \"none\": the plug-in's joystick buttons select the radio you transmit on")
  end
end

local function stop()
  active = false
  if udp then pcall(function() udp:close() end) end
  udp = nil
end

local function afterFrame()
  if not active then return end
  local ok, problem = pcall(function() update(clock()) end)
  if not ok then sayOnce("update " .. tostring(problem), "update failed: " .. tostring(problem)) end
end

-- ---------------------------------------------------------------------------------------------
-- Chaining.

local earlierStart = LuaExportStart
local earlierStop = LuaExportStop
local earlierAfterNextFrame = LuaExportAfterNextFrame

local function guarded(work, name)
  local ok, problem = pcall(work)
  if not ok then sayOnce(name .. " " .. tostring(problem), name .. " failed: " .. tostring(problem)) end
end

function LuaExportStart(...)
  guarded(start, "start")
  if earlierStart then return earlierStart(...) end
end

function LuaExportStop(...)
  guarded(stop, "stop")
  if earlierStop then return earlierStop(...) end
end

function LuaExportAfterNextFrame(...)
  afterFrame()
  if earlierAfterNextFrame then return earlierAfterNextFrame(...) end
end
