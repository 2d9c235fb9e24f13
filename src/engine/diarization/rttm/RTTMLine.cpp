#include "engine/diarization/rttm/RTTMLine.h"

#include "platform/text/Whitespace.h"

#include <cstdio>

namespace diarith {
namespace {

std::string nameOfSpeaker(std::int64_t index) {
    if (index == -1)
        return "UNKNOWN";
    return std::string(1, static_cast<char>(65 + index % 26));
}

std::string threeDecimals(float value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.3f", static_cast<double>(value));
    return buffer;
}

struct Run {
    std::optional<std::int64_t> speaker;
    float start = 0;
    float end = 0;
    std::vector<std::string> texts;
};

void close(const Run& run, const std::string& fileName, std::vector<RTTMLine>& lines) {
    if (!run.speaker)
        return;
    std::string orthography;
    for (std::size_t i = 0; i < run.texts.size(); ++i)
        orthography += (i == 0 ? "" : " ") + run.texts[i];
    lines.emplace_back(fileName, *run.speaker, run.start, run.end - run.start, std::move(orthography));
}

} // namespace

RTTMLine::RTTMLine(std::string fileId, std::int64_t speakerId, float startTime, float duration,
                   std::string orthography)
    : fileId(std::move(fileId)), startTime(startTime), duration(duration),
      orthography(std::move(orthography)), speakerName(nameOfSpeaker(speakerId)) {}

std::string RTTMLine::description() const {
    return "SPEAKER " + fileId + " 1 " + threeDecimals(startTime) + " " + threeDecimals(duration) + " " +
           orthography + " <NA> " + speakerName + " <NA> <NA>";
}

std::vector<RTTMLine> RTTMLine::fromWords(const std::vector<WordWithSpeaker>& words,
                                          const std::string& fileName) {
    std::vector<RTTMLine> lines;
    Run run;
    for (const auto& word : words) {
        std::string text = velnote::platform::trimSpacesAndTabs(word.wordTiming.word);
        if (word.speaker == run.speaker) {
            run.texts.push_back(std::move(text));
        } else {
            close(run, fileName, lines);
            run = Run{.speaker = word.speaker,
                      .start = word.wordTiming.start,
                      .end = 0,
                      .texts = {std::move(text)}};
        }
        run.end = word.wordTiming.end;
    }
    close(run, fileName, lines);
    return lines;
}

std::vector<RTTMLine>
generateRTTM(const DiarizationResult& result, const SpeakerInfoStrategy& strategy,
             const std::optional<std::vector<vocalith::TranscriptionResultPtr>>& transcription,
             const std::string& fileName) {
    if (!transcription) {
        DiarizationResult rebuilt = result;
        rebuilt.updateSegments(0.0f);
        std::vector<RTTMLine> lines;
        for (const auto& turn : rebuilt.segments()) {
            lines.emplace_back(fileName, turn.speaker().speakerId().value_or(-1), turn.startTime(),
                               turn.endTime() - turn.startTime(), "<NA>");
        }
        return lines;
    }
    std::vector<WordWithSpeaker> words;
    for (const auto& turns : result.addSpeakerInfo(*transcription, strategy)) {
        for (const auto& turn : turns) {
            for (const auto& word : turn.speakerWords())
                words.push_back(
                    WordWithSpeaker{.wordTiming = word.wordTiming, .speaker = word.speaker.speakerId()});
        }
    }
    return RTTMLine::fromWords(words, fileName);
}

} // namespace diarith
