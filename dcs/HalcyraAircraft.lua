-- Radio devices of the aircraft that Halcyra reads, by aircraft type (the Name of LoGetSelfData).
--
-- Each entry lists the cockpit devices of radio 1, radio 2 and radio 3, in that order. A radio is
-- either a device id or a table { device = id, spacing_khz = k } for a radio whose channels are not
-- 25 kHz apart. A missing radio is sent as "000.000" (off). Device ids can move between simulator
-- updates: override any entry in HalcyraConfig.lua (devices = { ["TYPE"] = { ... } }) rather than
-- editing this file, which the installer replaces.
--
-- Aircraft that have no cockpit radio devices (the Su-25T and the other FC3 types) are not listed:
-- give them fixed frequencies in HalcyraConfig.lua (fixed_frequencies).
local hf = function(id) return { device = id, spacing_khz = 1 } end

return {
  ["F-16C_50"] = { 36, 38 },                -- UHF ARC-164, VHF ARC-222
  ["FA-18C_hornet"] = { 38, 39 },           -- COMM1, COMM2 (both ARC-210)
  ["A-10C"] = { 54, 55, 56 },               -- UHF, VHF AM, VHF FM
  ["A-10C_2"] = { 54, 55, 56 },             -- UHF, VHF AM (or the ARC-210 in its place), VHF FM
  ["AV8BNA"] = { 2, 3 },                    -- COMM1, COMM2
  ["F-14B"] = { 3, 4 },                     -- UHF ARC-159, V/UHF ARC-182
  ["F-14A-135-GR"] = { 3, 4 },              -- UHF ARC-159, V/UHF ARC-182
  ["AH-64D_BLK_II"] = { 57, 58, 59 },       -- UHF, VHF, FM1 (FM2 is 60, HF is 61)
  ["Ka-50"] = { 48, 49 },                   -- R-800L1, R-828
  ["Ka-50_3"] = { 48, 49 },                 -- R-800L1, R-828
  ["Mi-8MT"] = { hf(37), 38, 39 },          -- JADRO-1A (HF), R-863, R-828
  ["Mi-24P"] = { 49, hf(50), 51 },          -- R-863, JADRO-1I (HF), R-828 (the R-852 is 52)
  ["UH-1H"] = { 20, 22, 23 },               -- VHF AM ARC-134, UHF ARC-51, VHF FM ARC-131
  ["SA342L"] = { 5, 27, 30 },               -- AM, FM, UHF (FM 28 and UHF 31 before mid-2023)
  ["SA342M"] = { 5, 27, 30 },
  ["SA342Mistral"] = { 5, 27, 30 },
  ["SA342Minigun"] = { 5, 27, 30 },
  ["M-2000C"] = { 19, 20 },                 -- V/UHF, UHF
  ["F-15ESE"] = { 7, 8 },                   -- UHF, ARC-210
  ["JF-17"] = { 25, 26 },                   -- COMM1, COMM2
}
