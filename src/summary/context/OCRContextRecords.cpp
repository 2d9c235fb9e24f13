#include "summary/context/OCRContextRecords.h"

#include "platform/json/Json.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"

namespace velnote {

std::vector<OCRContextRecord> parseOCRContextRecords(std::string_view ocrContext) {
    std::vector<OCRContextRecord> records;
    platform::forEachPiece(ocrContext, "\n", [&records](std::string_view rawLine) {
        const std::string line = platform::trimWhitespace(rawLine);
        if (line.empty() || line.front() != '{')
            return;
        try {
            const platform::Json json = platform::parseJson(line);
            records.push_back({.filename = platform::required<std::string>(json, "filename"),
                               .text = platform::required<std::string>(json, "text"),
                               .timestamp = platform::required<std::string>(json, "timestamp")});
        } catch (const platform::JsonDecodeError&) {
            // A torn last line of a recording that stopped mid-write, or a block line.
        }
    });
    return records;
}

} // namespace velnote
