#include "platform/audio/PulseClient.h"

#include "platform/audio/AudioServerError.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pulse/pulseaudio.h>
#include <stdexcept>

namespace velnote::platform {

static_assert(AudioServerError::kNoSuchEntity == PA_ERR_NOENTITY);
static_assert(AudioServerError::kTimeout == PA_ERR_TIMEOUT);
static_assert(AudioServerError::kConnectionTerminated == PA_ERR_CONNECTIONTERMINATED);

namespace {

struct LoopDeleter {
    void operator()(pa_threaded_mainloop* loop) const {
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
    }
};
struct OperationDeleter {
    void operator()(pa_operation* operation) const { pa_operation_unref(operation); }
};
struct ProplistDeleter {
    void operator()(pa_proplist* list) const { pa_proplist_free(list); }
};
using OperationPtr = std::unique_ptr<pa_operation, OperationDeleter>;
using ProplistPtr = std::unique_ptr<pa_proplist, ProplistDeleter>;

AudioServerError serverError(const std::string& operation, int code) {
    return AudioServerError(operation, code, pa_strerror(code));
}

std::string text(const char* value) {
    return value ? value : "";
}

AudioSourceState sourceState(pa_source_state_t state) {
    switch (state) {
    case PA_SOURCE_RUNNING:
        return AudioSourceState::running;
    case PA_SOURCE_IDLE:
        return AudioSourceState::idle;
    case PA_SOURCE_SUSPENDED:
        return AudioSourceState::suspended;
    default:
        return AudioSourceState::unknown;
    }
}

AudioSourceInfo sourceInfo(const pa_source_info& info) {
    return AudioSourceInfo{.index = info.index,
                           .name = text(info.name),
                           .description = text(info.description),
                           .format = {info.sample_spec.rate, info.sample_spec.channels},
                           .isMonitor = info.monitor_of_sink != PA_INVALID_INDEX,
                           .state = sourceState(info.state)};
}

std::optional<std::int64_t> processId(const pa_proplist* properties) {
    const char* value = properties ? pa_proplist_gets(properties, PA_PROP_APPLICATION_PROCESS_ID) : nullptr;
    if (!value || !*value) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const long long pid = std::strtoll(value, &end, 10);
    if (errno != 0 || *end != '\0' || pid <= 0) {
        return std::nullopt;
    }
    return pid;
}

AudioSourceOutputInfo sourceOutputInfo(const pa_source_output_info& info) {
    const char* app = info.proplist ? pa_proplist_gets(info.proplist, PA_PROP_APPLICATION_NAME) : nullptr;
    return AudioSourceOutputInfo{.index = info.index,
                                 .sourceIndex = info.source,
                                 .processId = processId(info.proplist),
                                 .corked = info.corked != 0,
                                 .applicationName = text(app),
                                 .resampleMethod = text(info.resample_method)};
}

// The results of one list request, filled on the event thread.
template <class T> struct ListResult {
    std::vector<T> items;
    int error = 0;
};

template <class T, class Info, T (*convert)(const Info&)>
void collect(pa_context* context, const Info* info, int eol, void* userdata) {
    auto* result = static_cast<ListResult<T>*>(userdata);
    if (eol < 0) {
        result->error = pa_context_errno(context);
    } else if (eol == 0 && info) {
        result->items.push_back(convert(*info));
    }
}

AudioSinkInfo sinkInfo(const pa_sink_info& info) {
    return AudioSinkInfo{
        .index = info.index, .name = text(info.name), .monitorSourceName = text(info.monitor_source_name)};
}
std::string moduleName(const pa_module_info& info) {
    return text(info.name);
}

} // namespace

// The event loop and the current connection. Shared with the streams, so a stream may outlive its
// client. Every field below the loop is guarded by the loop's lock.
struct PulseClient::Core {
    explicit Core(Options options) : options(std::move(options)) {
        loop.reset(pa_threaded_mainloop_new());
        if (!loop) {
            throw std::runtime_error("cannot create the sound server event loop");
        }
        pa_threaded_mainloop_set_name(loop.get(), "velnote-pulse");
        if (pa_threaded_mainloop_start(loop.get()) < 0) {
            pa_threaded_mainloop_free(loop.release());
            throw std::runtime_error("cannot start the sound server event loop");
        }
    }

