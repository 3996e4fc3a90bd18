#pragma once

#include <cstdint>

#include "transport/BootCommandExecutor.h"

namespace orv {

// What the two local transports do differently while they carry the same commands out, side by
// side so that every difference reads in one place.
// The route's engine hands frames on at once: a pause after every segment, none around polls.
// A poll empties the queue first, then gives the node longer to answer.
inline constexpr uint32_t kRoutePollExtraMs = 10000;
inline constexpr uint32_t kRouteSegmentGapMs = 1;

// A card pauses around polls: the answer to a poll is read from whatever its ring holds by
// then, and the node gets a moment before it jumps to its application.
inline constexpr uint32_t kCardPollAnswerDelayMs = 300;
inline constexpr uint32_t kCardBeforeJumpMs = 50;

inline constexpr ExecutionPolicy kRouteExecution = {
    .pollWaitExtraMs = kRoutePollExtraMs,
    .variant1SegmentGapMs = kRouteSegmentGapMs,
    .segmentTail = SegmentTail::kZeros,
    // A poll left unanswered while the node programs is asked again at once.
    .programWait = ProgramWait::kRepollMissesAtOnce,
};

inline constexpr ExecutionPolicy kCardExecution = {
    .pollAnswerDelayMs = kCardPollAnswerDelayMs,
    // A poll's answer is awaited like any other reply.
    .pollWaitExtraMs = kNoPause,
    .beforeJumpMs = kCardBeforeJumpMs,
    // A card's writes pace the segments of variant 1 by themselves.
    .variant1SegmentGapMs = kNoPause,
    // A short last segment carries the bytes of the one before after its data.
    .segmentTail = SegmentTail::kPreviousBytes,
    // An unanswered poll during programming leaves the node as busy as it last said.
    .programWait = ProgramWait::kKeepLastAnswer,
};

}  // namespace orv
