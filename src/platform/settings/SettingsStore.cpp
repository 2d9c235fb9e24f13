#include "platform/settings/SettingsStore.h"

#include "platform/fs/AppFolders.h"
#include "platform/settings/SettingsLog.h"

#include <algorithm>
#include <condition_variable>
#include <thread>
#include <utility>
#include <vector>

namespace velnote::platform {

namespace fs = std::filesystem;

// The subscribers, shared with their tokens so that a token may outlive the store.
class SettingsStore::Observers {
  public:
    std::uint64_t add(Observer observer) {
        std::lock_guard lock(mutex_);
        const std::uint64_t id = nextId_++;
        entries_.push_back({id, std::make_shared<const Observer>(std::move(observer))});
        return id;
    }

    // After this returns the observer is never called again, and no call of it
    // is running on another thread. A call on this thread (the observer
    // unsubscribing itself) is left to finish.
    void remove(std::uint64_t id) {
        std::unique_lock lock(mutex_);
        std::erase_if(entries_, [id](const Entry& e) { return e.id == id; });
        const auto self = std::this_thread::get_id();
        idle_.wait(lock, [&] {
            return std::none_of(running_.begin(), running_.end(),
                                [&](const Running& r) { return r.id == id && r.thread != self; });
        });
    }

    void notify(const std::string& key) {
        std::vector<Entry> snapshot;
        {
            std::lock_guard lock(mutex_);
            snapshot = entries_;
        }
        for (const Entry& entry : snapshot) {
            if (!begin(entry.id))
                continue;
            try {
                (*entry.observer)(key);
            } catch (const std::exception& e) {
                settingsLogger().error("settings observer failed for {}: {}", key, e.what());
            }
            end(entry.id);
        }
    }

  private:
    struct Entry {
        std::uint64_t id;
        std::shared_ptr<const Observer> observer;
    };
    struct Running {
        std::uint64_t id;
        std::thread::id thread;
    };

    // False when the observer was removed since the snapshot.
    bool begin(std::uint64_t id) {
        std::lock_guard lock(mutex_);
        if (std::none_of(entries_.begin(), entries_.end(), [id](const Entry& e) { return e.id == id; })) {
            return false;
        }
        running_.push_back({id, std::this_thread::get_id()});
        return true;
    }

    void end(std::uint64_t id) {
        {
            std::lock_guard lock(mutex_);
            const auto self = std::this_thread::get_id();
            const auto it = std::find_if(running_.begin(), running_.end(),
                                         [&](const Running& r) { return r.id == id && r.thread == self; });
            running_.erase(it);
        }
        idle_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable idle_;
    std::uint64_t nextId_ = 1;
    std::vector<Entry> entries_;
    std::vector<Running> running_;
};

SettingsStore::SettingsStore(fs::path file)
    : file_(std::move(file)), observers_(std::make_shared<Observers>()) {
    values_ = file_.load();
}

SettingsStore::~SettingsStore() = default;

SettingsStore& SettingsStore::standard() {
    static SettingsStore store(standardPath());
    return store;
}

fs::path SettingsStore::standardPath() {
    return requiredConfigDirectory() / "settings.json";
}

void SettingsStore::registerDefaults(const SettingsDictionary& defaults) {
    std::vector<std::string> changed;
    {
        std::unique_lock lock(mutex_);
        for (const auto& [key, value] : defaults) {
            const auto previous = lookup(key);
            registered_.insert_or_assign(key, value);
            if (previous != lookup(key))
                changed.push_back(key);
        }
    }
    for (const auto& key : changed)
        observers_->notify(key);
}

std::optional<SettingsValue> SettingsStore::lookup(std::string_view key) const {
    if (auto it = values_.find(key); it != values_.end())
        return it->second;
    if (auto it = registered_.find(key); it != registered_.end())
        return it->second;
    return std::nullopt;
}

std::optional<SettingsValue> SettingsStore::object(std::string_view key) const {
    std::shared_lock lock(mutex_);
    return lookup(key);
}

std::optional<std::string> SettingsStore::string(std::string_view key) const {
    const auto value = object(key);
    return value ? value->coercedString() : std::nullopt;
}

std::int64_t SettingsStore::integer(std::string_view key) const {
    const auto value = object(key);
    return value ? value->coercedInteger() : 0;
}

double SettingsStore::doubleValue(std::string_view key) const {
    const auto value = object(key);
    return value ? value->coercedDouble() : 0.0;
}

bool SettingsStore::boolean(std::string_view key) const {
    const auto value = object(key);
    return value && value->coercedBool();
}

template <class T> std::optional<T> SettingsStore::typed(std::string_view key) const {
    std::shared_lock lock(mutex_);
    const auto value = lookup(key);
    if (!value || !value->holds<T>())
        return std::nullopt;
    return *value->get<T>();
}

std::optional<SettingsData> SettingsStore::data(std::string_view key) const {
    return typed<SettingsData>(key);
}

std::optional<SettingsDate> SettingsStore::date(std::string_view key) const {
    return typed<SettingsDate>(key);
}

std::optional<SettingsArray> SettingsStore::array(std::string_view key) const {
    return typed<SettingsArray>(key);
}

std::optional<SettingsDictionary> SettingsStore::dictionary(std::string_view key) const {
    return typed<SettingsDictionary>(key);
}

void SettingsStore::set(std::string_view key, SettingsValue value) {
    Change change;
    {
        std::unique_lock lock(mutex_);
        const auto previous = lookup(key);
        auto it = values_.find(key);
        change.stored = it == values_.end() || !(it->second == value);
        change.visible = previous != value;
        if (change.stored) {
            values_.insert_or_assign(std::string(key), std::move(value));
            ++generation_;
        }
    }
    commit(std::string(key), change);
}

void SettingsStore::remove(std::string_view key) {
    Change change;
    {
        std::unique_lock lock(mutex_);
        const auto it = values_.find(key);
        if (it == values_.end())
            return;
        const auto previous = std::move(it->second);
        values_.erase(it);
        ++generation_;
        change.stored = true;
        change.visible = previous != lookup(key);
    }
    commit(std::string(key), change);
}

void SettingsStore::commit(const std::string& key, Change change) {
    if (change.stored)
        persist();
    if (change.visible)
        observers_->notify(key);
}

void SettingsStore::persist() {
    std::lock_guard writeLock(writeMutex_);
    std::string text;
    std::uint64_t generation = 0;
    {
        std::shared_lock lock(mutex_);
        if (generation_ == savedGeneration_)
            return; // a later writer already saved this state
        text = SettingsFile::encode(values_);
        generation = generation_;
    }
    try {
        file_.save(text);
        savedGeneration_ = generation;
    } catch (const std::exception& e) {
        settingsLogger().error("cannot save settings {}: {}", file_.path().string(), e.what());
    }
}

SettingsStore::ObserverToken SettingsStore::observe(Observer observer) {
    const std::uint64_t id = observers_->add(std::move(observer));
    return ObserverToken([observers = std::weak_ptr<Observers>(observers_), id] {
        if (auto owner = observers.lock())
            owner->remove(id);
    });
}

} // namespace velnote::platform
