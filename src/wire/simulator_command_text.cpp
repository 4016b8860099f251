#include "wire/simulator_command_text.h"

#include <cstdio>

namespace halcyra::wire {

std::string DegreesText(double degrees) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", degrees);
  return text;
}

std::string FeetText(double feet) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", feet);
  return text;
}

std::string ActiveMarks(int activeRadio) {
  std::string marks = "___";
  if (activeRadio >= 1 && activeRadio <= 3) marks[static_cast<size_t>(activeRadio - 1)] = 'X';
  return marks;
}

std::string SetVolumCommand(int volume1, int volume2, int volume3) {
  return "SET_VOLUM " + std::to_string(volume1) + " " + std::to_string(volume2) + " " +
         std::to_string(volume3);
}

std::string SetLLAltCommand(const std::string& latitude, const std::string& longitude,
                            const std::string& altitude, int radioClass) {
  return "SET_LLALT " + latitude + " " + longitude + " " + altitude + " " + std::to_string(radioClass);
}

std::string SetActivCommand(const std::string& activeMarks) { return "SET_ACTIV " + activeMarks; }

std::string SetRadioCommand(const std::string& frequency1, const std::string& frequency2,
                            const std::string& frequency3, const std::string& cryptoFrequency,
                            int cryptoKey) {
  return "SET_RADIO " + frequency1 + " " + frequency2 + " " + frequency3 + " " + cryptoFrequency + " " +
         std::to_string(cryptoKey);
}

}  // namespace halcyra::wire
