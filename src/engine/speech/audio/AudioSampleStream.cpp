#include "engine/speech/audio/AudioSampleStream.h"

#include <utility>

namespace vocalith {

struct AudioSampleStream::State {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::vector<float>> arrays;
    bool ended = false;
    std::exception_ptr error;
    std::function<void()> onTermination;

    // Marks the stream ended; the handler to run (outside the lock) when this call ended it.
    std::function<void()> end(std::exception_ptr failure) {
        std::lock_guard lock(mutex);
        if (ended)
            return {};
        ended = true;
        error = std::move(failure);
        ready.notify_all();
        return std::exchange(onTermination, {});
    }

    std::optional<std::vector<float>> take(std::unique_lock<std::mutex>& lock) {
        (void)lock;
        if (!arrays.empty()) {
            auto front = std::move(arrays.front());
            arrays.pop_front();
            return front;
        }
        if (ended && error)
            std::rethrow_exception(error);
        return std::nullopt;
    }
};

std::pair<std::unique_ptr<AudioSampleStream>, std::shared_ptr<AudioSampleStream::Continuation>>
AudioSampleStream::make() {
    auto state = std::make_shared<State>();
    return {std::unique_ptr<AudioSampleStream>(new AudioSampleStream(state)),
            std::shared_ptr<Continuation>(new Continuation(state))};
}

AudioSampleStream::AudioSampleStream(std::shared_ptr<State> state) : state_(std::move(state)) {}

AudioSampleStream::~AudioSampleStream() {
    if (auto handler = state_->end(nullptr))
        handler();
}

std::optional<std::vector<float>> AudioSampleStream::next() {
    std::unique_lock lock(state_->mutex);
    state_->ready.wait(lock, [&] { return !state_->arrays.empty() || state_->ended; });
    return state_->take(lock);
}

std::optional<std::vector<float>> AudioSampleStream::tryNext() {
    std::unique_lock lock(state_->mutex);
    return state_->take(lock);
}

AudioSampleStream::Continuation::Continuation(std::shared_ptr<State> state) : state_(std::move(state)) {}

void AudioSampleStream::Continuation::yield(std::vector<float> samples) {
    std::lock_guard lock(state_->mutex);
    if (state_->ended)
        return;
    state_->arrays.push_back(std::move(samples));
    state_->ready.notify_one();
}

void AudioSampleStream::Continuation::finish(std::exception_ptr error) {
    if (auto handler = state_->end(std::move(error)))
        handler();
}

void AudioSampleStream::Continuation::setOnTermination(std::function<void()> handler) {
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->ended) {
            state_->onTermination = std::move(handler);
            return;
        }
    }
    if (handler)
        handler();
}

} // namespace vocalith
