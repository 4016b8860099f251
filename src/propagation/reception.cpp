#include "propagation/reception.h"

namespace halcyra {

Reception JudgeReception(CHalcyra& model, const StationRecord& local, StationRecord& remote, bool attenuation,
                         float gainLimit) {
  Reception reception;
  reception.audible = model.IsAudible(local, remote, &reception.remoteRadio, &reception.localRadio) == 1;
  if (!reception.audible || !attenuation) return reception;
  reception.rated = true;
  reception.range = model.JudgeRange(local, remote, reception.remoteRadio, gainLimit);
  reception.encrypted = model.IsEncrypted(local, remote) == 1;
  return reception;
}

Reception JudgeReception(CHalcyra& model, StationRecord& remote, bool attenuation, float gainLimit) {
  return JudgeReception(model, model.LocalStation(), remote, attenuation, gainLimit);
}

}  // namespace halcyra
