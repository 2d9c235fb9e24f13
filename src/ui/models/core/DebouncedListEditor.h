#pragma once

#include "platform/concurrency/Executor.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/concurrency/TimerScheduler.h"
#include "platform/text/Uuid.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace velnote {

// Where a list editor's saves wait and run.
struct ListEditorDependencies {
    platform::TimerScheduler* timers = nullptr; // TimerScheduler::shared()
    platform::MainDispatcher* main = nullptr;   // MainDispatcher::shared(): where the delay ends
    platform::Executor* background = nullptr;   // the shared pool: where the write runs
};

// A list the user edits in a window and that is stored whole, half a second after the last
// change: each change cancels the pending save and plans a new one with a copy of the list as it
// now is; the write itself runs on the shared pool, never on the main thread. Writes are ordered:
// a write that starts late never replaces a newer list with an older one. flushPendingSave()
// writes a planned save at once (the application calls it when it quits, so the last edit is not
// lost). Main thread only, apart from the writes.
template <class Entry> class DebouncedListEditor {
  public:
    static constexpr std::chrono::milliseconds kSaveDelay{500};

    using Save = std::function<void(const std::vector<Entry>&)>;

    using Dependencies = ListEditorDependencies;

    DebouncedListEditor(std::vector<Entry> entries, Save save, Dependencies dependencies)
        : entries_(std::move(entries)), writer_(std::make_shared<Writer>(std::move(save))),
          dependencies_(withDefaults(dependencies)) {}
    ~DebouncedListEditor() = default;
    DebouncedListEditor(const DebouncedListEditor&) = delete;
    DebouncedListEditor& operator=(const DebouncedListEditor&) = delete;

    const std::vector<Entry>& entries() const { return entries_; }
    // Whether a save is planned and not yet handed to the pool.
    bool hasPendingSave() const { return pendingSave_.isActive(); }

    // Writes the planned save now, on the calling thread, when one is planned or queued.
    void flushPendingSave() {
        pendingSave_.cancel();
        writer_->write(generation_, entries_);
    }

  protected:
    std::vector<Entry>& mutableEntries() { return entries_; }

    // The entry with `id`, or nullptr.
    Entry* find(const platform::Uuid& id) {
        const auto it =
            std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.id == id; });
        return it == entries_.end() ? nullptr : &*it;
    }

    // Removes every entry with `id`, keeping the order of the others, then saves.
    void removeEntry(const platform::Uuid& id) {
        std::erase_if(entries_, [&](const Entry& e) { return e.id == id; });
        save();
    }

    // Plans the write of the list as it is now, replacing the write planned before.
    void save() {
        const std::uint64_t generation = ++generation_;
        std::shared_ptr<Writer> writer = writer_;
        platform::Executor* background = dependencies_.background;
        pendingSave_ = dependencies_.timers->once(
            kSaveDelay, *dependencies_.main, [writer, background, generation, copy = entries_]() {
                background->post([writer, generation, copy] { writer->write(generation, copy); });
            });
    }

  private:
    // Shared with the writes in flight, which may outlive the editor.
    class Writer {
      public:
        explicit Writer(Save save) : save_(std::move(save)) {}
        void write(std::uint64_t generation, const std::vector<Entry>& entries) {
            std::lock_guard lock(mutex_);
            if (generation <= written_)
                return;
            save_(entries);
            written_ = generation;
        }

      private:
        std::mutex mutex_;
        std::uint64_t written_ = 0; // the newest generation stored
        Save save_;
    };

    static Dependencies withDefaults(Dependencies d) {
        if (d.timers == nullptr)
            d.timers = &platform::TimerScheduler::shared();
        if (d.main == nullptr)
            d.main = &platform::MainDispatcher::shared();
        if (d.background == nullptr)
            d.background = &platform::ThreadPool::shared().executor(platform::Priority::utility);
        return d;
    }

    std::vector<Entry> entries_;
    std::uint64_t generation_ = 0; // of the latest change; 0 = nothing to store
    std::shared_ptr<Writer> writer_;
    Dependencies dependencies_;
    platform::Timer pendingSave_; // last: cancelled before the members above go
};

} // namespace velnote
