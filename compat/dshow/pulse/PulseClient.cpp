#include "compat/dshow/pulse/PulseClient.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <pulse/pulseaudio.h>

namespace sc::pulse {
namespace {

// Queued audio beyond this many seconds is dropped oldest first (the consumer stalled).
// Servers deliver in bursts of up to a few seconds (their source latency), so keep room.
constexpr size_t kMaxQueuedSeconds = 10;

class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop *loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock &) = delete;
    LoopLock &operator=(const LoopLock &) = delete;

private:
    pa_threaded_mainloop *loop_;
};

struct SourceState {
    SourceInfo info;
    pa_cvolume volume{};
    bool muted = false;
    bool found = false;
    pa_threaded_mainloop *loop = nullptr;
};

struct Completion {
    bool success = false;
    pa_threaded_mainloop *loop = nullptr;
};

void signalLoop(pa_threaded_mainloop *loop) { pa_threaded_mainloop_signal(loop, 0); }

void onSuccess(pa_context *, int success, void *data) {
    auto *completion = static_cast<Completion *>(data);
    completion->success = success != 0;
    signalLoop(completion->loop);
}

std::string serverError(pa_context *context) { return pa_strerror(pa_context_errno(context)); }

} // namespace

PulseClient::PulseClient() = default;

