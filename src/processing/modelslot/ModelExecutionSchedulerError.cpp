#include "processing/modelslot/ModelExecutionSchedulerError.h"

namespace velnote {

namespace {

const char* describe(ModelExecutionSchedulerError::Kind kind) {
    switch (kind) {
    case ModelExecutionSchedulerError::Kind::droppedLowPriorityTask:
        break;
    }
    return "モデル実行キューが過負荷のため、低優先度タスクを破棄しました。";
}

} // namespace

ModelExecutionSchedulerError::ModelExecutionSchedulerError(Kind kind)
    : std::runtime_error(describe(kind)), kind_(kind) {}

} // namespace velnote
