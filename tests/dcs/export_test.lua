-- The export script in the mock simulator: the datagrams it sends (received on a loopback port the
-- OS picks), the other tool's callbacks it chains, and the faults it survives.
-- usage: lua5.1 export_test.lua DCS_SCRIPT_FOLDER TESTS_DCS_FOLDER
local socket = require("socket")

local scriptFolder = assert(arg[1], "usage: export_test.lua DCS_SCRIPT_FOLDER TESTS_DCS_FOLDER")
local Mock = dofile(assert(arg[2]) .. "/mock_dcs.lua")

local HOOK = 'pcall(dofile, lfs.writedir() .. "Scripts/Halcyra/HalcyraExport.lua") -- Halcyra\n'

-- Another tool's export script: records its calls and returns values of its own.
local OTHER_TOOL = [[
OtherTool = { calls = {}, activityTimes = {} }
local function note(name) OtherTool.calls[name] = (OtherTool.calls[name] or 0) + 1 end
function LuaExportStart() note("Start"); return "other-start" end
function LuaExportStop() note("Stop"); return "other-stop" end
function LuaExportBeforeNextFrame() note("Before"); return "other-before" end
function LuaExportAfterNextFrame() note("After"); return "other-after", 2 end
function LuaExportActivityNextEvent(t)
  table.insert(OtherTool.activityTimes, t)
  if t >= 1.0 then return t end
  return t + 0.25
end
]]

local passed, failed = 0, 0
local folders = {}

local function shell(command)
  local status = os.execute(command)
  assert(status == 0 or status == true, command)
end

local function writeFile(path, text)
  local file = assert(io.open(path, "wb"))
  file:write(text)
  file:close()
end

local function readFile(path)
  local file = io.open(path, "rb")
  if not file then return nil end
  local text = file:read("*a")
  file:close()
  return text
end

local function check(condition, message)
  if not condition then error(message, 2) end
end

local function equal(expected, actual, what)
  if expected ~= actual then
    error(string.format("%s: expected %q, got %q", what, tostring(expected), tostring(actual)), 2)
  end
end

local function count(list, predicate)
  local n = 0
  for _, item in ipairs(list) do
    if predicate(item) then n = n + 1 end
  end
  return n
end

local function containing(text)
  return function(line) return line:find(text, 1, true) ~= nil end
end

-- A Saved Games/DCS folder with the script installed, Export.lua (other tool first when asked)
-- and HalcyraConfig.lua (settings text, port added), plus a receiver on a free loopback port.
local function setUp(options)
  local base = os.tmpname()
  os.remove(base)
  local writedir = base .. "/DCS.openbeta/"
  table.insert(folders, base)
  shell("mkdir -p '" .. writedir .. "Scripts/Halcyra'")
  for _, name in ipairs({ "HalcyraExport.lua", "HalcyraAircraft.lua", "HalcyraConfig.default.lua" }) do
    writeFile(writedir .. "Scripts/Halcyra/" .. name, assert(readFile(scriptFolder .. "/" .. name)))
  end
  writeFile(writedir .. "Scripts/Export.lua", (options.otherTool and OTHER_TOOL or "") .. HOOK)
  local receiver = socket.udp()
  assert(receiver:setsockname("127.0.0.1", 0))
  receiver:settimeout(0)
  local _, port = receiver:getsockname()
  if options.settings then
    writeFile(writedir .. "Scripts/Halcyra/HalcyraConfig.lua", options.settings .. "\nport = " .. port .. "\n")
  end
  local mock = Mock.new({ writedir = writedir })
  mock.received = {}
  mock.port = port
  mock.drain = function(m)
    while true do
      local datagram = receiver:receive()
      if not datagram then break end
      table.insert(m.received, { time = m.time, text = datagram })
    end
  end
  mock.close = function() receiver:close() end
  return mock, writedir
end

local function texts(mock, word)
  local result = {}
  for _, datagram in ipairs(mock.received) do
    if not word or datagram.text:sub(1, 9) == word then table.insert(result, datagram.text) end
  end
  return result
end

