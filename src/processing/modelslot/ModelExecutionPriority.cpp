#include "processing/modelslot/ModelExecutionPriority.h"

namespace velnote {

std::string_view name(ModelExecutionPriority priority) {
    switch (priority) {
    case ModelExecutionPriority::remoteSummary:
        return "remoteSummary";
    case ModelExecutionPriority::localSummary:
        return "localSummary";
    case ModelExecutionPriority::appleLocal:
        return "appleLocal";
    case ModelExecutionPriority::whisper:
        return "whisper";
    }
    return "unknown";
}

bool isLowAdmissionClass(ModelExecutionPriority priority) {
    return priority == ModelExecutionPriority::localSummary || priority == ModelExecutionPriority::appleLocal;
}

} // namespace velnote