PulseClient::~PulseClient() {
    if (context_) {
        {
            LoopLock lock(loop_);
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
    }
    if (loop_) {
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
    }
}

std::shared_ptr<PulseClient> PulseClient::connect(std::chrono::milliseconds timeout) {
    std::shared_ptr<PulseClient> client(new PulseClient);
    client->loop_ = pa_threaded_mainloop_new();
    if (!client->loop_)
        throw PulseError("sound server: cannot create the client loop");
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(client->loop_);
    client->context_ = pa_context_new(api, "studiocast");
    if (!client->context_)
        throw PulseError("sound server: cannot create a client context");
    pa_context_set_state_callback(
        client->context_, [](pa_context *, void *loop) { signalLoop(static_cast<pa_threaded_mainloop *>(loop)); },
        client->loop_);
    if (pa_context_connect(client->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        throw PulseError("sound server: " + serverError(client->context_));
    if (pa_threaded_mainloop_start(client->loop_) < 0)
        throw PulseError("sound server: cannot start the client loop");

    LoopLock lock(client->loop_);
    struct Deadline {
        bool passed = false;
        pa_threaded_mainloop *loop;
    } deadline{false, client->loop_};
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(timeout.count()) * 1000);
    pa_time_event *timer = api->time_new(
        api, &when,
        [](pa_mainloop_api *, pa_time_event *, const timeval *, void *data) {
            auto *d = static_cast<Deadline *>(data);
            d->passed = true;
            signalLoop(d->loop);
        },
        &deadline);
    pa_context_state_t state;
    while ((state = pa_context_get_state(client->context_)) != PA_CONTEXT_READY &&
           PA_CONTEXT_IS_GOOD(state) && !deadline.passed)
        pa_threaded_mainloop_wait(client->loop_);
    api->time_free(timer);
    if (state != PA_CONTEXT_READY) {
        std::string why = deadline.passed ? "no answer within " + std::to_string(timeout.count()) + " ms"
                                          : serverError(client->context_);
        throw PulseError("sound server: " + why);
    }
    return client;
}

bool PulseClient::connected() const {
    LoopLock lock(loop_);
    return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

void PulseClient::waitFor(pa_operation *operation, const std::string &step) {
    if (!operation)
        throw PulseError("sound server: " + step + ": " + serverError(context_));
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
            pa_operation_cancel(operation);
            pa_operation_unref(operation);
            throw PulseError("sound server: " + step + ": the connection was lost");
        }
        pa_threaded_mainloop_wait(loop_);
    }
    pa_operation_unref(operation);
}

std::vector<SourceInfo> PulseClient::inputSources() {
    struct Listing {
        std::vector<SourceInfo> sources;
        pa_threaded_mainloop *loop;
    } listing{{}, loop_};
    LoopLock lock(loop_);
    waitFor(pa_context_get_source_info_list(
                context_,
                [](pa_context *, const pa_source_info *info, int eol, void *data) {
                    auto *l = static_cast<Listing *>(data);
                    if (eol) {
                        signalLoop(l->loop);
                        return;
                    }
                    if (info->monitor_of_sink == PA_INVALID_INDEX)
                        l->sources.push_back({info->index, info->name,
                                              info->description ? info->description : info->name,
                                              info->channel_map.channels});
                },
                &listing),
            "listing the sound inputs");
    std::sort(listing.sources.begin(), listing.sources.end(),
              [](const SourceInfo &a, const SourceInfo &b) { return a.index < b.index; });
    return listing.sources;
}

namespace {

SourceState querySource(pa_context *context, pa_threaded_mainloop *loop, const std::string &source,
                        const std::function<void(pa_operation *, const std::string &)> &wait) {
    SourceState state;
    state.loop = loop;
    wait(pa_context_get_source_info_by_name(
             context, source.c_str(),
             [](pa_context *, const pa_source_info *info, int eol, void *data) {
                 auto *s = static_cast<SourceState *>(data);
                 if (eol) {
                     signalLoop(s->loop);
                     return;
                 }
                 s->found = true;
                 s->info = {info->index, info->name, info->description ? info->description : info->name,
                            info->channel_map.channels};
                 s->volume = info->volume;
                 s->muted = info->mute != 0;
             },
             &state),
         "reading sound input " + source);
    if (!state.found)
        throw PulseError("sound server: no sound input named " + source);
    return state;
}

} // namespace

double PulseClient::sourceVolume(const std::string &source) {
    LoopLock lock(loop_);
    SourceState state = querySource(context_, loop_, source, [this](pa_operation *op, const std::string &step) {
        waitFor(op, step);
    });
    return static_cast<double>(pa_cvolume_avg(&state.volume)) / PA_VOLUME_NORM;
}

void PulseClient::setSourceVolume(const std::string &source, double level) {
    LoopLock lock(loop_);
    auto wait = [this](pa_operation *op, const std::string &step) { waitFor(op, step); };
    SourceState state = querySource(context_, loop_, source, wait);
    double kept = std::clamp(level, 0.0, 1.0);
    pa_cvolume volume;
    pa_cvolume_set(&volume, state.volume.channels,
                   static_cast<pa_volume_t>(std::lround(kept * PA_VOLUME_NORM)));
    Completion completion{false, loop_};
    wait(pa_context_set_source_volume_by_name(context_, source.c_str(), &volume, onSuccess, &completion),
         "setting the volume of " + source);
    if (!completion.success)
        throw PulseError("sound server: setting the volume of " + source + ": " + serverError(context_));
}

bool PulseClient::sourceMuted(const std::string &source) {
    LoopLock lock(loop_);
    return querySource(context_, loop_, source, [this](pa_operation *op, const std::string &step) {
               waitFor(op, step);
           }).muted;
}

void PulseClient::setSourceMuted(const std::string &source, bool muted) {
    LoopLock lock(loop_);
    Completion completion{false, loop_};
    waitFor(pa_context_set_source_mute_by_name(context_, source.c_str(), muted, onSuccess, &completion),
            "muting " + source);
    if (!completion.success)
        throw PulseError("sound server: muting " + source + ": " + serverError(context_));
}

std::unique_ptr<RecordStream> PulseClient::record(const std::string &source, uint32_t fragmentBytes,
                                                  StreamFormat format) {
    if (format.rate == 0 || format.channels == 0 || format.channels > PA_CHANNELS_MAX)
        throw PulseError("sound server: recording " + source + ": unusable sample format");
    std::unique_ptr<RecordStream> stream(new RecordStream(shared_from_this(), source, format));
    LoopLock lock(loop_);
    pa_sample_spec sampleFormat{format.eightBit ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE, format.rate, format.channels};
    pa_channel_map map;
    pa_channel_map_init_auto(&map, format.channels, PA_CHANNEL_MAP_DEFAULT);
    stream->stream_ = pa_stream_new(context_, "studiocast capture", &sampleFormat, &map);
    if (!stream->stream_)
        throw PulseError("sound server: recording " + source + ": " + serverError(context_));
    pa_stream_set_read_callback(stream->stream_, &RecordStream::onRead, stream.get());
    pa_stream_set_state_callback(stream->stream_, &RecordStream::onState, stream.get());
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.fragsize = std::max<uint32_t>(fragmentBytes / format.bytesPerFrame(), 1) * format.bytesPerFrame();
    attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<uint32_t>(-1);
    if (pa_stream_connect_record(stream->stream_, source.c_str(), &attributes, PA_STREAM_ADJUST_LATENCY) < 0)
        throw PulseError("sound server: recording " + source + ": " + serverError(context_));
    pa_stream_state_t state;
    while ((state = pa_stream_get_state(stream->stream_)) == PA_STREAM_CREATING &&
           PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)))
        pa_threaded_mainloop_wait(loop_);
    if (state != PA_STREAM_READY)
        throw PulseError("sound server: recording " + source + ": " + serverError(context_));
    return stream;
}

