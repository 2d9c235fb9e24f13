#pragma once

#include "summary/core/SummaryInputs.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Source chunks cut along the recording's time line: each chunk holds what was
// said or shown during one stretch, from the transcript, the live transcript
// and the screen text together, grouped by source with clock times, under the
// byte limit, and opening with the entries of the last tenth of the previous
// stretch. Labels name the stretch ("時間帯 00:10:00 - 00:19:58"). Stateless.
namespace velnote::SummaryContextBuilder {

// Source text → the stretch's entries of that source, in arrival order.
using EntryGroups = std::map<std::string, std::vector<TimestampedEntry>>;

// The chunks in time order. An entry whose block alone exceeds the limit is a
// chunk of its own, never split. `maxOCRChunks` plays no part here.
std::vector<SummarySourceChunk>
buildTimeAlignedSourceChunks(const std::vector<TimestampedEntry>& transcriptEntries,
                             const std::vector<TimestampedEntry>& liveEntries,
                             const std::vector<TimestampedEntry>& ocrEntries,
                             std::int64_t sourceChunkByteLimit, std::int64_t maxOCRChunks);

// Closes the current stretch into `chunks` (nothing without a start) and keeps
// in `groups` the entries of its last `overlapFraction` as the next stretch's
// opening; with nothing kept the stretch is reset.
void appendCurrentChunkIfNeeded(std::vector<SummarySourceChunk>& chunks, EntryGroups& groups,
                                std::optional<float>& currentStart, float& currentEnd, float overlapFraction);

// The entries starting at or after `overlapStart`; emptied groups removed.
EntryGroups retainOverlapEntries(const EntryGroups& groups, float overlapStart);

// One block per group, transcript, live transcript, then screen text:
// "【source】" and a "[hh:mm:ss] text" line per entry; blocks separated by an
// empty line.
std::string buildChunkText(const EntryGroups& groups);

// Whole seconds (floored, negative as 0) as "%02d:%02d:%02d"; hours are not
// wrapped ("100:00:00").
std::string formatClock(float seconds);

} // namespace velnote::SummaryContextBuilder
