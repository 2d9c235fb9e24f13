#include "summary/context/TimeAlignedChunking.h"

#include "summary/context/SummaryContextBuilder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace velnote::SummaryContextBuilder {

namespace {

// Past this a float of seconds is no clock any more; clamping keeps the
// conversion to an integer defined (about 2.5 million hours).
constexpr double kLargestClockSeconds = 9.0e9;

std::int64_t wholeSeconds(float seconds) {
    const double floored = std::floor(static_cast<double>(seconds));
    if (!(floored > 0))
        return 0; // negative, zero or not a number
    return static_cast<std::int64_t>(std::min(floored, kLargestClockSeconds));
}

std::size_t clockLength(float seconds) {
    std::int64_t hours = wholeSeconds(seconds) / 3600;
    std::size_t digits = 1;
    while (hours >= 10) {
        hours /= 10;
        ++digits;
    }
    return std::max<std::size_t>(digits, 2) + 6;
}

std::array<std::string, 3> sourceOrder() {
    return {conversationRecordLabel(), liveTranscriptLabel(), std::string(kScreenOCRSource)};
}

// The byte size of buildChunkText(groups), without building it.
std::size_t renderedSize(const EntryGroups& groups, const std::array<std::string, 3>& order) {
    std::size_t size = 0;
    std::size_t blocks = 0;
    for (const std::string& source : order) {
        const auto group = groups.find(source);
        if (group == groups.end() || group->second.empty())
            continue;
        size += (blocks++ > 0 ? 2 : 0) + source.size() + 6; // "【" and "】" are 3 bytes each
        for (const TimestampedEntry& entry : group->second)
            size += 1 + 1 + clockLength(entry.startTime) + 2 + entry.text.size();
    }
    return size;
}

std::string chunkLabel(float start, float end) {
    if (start < end)
        return "時間帯 " + formatClock(start) + " - " + formatClock(end);
    return "時間帯 " + formatClock(start);
}

std::size_t entryCount(const EntryGroups& groups) {
    std::size_t count = 0;
    for (const auto& [source, entries] : groups)
        count += entries.size();
    return count;
}

} // namespace

std::vector<SummarySourceChunk>
buildTimeAlignedSourceChunks(const std::vector<TimestampedEntry>& transcriptEntries,
                             const std::vector<TimestampedEntry>& liveEntries,
                             const std::vector<TimestampedEntry>& ocrEntries,
                             std::int64_t sourceChunkByteLimit, std::int64_t /*maxOCRChunks*/) {
    std::vector<TimestampedEntry> all = transcriptEntries;
    all.insert(all.end(), liveEntries.begin(), liveEntries.end());
    all.insert(all.end(), ocrEntries.begin(), ocrEntries.end());
    std::stable_sort(all.begin(), all.end(), [](const TimestampedEntry& a, const TimestampedEntry& b) {
        if (a.startTime != b.startTime)
            return a.startTime < b.startTime;
        return a.source < b.source;
    });

    const std::array<std::string, 3> order = sourceOrder();
    std::vector<SummarySourceChunk> chunks;
    EntryGroups groups;
    std::optional<float> currentStart;
    float currentEnd = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const TimestampedEntry& entry = all[i];
        if (i == 0)
            currentStart = entry.startTime;
        const float previousEnd = currentEnd;
        currentEnd = std::max(currentEnd, entry.startTime);
        groups[entry.source].push_back(entry);
        const bool overflows =
            static_cast<std::int64_t>(renderedSize(groups, order)) > sourceChunkByteLimit &&
            entryCount(groups) > 1;
        if (!overflows)
            continue;
        groups[entry.source].pop_back();
        currentEnd = previousEnd;
        appendCurrentChunkIfNeeded(chunks, groups, currentStart, currentEnd, 0.1f);
        groups[entry.source] = {entry};
        currentStart = entry.startTime;
        currentEnd = entry.startTime;
    }
    appendCurrentChunkIfNeeded(chunks, groups, currentStart, currentEnd, 0);
    return chunks;
}

void appendCurrentChunkIfNeeded(std::vector<SummarySourceChunk>& chunks, EntryGroups& groups,
                                std::optional<float>& currentStart, float& currentEnd,
                                float overlapFraction) {
    if (!currentStart)
        return;
    chunks.push_back({.label = chunkLabel(*currentStart, currentEnd), .text = buildChunkText(groups)});
    if (overlapFraction > 0 && *currentStart < currentEnd) {
        float overlapStart = currentEnd - overlapFraction * std::max(currentEnd - *currentStart, 0.1f);
        overlapStart = std::max(overlapStart, *currentStart);
        groups = retainOverlapEntries(groups, overlapStart);
        if (!groups.empty()) {
            float first = currentEnd;
            float last = *currentStart;
            for (const auto& [source, entries] : groups) {
                for (const TimestampedEntry& entry : entries) {
                    first = std::min(first, entry.startTime);
                    last = std::max(last, entry.startTime);
                }
            }
            currentStart = first;
            currentEnd = last;
            return;
        }
    }
    groups.clear();
    currentStart.reset();
    currentEnd = 0;
}

EntryGroups retainOverlapEntries(const EntryGroups& groups, float overlapStart) {
    EntryGroups kept;
    for (const auto& [source, entries] : groups) {
        std::vector<TimestampedEntry> late;
        std::copy_if(entries.begin(), entries.end(), std::back_inserter(late),
                     [&](const TimestampedEntry& entry) { return entry.startTime >= overlapStart; });
        if (!late.empty())
            kept.emplace(source, std::move(late));
    }
    return kept;
}

std::string buildChunkText(const EntryGroups& groups) {
    std::string text;
    for (const std::string& source : sourceOrder()) {
        const auto group = groups.find(source);
        if (group == groups.end() || group->second.empty())
            continue;
        if (!text.empty())
            text += "\n\n";
        text += "【" + source + "】";
        for (const TimestampedEntry& entry : group->second)
            text += "\n[" + formatClock(entry.startTime) + "] " + entry.text;
    }
    return text;
}

std::string formatClock(float seconds) {
    const std::int64_t s = wholeSeconds(seconds);
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s % 3600 / 60), static_cast<long long>(s % 60));
    return text;
}

} // namespace velnote::SummaryContextBuilder
