-- Halcyra export settings for DCS World.
--
-- This file is yours: the export script writes it with these defaults when it is missing and never
-- changes it afterwards (delete it to get the defaults back). It is Lua: one setting a line, and
-- "--" starts a comment. A setting left out keeps its default; a mistake is reported in the
-- simulator's log (Saved Games\DCS...\Logs\dcs.log, lines with "HALCYRA") and the defaults are used.
-- Changes take effect at the next mission start.

-- Where the Halcyra plug-in listens: the TeamSpeak client on this computer.
host = "127.0.0.1"
port = 10602

-- Position updates per second, 1 to 50. The plug-in takes the simulator for gone after about 8 s
-- without one.
send_rate = 4

-- Radios and volumes are sent when they change and again every this many seconds (1 to 60), so a
-- plug-in started later learns them.
resend_seconds = 5

-- Radio class of this station: 0 aircraft; 1 and 2 ground stations that the plug-in puts on the
-- terrain (short and long range); 100 and 200 stations of longer range.
radio_class = 0

-- Encryption: the frequency in MHz it applies to (0 = none) and the key. Everyone who should
-- understand you sets the same pair.
crypto_frequency = 0
crypto_key = 0

-- The radio you transmit on: 1, 2 or 3 is selected each time you enter an aircraft, and a radio
-- you select afterwards with the plug-in's joystick buttons ([SELECTOR] in Halcyra.ini) stays
-- until you enter one again. "none" (or 0) leaves the choice to those buttons alone: until one is
-- pressed you transmit on no radio and nobody hears you.
active_radio = 1

-- Playback volume of radio 1, 2 and 3 in percent, 0 to 200.
volumes = { 100, 100, 100 }

-- Radio devices report frequencies a little off; they are rounded to this channel spacing in kHz
-- (an aircraft entry can set its own per radio).
channel_spacing_khz = 25

-- true: a radio switched off in the cockpit is sent as off ("000.000").
check_power = true

-- Radio devices of radio 1, 2 and 3 per aircraft type, in place of the shipped table
-- (HalcyraAircraft.lua beside this file). Device ids can change with simulator updates. Examples:
--   devices = { ["SA342M"] = { 5, 28, 31 }, ["AH-64D_BLK_II"] = { 57, 58, 61 } }
-- A radio may also be { device = 61, spacing_khz = 1 }; false leaves a radio off.
devices = {}

-- Fixed frequencies in MHz for aircraft that have no radio devices (the Su-25T and the other FC3
-- types). ["*"] is used for every type that has no devices in either table. Example:
--   fixed_frequencies = { ["Su-25T"] = { 124.0, 251.0 }, ["*"] = { 251.0 } }
fixed_frequencies = {}
