-- A stand-in for the simulator's Lua export environment, for tests of the export script.
--
-- It gives a script what the simulator gives it: lfs.writedir(), log.write, LoGetSelfData,
-- LoGetModelTime, GetDevice with radio devices (get_frequency in Hz, is_on), LuaSocket through
-- require("socket"), and runs Saved Games/DCS/Scripts/Export.lua in an environment of its own.
-- It then calls the export callbacks in the simulator's order: LuaExportStart once; for every
-- frame LuaExportBeforeNextFrame, LuaExportAfterNextFrame, and LuaExportActivityNextEvent(t) when
-- the model time has reached the time it last returned (returning t ends those calls);
-- LuaExportStop at the end. An error raised by a callback is what would reach the simulator: it is
-- caught and kept in mock.errors.
--
-- As a module (dofile) it returns Mock. As a program it runs one scenario in real time:
--   lua5.1 mock_dcs.lua SCENARIO.lua
-- where SCENARIO.lua returns { writedir = ".../DCS/", seconds = N, self = <LoGetSelfData table>,
-- devices = { [id] = { frequency = hz } } }; it prints the script's log lines ("LOG ...") and
-- "mock: done" at the end.
local socket = require("socket")

local Mock = {}
Mock.__index = Mock

-- options: writedir (with its trailing separator), frameSeconds (default 1/64), realtime (sleep
-- each frame and let the script see the wall clock; else time is model time), echo (print logs).
function Mock.new(options)
  local mock = setmetatable({
    options = options,
    time = 0,
    frameSeconds = options.frameSeconds or 1 / 64,  -- exact in binary: model times add up
    self = nil,
    devices = {},
    logLines = {},
    errors = {},
    sendFails = false,
    nextActivity = 0,
  }, Mock)
  mock.env = mock:makeEnvironment()
  return mock
end

function Mock:makeEnvironment()
  local mock = self
  local env = setmetatable({}, { __index = _G })
  env._G = env
  env.lfs = {
    writedir = function() return mock.options.writedir end,
    currentdir = function() return mock.options.writedir end,
  }
  env.log = {
    ERROR = 8, WARNING = 16, INFO = 64, DEBUG = 128,
    write = function(subsystem, level, message)
      local line = tostring(subsystem) .. " " .. tostring(level) .. " " .. tostring(message)
      table.insert(mock.logLines, line)
      if mock.options.echo then
        print("LOG " .. line)
        io.stdout:flush()
      end
    end,
  }
  env.LoGetSelfData = function() return mock.self end
  env.LoGetModelTime = function() return mock.time end
  env.LoGetPilotName = function() return "Mock Pilot" end
  env.GetDevice = function(id) return mock.devices[id] end
  env.dofile = function(path)
    local chunk = assert(loadfile(path))
    setfenv(chunk, env)
    return chunk()
  end
  env.require = function(name)
    if name == "socket" then return mock:socketLibrary() end
    return require(name)
  end
  return env
end

-- LuaSocket as the script sees it: the model clock unless real time, and UDP sockets whose sends
-- fail while mock.sendFails is set.
function Mock:socketLibrary()
  local mock = self
  local library = setmetatable({}, { __index = socket })
  if not self.options.realtime then library.gettime = function() return mock.time end end
  library.udp = function()
    local real = socket.udp()
    return {
      settimeout = function(_, seconds) return real:settimeout(seconds) end,
      setsockname = function(_, host, port) return real:setsockname(host, port) end,
      sendto = function(_, data, host, port)
        if mock.sendFails then return nil, "mock: network is unreachable" end
        return real:sendto(data, host, port)
      end,
      close = function() return real:close() end,
    }
  end
  return library
end

-- A radio device: radio.frequency in Hz, radio.on (default true), radio.fails (an error message).
function Mock:setDevice(id, radio)
  self.devices[id] = {
    get_frequency = function()
      if radio.fails then error(radio.fails) end
      return radio.frequency
    end,
    is_on = function() return radio.on ~= false end,
  }
end

-- Calls a global callback as the simulator does; an error it raises is kept.
function Mock:call(name, ...)
  local callback = rawget(self.env, name)
  if type(callback) ~= "function" then return end
  local results = { pcall(callback, ...) }
  if not results[1] then
    table.insert(self.errors, name .. ": " .. tostring(results[2]))
    return
  end
  return unpack(results, 2, table.maxn(results))
end

function Mock:loadExportLua()
  local ok, problem = pcall(self.env.dofile, self.options.writedir .. "Scripts/Export.lua")
  if not ok then table.insert(self.errors, "Export.lua: " .. tostring(problem)) end
end

function Mock:start()
  self:call("LuaExportStart")
  self.nextActivity = self.time
end

function Mock:stop() self:call("LuaExportStop") end

function Mock:frame()
  self:call("LuaExportBeforeNextFrame")
  self:call("LuaExportAfterNextFrame")
  if self.nextActivity and self.time >= self.nextActivity and rawget(self.env, "LuaExportActivityNextEvent") then
    local nextTime = self:call("LuaExportActivityNextEvent", self.time)
    if type(nextTime) == "number" and nextTime > self.time then
      self.nextActivity = nextTime
    else
      self.nextActivity = nil
    end
  end
  self.time = self.time + self.frameSeconds
  if self.options.realtime then socket.sleep(self.frameSeconds) end
end

-- Runs frames for the given seconds of model time; afterEach(mock) runs after every frame.
function Mock:run(seconds, afterEach)
  local frames = math.floor(seconds / self.frameSeconds + 0.5)
  for _ = 1, frames do
    self:frame()
    if afterEach then afterEach(self) end
  end
end

local function main(scenarioPath)
  local scenario = assert(dofile(scenarioPath))
  local mock = Mock.new({ writedir = scenario.writedir, realtime = true, echo = true })
  mock.self = scenario.self
  for id, radio in pairs(scenario.devices or {}) do mock:setDevice(id, radio) end
  mock:loadExportLua()
  mock:start()
  print("mock: started")
  io.stdout:flush()
  mock:run(scenario.seconds or 30)
  mock:stop()
  for _, problem in ipairs(mock.errors) do print("mock: error reached the simulator: " .. problem) end
  print("mock: done")
  io.stdout:flush()
  os.exit(#mock.errors == 0 and 0 or 1)
end

if arg and arg[0] and arg[0]:match("mock_dcs%.lua$") then
  main(assert(arg[1], "usage: lua5.1 mock_dcs.lua SCENARIO.lua"))
end

return Mock