    ~Core() {
        {
            Lock lock(*this);
            dropContext();
        }
        loop.reset(); // stops the thread, so it must not hold the lock here
    }

    class Lock {
      public:
        explicit Lock(Core& core) : loop_(core.loop.get()) {
            if (pa_threaded_mainloop_in_thread(loop_)) {
                throw std::logic_error("sound server request made on its own event thread");
            }
            pa_threaded_mainloop_lock(loop_);
        }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        pa_threaded_mainloop* loop_;
    };

    void signal() { pa_threaded_mainloop_signal(loop.get(), 0); }

    // Lock held. Waits until `done()` or the timeout; true when done.
    template <class Done> bool waitUntil(Done done) {
        if (done()) {
            return true;
        }
        struct Alarm {
            Core* core;
            bool rang = false;
        } alarm{this};
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop.get());
        const auto usec = static_cast<pa_usec_t>(std::chrono::microseconds(options.timeout).count());
        timeval when{};
        pa_timeval_add(pa_gettimeofday(&when), usec);
        pa_time_event* event = api->time_new(
            api, &when,
            [](pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
                auto* a = static_cast<Alarm*>(userdata);
                a->rang = true;
                a->core->signal();
            },
            &alarm);
        while (!done() && !alarm.rang) {
            pa_threaded_mainloop_wait(loop.get());
        }
        api->time_free(event);
        return done();
    }

    bool ready() const { return context && pa_context_get_state(context) == PA_CONTEXT_READY; }

    void requireReady(const std::string& operation) const {
        if (!ready()) {
            throw serverError(operation, PA_ERR_CONNECTIONTERMINATED);
        }
    }

    int contextError() const {
        const int code = context ? pa_context_errno(context) : PA_ERR_CONNECTIONTERMINATED;
        return code == PA_OK ? PA_ERR_CONNECTIONTERMINATED : code;
    }

    // Lock held. Runs one request to its end; throws when it fails, is cancelled or times out.
    template <class Start> void run(const std::string& operation, Start start) {
        requireReady(operation);
        OperationPtr op(start(context));
        if (!op) {
            throw serverError(operation, contextError());
        }
        pa_operation_set_state_callback(
            op.get(), [](pa_operation*, void* userdata) { static_cast<Core*>(userdata)->signal(); }, this);
        const bool finished =
            waitUntil([&] { return pa_operation_get_state(op.get()) != PA_OPERATION_RUNNING; });
        if (!finished) {
            // Cancelling keeps the callbacks away from the caller's results.
            pa_operation_cancel(op.get());
            throw serverError(operation, PA_ERR_TIMEOUT);
        }
        pa_operation_set_state_callback(op.get(), nullptr, nullptr);
        if (pa_operation_get_state(op.get()) != PA_OPERATION_DONE) {
            throw serverError(operation, contextError());
        }
    }

    void dropContext() {
        if (!context) {
            return;
        }
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
        established = false;
    }

    static void onContextState(pa_context* context, void* userdata) {
        auto* core = static_cast<Core*>(userdata);
        const pa_context_state_t state = pa_context_get_state(context);
        if ((state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) && core->established) {
            core->established = false;
            if (core->disconnectHandler) {
                core->disconnectHandler();
            }
        }
        core->signal();
    }

