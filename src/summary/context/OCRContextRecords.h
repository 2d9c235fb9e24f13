#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// One record of "ocr_context.jsonl" as the summary reads it: the screenshot's
// file name, its recognised text and its time from the recording start
// ("mm:ss"). Other keys ("is_manual", "results") are not needed here.
struct OCRContextRecord {
    std::string filename;
    std::string text;
    std::string timestamp;

    bool operator==(const OCRContextRecord&) const = default;
};

// The records of the lines of `ocrContext` that are JSON objects with the
// string keys "filename", "text" and "timestamp"; any other line is skipped.
std::vector<OCRContextRecord> parseOCRContextRecords(std::string_view ocrContext);

} // namespace velnote
