#include "platform/concurrency/Progress.h"

#include <algorithm>
#include <limits>

namespace velnote::platform {

namespace {
std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    if (b > 0 && a > std::numeric_limits<std::int64_t>::max() - b)
        return std::numeric_limits<std::int64_t>::max();
    if (b < 0 && a < std::numeric_limits<std::int64_t>::min() - b)
        return std::numeric_limits<std::int64_t>::min();
    return a + b;
}
} // namespace

std::shared_ptr<Progress> Progress::make(std::int64_t totalUnitCount) {
    std::shared_ptr<Progress> progress(new Progress);
    progress->total_ = totalUnitCount;
    return progress;
}

std::int64_t Progress::totalUnitCount() const {
    std::lock_guard lock(mutex_);
    return total_;
}

void Progress::setTotalUnitCount(std::int64_t count) {
    bool wasFinished = false;
    {
        std::lock_guard lock(mutex_);
        wasFinished = isFinishedLocked();
        total_ = count;
    }
    notifyIfFinished(wasFinished);
}

std::int64_t Progress::completedUnitCount() const {
    std::lock_guard lock(mutex_);
    return completed_;
}

void Progress::setCompletedUnitCount(std::int64_t count) {
    bool wasFinished = false;
    {
        std::lock_guard lock(mutex_);
        wasFinished = isFinishedLocked();
        completed_ = count;
    }
    notifyIfFinished(wasFinished);
}

void Progress::addChild(const std::shared_ptr<Progress>& child, std::int64_t pendingUnitCount) {
    if (!child)
        return;
    // Refuse cycles: walk up from this progress (one lock at a time).
    for (auto ancestor = shared_from_this(); ancestor;) {
        if (ancestor == child)
            return;
        std::lock_guard lock(ancestor->mutex_);
        auto next = ancestor->parent_.lock();
        ancestor = std::move(next);
    }
    bool finishedAlready = false;
    {
        std::lock_guard lock(child->mutex_);
        if (child->hasParent_)
            return;
        child->hasParent_ = true;
        child->parent_ = weak_from_this();
        finishedAlready = child->isFinishedLocked();
    }
    {
        std::lock_guard lock(mutex_);
        children_.push_back({child, pendingUnitCount});
    }
    if (finishedAlready)
        childFinished(child.get());
}

double Progress::fractionCompleted() const {
    std::int64_t total = 0;
    double done = 0;
    std::vector<Child> children;
    {
        std::lock_guard lock(mutex_);
        total = total_;
        done = static_cast<double>(completed_);
        children = children_;
    }
    if (total <= 0)
        return 0;
    for (const auto& child : children)
        done += static_cast<double>(child.pendingUnitCount) * child.progress->fractionCompleted();
    return std::clamp(done / static_cast<double>(total), 0.0, 1.0);
}

bool Progress::isFinished() const {
    std::lock_guard lock(mutex_);
    return isFinishedLocked();
}

void Progress::childFinished(const Progress* child) {
    bool wasFinished = false;
    {
        std::lock_guard lock(mutex_);
        const auto found = std::find_if(children_.begin(), children_.end(),
                                        [&](const Child& entry) { return entry.progress.get() == child; });
        if (found == children_.end())
            return;
        wasFinished = isFinishedLocked();
        completed_ = saturatingAdd(completed_, found->pendingUnitCount);
        children_.erase(found);
    }
    notifyIfFinished(wasFinished);
}

void Progress::notifyIfFinished(bool wasFinished) {
    std::shared_ptr<Progress> parent;
    {
        std::lock_guard lock(mutex_);
        if (wasFinished || !isFinishedLocked())
            return;
        parent = parent_.lock();
    }
    if (parent)
        parent->childFinished(this);
}

} // namespace velnote::platform
