#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_operation;

namespace sc::pulse {

class PulseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A sound input of the server (a microphone, a line input). Monitors of outputs are not
// inputs and are never listed.
struct SourceInfo {
    uint32_t index = 0;
    std::string name;         // the server's stable identifier
    std::string description;  // the name a user sees
    uint8_t channels = 0;
};

class RecordStream;

// The sample format of a record stream: interleaved channels, signed 16-bit little-endian or
// unsigned 8-bit (silence at 128).
struct StreamFormat {
    uint32_t rate = 44100;
    uint8_t channels = 2;
    bool eightBit = false;
    uint32_t bytesPerFrame() const { return channels * (eightBit ? 1u : 2u); }
};

// A connection to the sound server (PulseAudio, or PipeWire through its PulseAudio server).
// Every call waits for the server's answer but never longer than the connection lives: a
// server that goes away ends the wait with PulseError.
class PulseClient : public std::enable_shared_from_this<PulseClient> {
public:
    // Connects to the server named by PULSE_SERVER, else the user's default. Never starts a
    // server. Throws PulseError when none answers within `timeout`.
    static std::shared_ptr<PulseClient> connect(
        std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
    ~PulseClient();
    PulseClient(const PulseClient &) = delete;
    PulseClient &operator=(const PulseClient &) = delete;

    std::vector<SourceInfo> inputSources();

    // The source's volume as a level: 0 is silent, 1 the normal (100 %) volume; the average
    // over its channels.
    double sourceVolume(const std::string &source);
    // Sets every channel of the source to `level`, kept within 0 ... 1.
    void setSourceVolume(const std::string &source, double level);
    bool sourceMuted(const std::string &source);
    void setSourceMuted(const std::string &source, bool muted);

    // Records the source in `format` (by default 44100 Hz 16-bit stereo), asking the server
    // for fragments of about `fragmentBytes`.
    std::unique_ptr<RecordStream> record(const std::string &source, uint32_t fragmentBytes,
                                         StreamFormat format = {});

    // For the classes that share this connection's loop.
    pa_threaded_mainloop *loop() const { return loop_; }
    pa_context *context() const { return context_; }
    bool connected() const;

private:
    PulseClient();
    SourceInfo sourceByName(const std::string &source);
    void waitFor(pa_operation *operation, const std::string &step);

    pa_threaded_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
};

// One record stream. The server's data is queued as it arrives (on the client's loop thread)
// and read by the consumer's thread; nothing the consumer does can stall the server
// connection.
class RecordStream {
public:
    ~RecordStream();
    RecordStream(const RecordStream &) = delete;
    RecordStream &operator=(const RecordStream &) = delete;

    struct Chunk {
        size_t bytes = 0;         // filled; less than asked only when interrupted or failed
        uint64_t firstFrame = 0;  // position of the chunk's first sample frame in the stream
    };
    // Blocks until `bytes` (whole sample frames) are filled, the stream failed, or
    // interrupt() was called.
    Chunk read(uint8_t *destination, size_t bytes);
    // Makes a waiting read() return at once, and every later one.
    void interrupt();
    // Empty while the stream is healthy; else what ended it (the source went away, the server
    // quit).
    std::string failure() const;
    const StreamFormat &format() const { return format_; }

private:
    friend class PulseClient;
    RecordStream(std::shared_ptr<PulseClient> client, const std::string &source, StreamFormat format);
    static void onRead(pa_stream *stream, size_t bytes, void *self);
    static void onState(pa_stream *stream, void *self);
    void append(const uint8_t *data, size_t bytes);
    void fail(const std::string &why);

    std::shared_ptr<PulseClient> client_;
    std::string source_;
    StreamFormat format_;
    pa_stream *stream_ = nullptr;

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<uint8_t> queue_;
    uint64_t queueStartFrame_ = 0;  // stream position of queue_.front()
    bool interrupted_ = false;
    std::string failure_;
};

} // namespace sc::pulse