local F16 = { Name = "F-16C_50", LatLongAlt = { Lat = -33.8688197, Long = 151.2092956, Alt = 3048 } }

local function test(name, body)
  local ok, problem = pcall(body)
  if ok then
    passed = passed + 1
    print("ok - " .. name)
  else
    failed = failed + 1
    print("FAILED - " .. name .. ": " .. tostring(problem))
  end
end

test("flying: exact datagrams at the set rate, radios when they change and when due, the other tool chained", function()
  local mock = setUp({ otherTool = true, settings = [[
send_rate = 10
resend_seconds = 1
active_radio = 2
crypto_frequency = 251
crypto_key = 7
volumes = { 80, 90, 100 }
]] })
  mock:loadExportLua()
  mock:setDevice(36, { frequency = 251000288 })
  mock:setDevice(38, { frequency = 124974988 })
  mock:start()
  mock:run(1.0, mock.drain)                 -- spectator: no own aircraft
  equal(0, #mock.received, "datagrams without an own aircraft")
  mock.self = F16
  mock:run(2.0, mock.drain)
  mock:setDevice(36, { frequency = 243000000 })
  mock:run(0.5, mock.drain)
  mock:stop()
  mock.close()
  equal(0, #mock.errors, "errors that reached the simulator: " .. table.concat(mock.errors, "; "))

  local positions = texts(mock, "SET_LLALT")
  check(#positions >= 24 and #positions <= 26, "10 positions a second for 2.5 s, got " .. #positions)
  equal("SET_LLALT -33.868820 151.209296 10000 0", positions[1], "position")
  local radios = texts(mock, "SET_RADIO")
  equal("SET_RADIO 251.000 124.975 000.000 251.000 7", radios[1], "first radio datagram")
  equal("SET_RADIO 243.000 124.975 000.000 251.000 7", radios[#radios], "radio after tuning")
  check(#radios >= 3 and #radios <= 5, "radios sent at start, every second and on the change, got " .. #radios)
  equal("SET_VOLUM 80 90 100", texts(mock, "SET_VOLUM")[1], "volumes")
  equal("SET_ACTIV _X_", table.concat(texts(mock, "SET_ACTIV"), ","), "one selection, none with the resends")
  for _, text in ipairs(texts(mock)) do
    check(#text >= 11 and #text <= 119, "datagram length " .. #text .. ": " .. text)
  end

  local other = mock.env.OtherTool
  equal(1, other.calls.Start, "other tool's starts")
  equal(1, other.calls.Stop, "other tool's stops")
  equal(224, other.calls.Before, "other tool's frames before")
  equal(224, other.calls.After, "other tool's frames after")
  equal("0 0.25 0.5 0.75 1", table.concat(other.activityTimes, " "), "other tool's activity times")
  equal("other-start", mock:call("LuaExportStart"), "start's return value")
  local first, second = mock:call("LuaExportAfterNextFrame")
  equal("other-after", first, "frame's first return value")
  equal(2, second, "frame's second return value")
  equal("other-stop", mock:call("LuaExportStop"), "stop's return value")
end)

test("faults: a device that errors, an unknown type, a socket that cannot send, a broken settings file", function()
  local mock, writedir = setUp({ settings = "send_rate = 10\n" })
  mock:loadExportLua()
  mock:setDevice(36, { frequency = 251000000 })
  mock:setDevice(38, { fails = "device 38 is broken" })
  mock:start()
  mock.self = F16
  mock:run(1.0, mock.drain)
  equal("SET_RADIO 251.000 000.000 000.000 000.000 0", texts(mock, "SET_RADIO")[1], "radio beside the broken device")
  local before = #mock.received
  mock.sendFails = true
  mock:run(2.0, mock.drain)
  equal(before, #mock.received, "datagrams while sends fail")
  mock.sendFails = false
  mock.self = { Name = "MiG-99", LatLongAlt = { Lat = 1, Long = 2, Alt = 0 } }
  mock:run(1.0, mock.drain)
  local radios, positions = texts(mock, "SET_RADIO"), texts(mock, "SET_LLALT")
  equal("SET_RADIO 000.000 000.000 000.000 000.000 0", radios[#radios], "radio of an unknown type")
  equal("SET_LLALT 1.000000 2.000000 0 0", positions[#positions], "its position")
  mock.self = nil
  mock:run(1.0, mock.drain)
  mock:stop()

  -- The next mission with a settings file that does not parse: the defaults, and nothing else
  -- changes (no own aircraft, so nothing goes to the default port).
  local path = writedir .. "Scripts/Halcyra/HalcyraConfig.lua"
  writeFile(path, "send_rate = = 10\n")
  mock:start()
  mock:run(0.5, mock.drain)
  mock:stop()
  mock.close()

  equal(0, #mock.errors, "errors that reached the simulator: " .. table.concat(mock.errors, "; "))
  equal("send_rate = = 10\n", readFile(path), "the broken settings file")
  local log = mock.logLines
  equal(1, count(log, containing("settings not read, using the defaults: ")), "settings lines")
  check(count(log, containing("HalcyraConfig.lua:1:")) == 1, "the settings line names the line: " .. table.concat(log, "\n"))
  equal(1, count(log, containing("sending to 127.0.0.1:10602, 4 positions a second")), "the defaults used")
  equal(1, count(log, function(line)
    return line:find("F-16C_50: radio device 38 cannot be read (", 1, true) and line:find("device 38 is broken)", 1, true)
  end), "device lines")
  equal(1, count(log, containing("cannot send to 127.0.0.1:" .. mock.port .. " (mock: network is unreachable)")), "send lines")
  equal(1, count(log, containing("sending to 127.0.0.1:" .. mock.port .. " again")), "recovery lines")
  equal(1, count(log, containing("no radio devices known for aircraft type MiG-99")), "unknown type lines")
  equal(2, count(log, containing("no own aircraft: nothing is sent")), "spectator lines (one each mission)")
end)

test("the settings file: written with the defaults when missing, never overwritten, each mistake named", function()
  local mock, writedir = setUp({})
  local path = writedir .. "Scripts/Halcyra/HalcyraConfig.lua"
  mock:loadExportLua()
  mock:start()
  equal(readFile(writedir .. "Scripts/Halcyra/HalcyraConfig.default.lua"), readFile(path), "written settings")
  local values = assert(mock.env.HalcyraExport.runSettingsFile(path))
  local defaults = mock.env.HalcyraExport.defaults()
  for key, value in pairs(defaults) do
    if type(value) == "table" then
      equal(table.concat(value, ","), table.concat(values[key], ","), "template's " .. key)
      equal(0, #values[key] - #value, "template's " .. key .. " size")
    else
      equal(value, values[key], "template's " .. key)
    end
    values[key] = nil
  end
  equal(nil, next(values), "template setting without a default")
  mock:stop()

  writeFile(path, "port = 'x'\nvolumes = { 50, 300 }\ncolour = 1\nsend_rate = 20\n")
  mock:start()
  mock:stop()
  mock.close()
  equal("port = 'x'\nvolumes = { 50, 300 }\ncolour = 1\nsend_rate = 20\n", readFile(path), "kept settings")
  local log = mock.logLines
  equal(1, count(log, containing(": port must be a whole number from 1 to 65535; using the default")), "port line")
  equal(1, count(log, containing(": volumes must be three percentages")), "volumes line")
  equal(1, count(log, containing(": unknown setting colour ignored")), "unknown setting line")
  equal(1, count(log, containing("sending to 127.0.0.1:10602, 20 positions a second")), "settings used")
end)

-- The transmitting radio is selected on entering an aircraft only, so that a radio selected later
-- with the plug-in's buttons stays selected through the resends.
test("selection: radio 1 by default on entering an aircraft, again only on the next entry; none and 0 select nothing", function()
  local mock, writedir = setUp({})
  local path = writedir .. "Scripts/Halcyra/HalcyraConfig.lua"
  mock:loadExportLua()
  mock:start()                              -- writes the default settings; no aircraft: nothing sent
  mock:run(0.5, mock.drain)
  mock:stop()
  local template = assert(readFile(path), "the default settings")
  local function mission(settings, seconds)
    writeFile(path, settings .. "\nport = " .. mock.port .. "\n")
    mock:start()
    mock:run(seconds, mock.drain)
    mock:stop()
  end
  local function selections() return table.concat(texts(mock, "SET_ACTIV"), ",") end

  writeFile(path, template .. "\nport = " .. mock.port .. "\n")
  mock.self = F16
  mock:start()
  mock:run(12, mock.drain)                  -- the default settings resend every 5 s
  check(#texts(mock, "SET_RADIO") >= 3, "radios resent, got " .. #texts(mock, "SET_RADIO"))
  equal("SET_ACTIV X__", selections(), "the first aircraft")
  mock.self = { Name = "FA-18C_hornet", LatLongAlt = F16.LatLongAlt }
  mock:run(1, mock.drain)
  equal("SET_ACTIV X__,SET_ACTIV X__", selections(), "another aircraft type")
  mock.self = nil
  mock:run(1, mock.drain)
  mock.sendFails = true
  mock.self = F16
  mock:run(1, mock.drain)
  mock.sendFails = false
  mock:run(6, mock.drain)
  equal("SET_ACTIV X__,SET_ACTIV X__,SET_ACTIV X__", selections(), "the same type after spectating, once sends work")
  mock:stop()

  mission('active_radio = "none"', 6)
  mission("active_radio = 0", 6)
  equal("SET_ACTIV X__,SET_ACTIV X__,SET_ACTIV X__", selections(), "none and 0 select nothing")
  mission("active_radio = 3\nresend_seconds = 1", 3)
  mission("active_radio = 4", 1)
  mock.close()
  equal("SET_ACTIV X__,SET_ACTIV X__,SET_ACTIV X__,SET_ACTIV __X,SET_ACTIV X__", selections(), "radio 3, then the default")
  equal(0, #mock.errors, "errors that reached the simulator: " .. table.concat(mock.errors, "; "))
  local log = mock.logLines
  equal(2, count(log, containing("active_radio is \"none\": the plug-in's joystick buttons select")), "none lines")
  equal(1, count(log, containing(': active_radio must be 1, 2, 3 or "none"; using the default')), "bad value line")
end)

test("texts: frequencies rounded to the channel spacing, positions within their field widths", function()
  local mock = setUp({})
  mock:loadExportLua()
  local M = mock.env.HalcyraExport
  equal("225.000", M.deviceFrequencyText(225000288, 25), "225000288 Hz")
  equal("065.000", M.deviceFrequencyText(65000056, 25), "65000056 Hz")
  equal("125.375", M.deviceFrequencyText(125375435, 25), "125375435 Hz")
  equal("124.975", M.deviceFrequencyText(124987400, 25), "just below the half channel")
  equal("118.008", M.deviceFrequencyText(118008400, 25 / 3), "8.33 kHz channel")
  equal("005.301", M.deviceFrequencyText(5300780, 1), "HF at 1 kHz")
  equal("000.000", M.deviceFrequencyText(1000000000, 25), "1000 MHz does not fit")
  equal("000.000", M.deviceFrequencyText(0 / 0, 25), "not a number")
  equal("000.000", M.deviceFrequencyText(nil, 25), "nothing")
  equal("000.000", M.deviceFrequencyText(-30000000, 25), "negative")
  local longest = M.positionCommand({ LatLongAlt = { Lat = -89.9999999, Long = -179.9999999, Alt = -500 } }, 200)
  equal("SET_LLALT -90.000000 -180.000000 -1640 200", longest, "southern and western extremes")
  equal(nil, (M.positionCommand({ LatLongAlt = { Lat = 0 / 0, Long = 0, Alt = 0 } }, 0)), "not-a-number latitude")
  equal(nil, (M.positionCommand({ LatLongAlt = { Lat = 0, Long = 181, Alt = 0 } }, 0)), "longitude beyond 180")
  equal(nil, (M.positionCommand({}, 0)), "no position")
  mock.close()
end)

for _, base in ipairs(folders) do os.execute("rm -rf '" .. base .. "'") end
print(passed .. " passed, " .. failed .. " failed")
os.exit(failed == 0 and 0 or 1)