    static void onSubscription(pa_context*, pa_subscription_event_type_t type, std::uint32_t,
                               void* userdata) {
        auto* core = static_cast<Core*>(userdata);
        if (!core->eventHandler) {
            return;
        }
        switch (type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) {
        case PA_SUBSCRIPTION_EVENT_SERVER:
            core->eventHandler(AudioServerEvent::server);
            break;
        case PA_SUBSCRIPTION_EVENT_SOURCE:
            core->eventHandler(AudioServerEvent::source);
            break;
        case PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT:
            core->eventHandler(AudioServerEvent::sourceOutput);
            break;
        default:
            break;
        }
    }

    Options options;
    std::unique_ptr<pa_threaded_mainloop, LoopDeleter> loop;
    pa_context* context = nullptr; // owned
    bool established = false;      // the current context reached READY and has not failed since
    std::function<void()> disconnectHandler;
    std::function<void(AudioServerEvent)> eventHandler;
};

struct AudioRecordStream::Impl {
    std::shared_ptr<PulseClient::Core> core;
    pa_stream* stream = nullptr; // owned
    AudioRecordHandlers handlers;
    AudioFormat format;
    std::string sourceName;
    bool running = false; // reached READY; a later end is reported as a failure

    static void onState(pa_stream* stream, void* userdata) {
        auto* impl = static_cast<Impl*>(userdata);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY) {
            impl->running = true;
        } else if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) && impl->running) {
            impl->running = false;
            if (impl->handlers.failed) {
                impl->handlers.failed(pa_strerror(impl->core->contextError()));
            }
        }
        impl->core->signal();
    }

    static void onRead(pa_stream* stream, std::size_t, void* userdata) {
        auto* impl = static_cast<Impl*>(userdata);
        const std::size_t frameBytes = sizeof(float) * impl->format.channels;
        while (pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) {
                return;
            }
            // A hole (no data) is audio the server never had: nothing to hand on.
            if (data && impl->handlers.data && frameBytes > 0) {
                std::vector<float> samples(bytes / frameBytes * impl->format.channels);
                std::memcpy(samples.data(), data, samples.size() * sizeof(float));
                impl->handlers.data(std::move(samples), impl->format);
            }
            pa_stream_drop(stream);
        }
    }

    static void onMoved(pa_stream* stream, void* userdata) {
        auto* impl = static_cast<Impl*>(userdata);
        if (impl->handlers.moved) {
            impl->handlers.moved(text(pa_stream_get_device_name(stream)));
        }
    }

    // Lock held.
    void close() {
        if (!stream) {
            return;
        }
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_set_moved_callback(stream, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
            pa_stream_disconnect(stream);
        }
        pa_stream_unref(stream);
        stream = nullptr;
    }
};

AudioRecordStream::AudioRecordStream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

AudioRecordStream::~AudioRecordStream() {
    PulseClient::Core::Lock lock(*impl_->core);
    impl_->close();
}

const AudioFormat& AudioRecordStream::format() const {
    return impl_->format;
}
const std::string& AudioRecordStream::sourceName() const {
    return impl_->sourceName;
}

PulseClient::PulseClient(Options options) : core_(std::make_shared<Core>(std::move(options))) {}
PulseClient::PulseClient() : PulseClient(Options{}) {}

PulseClient::~PulseClient() {
    Core::Lock lock(*core_);
    core_->disconnectHandler = nullptr;
    core_->eventHandler = nullptr;
    core_->dropContext();
}

void PulseClient::connect() {
    Core& core = *core_;
    Core::Lock lock(core);
    if (core.ready()) {
        return;
    }
    core.dropContext();
    ProplistPtr properties(pa_proplist_new());
    pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_NAME, core.options.clientName.c_str());
    core.context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(core.loop.get()),
                                                core.options.clientName.c_str(), properties.get());
    if (!core.context) {
        throw AudioServerError("connect", 0, "cannot create a sound server connection");
    }
    pa_context_set_state_callback(core.context, &Core::onContextState, &core);
    pa_context_set_subscribe_callback(core.context, &Core::onSubscription, &core);
    if (pa_context_connect(core.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        const int code = core.contextError();
        core.dropContext();
        throw serverError("connect", code);
    }
    const bool settled = core.waitUntil(
        [&] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(core.context)) || core.ready(); });
    if (!core.ready()) {
        const int code = settled ? core.contextError() : PA_ERR_TIMEOUT;
        core.dropContext();
        throw serverError("connect", code);
    }
    core.established = true;
}

