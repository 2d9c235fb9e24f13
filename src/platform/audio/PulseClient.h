#pragma once

#include "platform/audio/AudioFormat.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velnote::platform {

// What the sound server says about itself.
struct AudioServerInfo {
    std::string defaultSinkName;   // empty when there is no default output
    std::string defaultSourceName; // empty when there is no default input
};

enum class AudioSourceState { running, idle, suspended, unknown };

// One input of the sound server: a capture device, or the monitor of an output.
struct AudioSourceInfo {
    std::uint32_t index = 0; // valid while the source exists; 0 is a valid index
    std::string name;        // stable across restarts: what the settings store as the device UID
    std::string description; // for people; may be empty
    AudioFormat format;      // the source's own rate and channel count
    bool isMonitor = false;  // the monitor of an output
    AudioSourceState state = AudioSourceState::unknown;
};

struct AudioSinkInfo {
    std::uint32_t index = 0;
    std::string name;
    std::string monitorSourceName; // the source that carries what the sink plays
};

// One recording stream of some client, attached to a source.
struct AudioSourceOutputInfo {
    std::uint32_t index = 0;
    std::uint32_t sourceIndex = 0;
    std::optional<std::int64_t> processId; // of the client that opened it, when it says
    bool corked = false;                   // paused: attached but not capturing
    std::string applicationName;
    std::string resampleMethod; // "peaks" for level meters of mixer applications
};

// What a subscription reports; each event only says that something of that kind changed.
enum class AudioServerEvent { server, source, sourceOutput };

struct AudioServerSubscription {
    bool server = false;        // defaults and server settings
    bool sources = false;       // sources added, removed, changed (state)
    bool sourceOutputs = false; // recording streams added, removed, changed (corked)
};

struct AudioRecordRequest {
    // The source to read; none = the server's default source, and the stream follows it when the
    // default changes (reported as `moved`).
    std::optional<std::string> sourceName;
    std::string streamName;
    // Stream properties for the server, e.g. {"filter.want", "echo-cancel"}.
    std::vector<std::pair<std::string, std::string>> properties;
    std::chrono::milliseconds fragment{100}; // how much audio each delivery carries
};

// Called on the client's event thread with its lock held: copy or hand off, never block, never
// call back into the client or destroy the stream from there.
struct AudioRecordHandlers {
    // A block of whole frames in the stream's format (the source's own rate and channels).
    std::function<void(std::vector<float>&& interleaved, const AudioFormat& format)> data;
    // The stream ended on the server's side (server gone, source removed); the reason in words.
    std::function<void(const std::string& reason)> failed;
    // The server moved the stream to another source, named here.
    std::function<void(const std::string& sourceName)> moved;
};

class PulseClient;

// A running record stream. Destroying it ends the stream; after the destructor returns no handler
// runs. Must not be destroyed on the client's event thread.
class AudioRecordStream {
  public:
    ~AudioRecordStream();
    AudioRecordStream(const AudioRecordStream&) = delete;
    AudioRecordStream& operator=(const AudioRecordStream&) = delete;

    const AudioFormat& format() const;
    // The source the stream reads since it started.
    const std::string& sourceName() const;

    struct Impl;

  private:
    friend class PulseClient;
    explicit AudioRecordStream(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// One connection to the PulseAudio sound server (PipeWire serves the same protocol), with its own
// event thread. The server is the one PULSE_SERVER names, else the user's own; none is spawned.
//
// Requests block the caller until the server answers or `timeout` passes; they must not be made
// on the event thread (from a handler). A lost connection is reported once to the disconnect
// handler; connect() then makes a new one. Thread-safe.
class PulseClient {
  public:
    struct Options {
        std::string clientName = "Hushtape";
        std::chrono::milliseconds timeout{5000}; // for connecting and for each request
    };

    explicit PulseClient(Options options);
    PulseClient();
    // Disconnects. Streams opened through this client stay valid until they are destroyed.
    ~PulseClient();
    PulseClient(const PulseClient&) = delete;
    PulseClient& operator=(const PulseClient&) = delete;

    // Connects when not connected. Throws AudioServerError.
    void connect();
    bool isConnected() const;

    // Called on the event thread (lock held, see AudioRecordHandlers) when an established
    // connection is lost.
    void setDisconnectHandler(std::function<void()> handler);
    // Called on the event thread for every event of the subscription.
    void setEventHandler(std::function<void(AudioServerEvent)> handler);
    // Replaces the subscription of the current connection (a new connection starts with none).
    void subscribe(const AudioServerSubscription& subscription);

    // Requests; each throws AudioServerError, also when not connected.
    AudioServerInfo serverInfo();
    std::vector<AudioSourceInfo> sources();
    std::optional<AudioSourceInfo> source(const std::string& name);
    std::optional<AudioSinkInfo> sink(const std::string& name);
    std::vector<AudioSourceOutputInfo> sourceOutputs();
    bool hasModule(const std::string& moduleName);

    // Opens a record stream of 32-bit float samples in the source's own rate and channel count,
    // and waits until it runs. Throws AudioServerError (no such source, refused, timed out).
    std::unique_ptr<AudioRecordStream> openRecordStream(const AudioRecordRequest& request,
                                                        AudioRecordHandlers handlers);

    struct Core;

  private:
    std::shared_ptr<Core> core_;
};

} // namespace velnote::platform
