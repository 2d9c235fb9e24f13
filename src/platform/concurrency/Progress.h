#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace velnote::platform {

// A count of work done out of a total, which callers may watch while the work goes on. A child
// progress stands for `pendingUnitCount` of its parent's units: while it runs its fraction counts
// towards the parent's, and once it finishes those units are added to the parent's completed count.
//
// Every operation may come from any thread; children may be added and completed concurrently.
// A child holds its parent weakly, so a parent that is dropped (replaced by a fresh one) simply
// stops hearing from it.
class Progress : public std::enable_shared_from_this<Progress> {
  public:
    // A progress with no units (not finished).
    static std::shared_ptr<Progress> make(std::int64_t totalUnitCount = 0);

    std::int64_t totalUnitCount() const;
    void setTotalUnitCount(std::int64_t count);
    std::int64_t completedUnitCount() const;
    void setCompletedUnitCount(std::int64_t count);

    // Hangs `child` under this progress. A child that already has a parent, or is this progress or
    // one of its ancestors, is not added.
    void addChild(const std::shared_ptr<Progress>& child, std::int64_t pendingUnitCount);

    // Completed units plus the share of running children, over the total; 0 without a total, at
    // most 1.
    double fractionCompleted() const;
    // True once there is a total and the completed count has reached it.
    bool isFinished() const;

  protected:
    Progress() = default;

  private:
    struct Child {
        std::shared_ptr<Progress> progress;
        std::int64_t pendingUnitCount;
    };

    // Called by a child that has just finished.
    void childFinished(const Progress* child);
    // Tells the parent when this progress has just become finished.
    void notifyIfFinished(bool wasFinished);
    bool isFinishedLocked() const { return total_ > 0 && completed_ >= total_; }

    mutable std::mutex mutex_; // guards the fields below; never held while another lock is taken
    std::int64_t total_ = 0;
    std::int64_t completed_ = 0;
    std::vector<Child> children_; // running children
    std::weak_ptr<Progress> parent_;
    bool hasParent_ = false;
};

} // namespace velnote::platform
