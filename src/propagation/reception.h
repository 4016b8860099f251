// The judgement of one remote talker that the voice path makes for every block of his voice, and
// that the info panel explains: which radios meet, how well he is received, whether he is encrypted
// for us. One function, so that both always agree.
#pragma once

#include "propagation/station_model.h"
#include "station/station_record.h"

namespace halcyra {

struct Reception {
  bool audible = false;    // a local radio carries the frequency he transmits on
  int remoteRadio = 0;     // 1..3, the radio he transmits on; 0 when not audible
  int localRadio = 0;      // 1..3, the local radio that receives him; 0 when not audible
  bool rated = false;      // the range and gain model ran (audible and the radio model on)
  RangeJudgement range;    // its figures, when rated
  bool encrypted = false;  // his key differs from ours on a radio we listen on (when rated)

  // A local radio receives him: audible, and with the radio model on, below the gain limit.
  bool Receivable(float gainLimit) const { return audible && (!rated || range.gain < gainLimit); }
};

// In the voice path's order: IsAudible; with the radio model on (attenuation) and only when
// audible, the range and gain model (JudgeRange) and IsEncrypted, all on the one snapshot local
// of the local station. remote's distance is updated.
Reception JudgeReception(CHalcyra& model, const StationRecord& local, StationRecord& remote, bool attenuation,
                         float gainLimit);
// The same on a snapshot it takes itself.
Reception JudgeReception(CHalcyra& model, StationRecord& remote, bool attenuation, float gainLimit);

}  // namespace halcyra