RecordStream::RecordStream(std::shared_ptr<PulseClient> client, const std::string &source, StreamFormat format)
    : client_(std::move(client)), source_(source), format_(format) {}

RecordStream::~RecordStream() {
    if (stream_) {
        LoopLock lock(client_->loop());
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }
}

void RecordStream::onRead(pa_stream *stream, size_t, void *self) {
    auto *record = static_cast<RecordStream *>(self);
    const void *data = nullptr;
    size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
        if (data) {
            record->append(static_cast<const uint8_t *>(data), bytes);
        } else {
            // A hole in the recording: silence.
            std::vector<uint8_t> silence(bytes, record->format_.eightBit ? 128 : 0);
            record->append(silence.data(), bytes);
        }
        pa_stream_drop(stream);
    }
}

void RecordStream::onState(pa_stream *stream, void *self) {
    auto *record = static_cast<RecordStream *>(self);
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_FAILED:
        record->fail("recording " + record->source_ + " failed: " +
                     pa_strerror(pa_context_errno(pa_stream_get_context(stream))));
        break;
    case PA_STREAM_TERMINATED:
        record->fail("recording " + record->source_ + " ended: the input went away");
        break;
    default:
        break;
    }
    signalLoop(record->client_->loop());
}

void RecordStream::append(const uint8_t *data, size_t bytes) {
    std::lock_guard lock(mutex_);
    queue_.insert(queue_.end(), data, data + bytes);
    const size_t frameBytes = format_.bytesPerFrame();
    const size_t maxQueued = size_t(format_.rate) * frameBytes * kMaxQueuedSeconds;
    if (queue_.size() > maxQueued) {
        size_t excess = (queue_.size() - maxQueued + frameBytes - 1) / frameBytes;
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(excess * frameBytes));
        queueStartFrame_ += excess;
    }
    arrived_.notify_all();
}

void RecordStream::fail(const std::string &why) {
    std::lock_guard lock(mutex_);
    if (failure_.empty())
        failure_ = why;
    arrived_.notify_all();
}

RecordStream::Chunk RecordStream::read(uint8_t *destination, size_t bytes) {
    bytes -= bytes % format_.bytesPerFrame();
    std::unique_lock lock(mutex_);
    arrived_.wait(lock, [&] { return queue_.size() >= bytes || interrupted_ || !failure_.empty(); });
    Chunk chunk{0, queueStartFrame_};
    if (queue_.size() < bytes)
        return chunk;
    std::copy_n(queue_.begin(), bytes, destination);
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(bytes));
    queueStartFrame_ += bytes / format_.bytesPerFrame();
    chunk.bytes = bytes;
    return chunk;
}

void RecordStream::interrupt() {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
    arrived_.notify_all();
}

std::string RecordStream::failure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

} // namespace sc::pulse
