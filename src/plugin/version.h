// What the plug-in tells the host about itself.
#pragma once

namespace halcyra {

inline constexpr wchar_t kPluginNameWide[] = L"Halcyra";
inline constexpr char kPluginNameNarrow[] = "Halcyra";
inline constexpr char kPluginVersion[] = "0.0.0.9";
inline constexpr char kPluginAuthor[] = "Halcyra developers";
inline constexpr char kPluginDescription[] =
    "Radio simulator for DCS-World\n"
    "Hear the other pilots of your channel over your aircraft's radios: frequency, range,\n"
    "terrain masking, encryption and radio noise, with each radio on its configured ear.";

}  // namespace halcyra