bool PulseClient::isConnected() const {
    Core::Lock lock(*core_);
    return core_->ready();
}

void PulseClient::setDisconnectHandler(std::function<void()> handler) {
    Core::Lock lock(*core_);
    core_->disconnectHandler = std::move(handler);
}

void PulseClient::setEventHandler(std::function<void(AudioServerEvent)> handler) {
    Core::Lock lock(*core_);
    core_->eventHandler = std::move(handler);
}

void PulseClient::subscribe(const AudioServerSubscription& subscription) {
    Core::Lock lock(*core_);
    unsigned mask = PA_SUBSCRIPTION_MASK_NULL;
    if (subscription.server)
        mask |= PA_SUBSCRIPTION_MASK_SERVER;
    if (subscription.sources)
        mask |= PA_SUBSCRIPTION_MASK_SOURCE;
    if (subscription.sourceOutputs)
        mask |= PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT;
    int success = 1;
    core_->run("subscribe", [&](pa_context* context) {
        return pa_context_subscribe(
            context, static_cast<pa_subscription_mask_t>(mask),
            [](pa_context*, int ok, void* userdata) { *static_cast<int*>(userdata) = ok; }, &success);
    });
    if (!success) {
        throw serverError("subscribe", core_->contextError());
    }
}

AudioServerInfo PulseClient::serverInfo() {
    Core::Lock lock(*core_);
    AudioServerInfo result;
    core_->run("server info", [&](pa_context* context) {
        return pa_context_get_server_info(
            context,
            [](pa_context*, const pa_server_info* info, void* userdata) {
                if (info) {
                    auto* out = static_cast<AudioServerInfo*>(userdata);
                    out->defaultSinkName = text(info->default_sink_name);
                    out->defaultSourceName = text(info->default_source_name);
                }
            },
            &result);
    });
    return result;
}

std::vector<AudioSourceInfo> PulseClient::sources() {
    Core::Lock lock(*core_);
    ListResult<AudioSourceInfo> result;
    core_->run("list sources", [&](pa_context* context) {
        return pa_context_get_source_info_list(context, &collect<AudioSourceInfo, pa_source_info, sourceInfo>,
                                               &result);
    });
    if (result.error != 0) {
        throw serverError("list sources", result.error);
    }
    return result.items;
}

std::optional<AudioSourceInfo> PulseClient::source(const std::string& name) {
    Core::Lock lock(*core_);
    ListResult<AudioSourceInfo> result;
    core_->run("source info", [&](pa_context* context) {
        return pa_context_get_source_info_by_name(
            context, name.c_str(), &collect<AudioSourceInfo, pa_source_info, sourceInfo>, &result);
    });
    if (result.error == PA_ERR_NOENTITY || (result.error == 0 && result.items.empty())) {
        return std::nullopt;
    }
    if (result.error != 0) {
        throw serverError("source info", result.error);
    }
    return result.items.front();
}

std::optional<AudioSinkInfo> PulseClient::sink(const std::string& name) {
    Core::Lock lock(*core_);
    ListResult<AudioSinkInfo> result;
    core_->run("sink info", [&](pa_context* context) {
        return pa_context_get_sink_info_by_name(context, name.c_str(),
                                                &collect<AudioSinkInfo, pa_sink_info, sinkInfo>, &result);
    });
    if (result.error == PA_ERR_NOENTITY || (result.error == 0 && result.items.empty())) {
        return std::nullopt;
    }
    if (result.error != 0) {
        throw serverError("sink info", result.error);
    }
    return result.items.front();
}

