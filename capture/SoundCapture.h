#pragma once

#include <QObject>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace sc::pulse {
class RecordStream;
}

// Reads the chosen microphone in a small format of its own (8000 Hz, 8-bit unsigned, mono)
// only to measure how loud it is: one level 0 ... 100 for each buffer of 1600 samples, five
// a second, reported on the main thread through OnLevel.
class TSoundCapture : public QObject {
    Q_OBJECT
public:
    static constexpr int kSampleRate = 8000;
    static constexpr int kSampleCount = 1600;  // one buffer: 0.2 s

    explicit TSoundCapture(QObject *parent);
    ~TSoundCapture() override;

    // Starts measuring the input at `deviceIndex` in the sound server's input list (the same
    // list and order as the microphone capture filter's). Returns 0 when the capture runs,
    // else a non-zero sound-server error code; a microphone that cannot be opened reports
    // nothing.
    int StartCapture(int deviceIndex);
    // Stops the capture; no OnLevel call follows. Never waits for the device.
    void StopCapture();
    bool Capturing() const { return reader_.joinable(); }

    // The level of one buffer: the largest sample deviation from silence (128), in percent of
    // 128, rounded half to even.
    static int LevelOfBuffer(const uint8_t *samples, size_t count);

    std::function<void(QObject *sender, int level)> OnLevel;

private:
    void readLoop(unsigned generation);
    void deliverLevel(int level, unsigned generation);

    std::unique_ptr<sc::pulse::RecordStream> stream_;
    std::thread reader_;
    unsigned generation_ = 0;  // main thread only: levels of an earlier capture are dropped
};
