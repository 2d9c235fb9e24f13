#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace vocalith {

// A stream of captured sample arrays that may end with an error, buffered without limit: the
// consumer end of a live recording. The feeding end (`Continuation`) and the consumer may live on
// different threads.
//
// The stream ends once: when the feeding end finishes it, or when the consumer end is destroyed.
// Either way the termination handler runs once, on the thread that ended it, outside any lock.
class AudioSampleStream {
  public:
    class Continuation;

    // A new stream and its feeding end.
    static std::pair<std::unique_ptr<AudioSampleStream>, std::shared_ptr<Continuation>> make();

    // Ends the stream for the feeding end: later arrays are dropped.
    ~AudioSampleStream();
    AudioSampleStream(const AudioSampleStream&) = delete;
    AudioSampleStream& operator=(const AudioSampleStream&) = delete;

    // The next array, waiting for one; absent once the stream has finished and every array was
    // taken. Rethrows the error the stream finished with, after the arrays before it.
    std::optional<std::vector<float>> next();
    // The next array if one is waiting, without waiting; absent otherwise (see next for errors).
    std::optional<std::vector<float>> tryNext();

  private:
    struct State;
    explicit AudioSampleStream(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

class AudioSampleStream::Continuation {
  public:
    // Queues an array; dropped once the stream has ended.
    void yield(std::vector<float> samples);
    // Ends the stream, with an error when one is given.
    void finish(std::exception_ptr error = nullptr);
    // Runs when the stream ends (at once if it already has).
    void setOnTermination(std::function<void()> handler);

  private:
    friend class AudioSampleStream;
    explicit Continuation(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

} // namespace vocalith
