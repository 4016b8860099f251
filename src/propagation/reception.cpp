#include "propagation/reception.h"

namespace halcyra {

Reception JudgeReception(CHalcyra& model, StationRecord& remote, bool attenuation, float gainLimit) {
  Reception reception;
  reception.audible = model.IsAudible(remote, &reception.remoteRadio, &reception.localRadio) == 1;
  if (!reception.audible || !attenuation) return reception;
  reception.rated = true;
  reception.range = model.JudgeRange(remote, reception.remoteRadio, gainLimit);
  reception.encrypted = model.IsEncrypted(remote) == 1;
  return reception;
}

}  // namespace halcyra