std::vector<AudioSourceOutputInfo> PulseClient::sourceOutputs() {
    Core::Lock lock(*core_);
    ListResult<AudioSourceOutputInfo> result;
    core_->run("list source outputs", [&](pa_context* context) {
        return pa_context_get_source_output_info_list(
            context, &collect<AudioSourceOutputInfo, pa_source_output_info, sourceOutputInfo>, &result);
    });
    if (result.error != 0) {
        throw serverError("list source outputs", result.error);
    }
    return result.items;
}

bool PulseClient::hasModule(const std::string& name) {
    Core::Lock lock(*core_);
    ListResult<std::string> result;
    core_->run("list modules", [&](pa_context* context) {
        return pa_context_get_module_info_list(context, &collect<std::string, pa_module_info, moduleName>,
                                               &result);
    });
    if (result.error != 0) {
        throw serverError("list modules", result.error);
    }
    for (const std::string& module : result.items) {
        if (module == name) {
            return true;
        }
    }
    return false;
}

std::unique_ptr<AudioRecordStream> PulseClient::openRecordStream(const AudioRecordRequest& request,
                                                                 AudioRecordHandlers handlers) {
    // The source's own format, so that the server does not resample: the capture does it once.
    const std::string target = request.sourceName ? *request.sourceName : serverInfo().defaultSourceName;
    if (target.empty()) {
        throw AudioServerError("record", PA_ERR_NOENTITY, "the sound server has no default input");
    }
    const std::optional<AudioSourceInfo> source = this->source(target);
    if (!source) {
        throw AudioServerError("record", PA_ERR_NOENTITY, "no source named " + target);
    }

    Core& core = *core_;
    Core::Lock lock(core);
    core.requireReady("record");
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, source->format.sampleRate,
                              static_cast<std::uint8_t>(source->format.channels)};
    pa_channel_map map{};
    pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
    ProplistPtr properties(pa_proplist_new());
    for (const auto& [key, value] : request.properties) {
        pa_proplist_sets(properties.get(), key.c_str(), value.c_str());
    }

    auto impl = std::make_unique<AudioRecordStream::Impl>();
    impl->core = core_;
    impl->handlers = std::move(handlers);
    impl->format = {spec.rate, spec.channels};
    impl->stream =
        pa_stream_new_with_proplist(core.context, request.streamName.c_str(), &spec, &map, properties.get());
    if (!impl->stream) {
        throw serverError("record", core.contextError());
    }
    // From here on the stream is closed (under this lock) if anything fails.
    struct Closer {
        AudioRecordStream::Impl* impl;
        ~Closer() {
            if (impl)
                impl->close();
        }
    } closer{impl.get()};
    pa_stream_set_state_callback(impl->stream, &AudioRecordStream::Impl::onState, impl.get());
    pa_stream_set_read_callback(impl->stream, &AudioRecordStream::Impl::onRead, impl.get());
    pa_stream_set_moved_callback(impl->stream, &AudioRecordStream::Impl::onMoved, impl.get());

    const auto fragmentUsec = static_cast<pa_usec_t>(std::chrono::microseconds(request.fragment).count());
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(fragmentUsec, &spec));
    const char* device = request.sourceName ? target.c_str() : nullptr;
    if (pa_stream_connect_record(impl->stream, device, &attributes, PA_STREAM_ADJUST_LATENCY) < 0) {
        throw serverError("record", core.contextError());
    }
    const bool settled =
        core.waitUntil([&] { return pa_stream_get_state(impl->stream) != PA_STREAM_CREATING; });
    if (pa_stream_get_state(impl->stream) != PA_STREAM_READY) {
        throw serverError("record", settled ? core.contextError() : PA_ERR_TIMEOUT);
    }
    const char* device_name = pa_stream_get_device_name(impl->stream);
    impl->sourceName = device_name ? device_name : target;
    closer.impl = nullptr;
    return std::unique_ptr<AudioRecordStream>(new AudioRecordStream(std::move(impl)));
}

} // namespace velnote::platform
