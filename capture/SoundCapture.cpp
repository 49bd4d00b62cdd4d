#include "capture/SoundCapture.h"

#include "capture/Rounding.h"
#include "compat/dshow/pulse/PulseClient.h"

#include <QMetaObject>

#include <pulse/def.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

TSoundCapture::TSoundCapture(QObject *parent) : QObject(parent) {}

TSoundCapture::~TSoundCapture()
{
    StopCapture();
}

int TSoundCapture::LevelOfBuffer(const uint8_t *samples, size_t count)
{
    int largest = 0;
    for (size_t i = 0; i < count; ++i)
        largest = std::max(largest, std::abs(int(samples[i]) - 128));
    return RoundHalfEven(largest * 100.0 / 128.0);
}

int TSoundCapture::StartCapture(int deviceIndex)
{
    StopCapture();
    if (deviceIndex < 0)
        return PA_ERR_NOENTITY;
    try {
        auto client = sc::pulse::PulseClient::connect();
        const auto inputs = client->inputSources();
        if (static_cast<size_t>(deviceIndex) >= inputs.size())
            return PA_ERR_NOENTITY;
        const sc::pulse::StreamFormat format{kSampleRate, 1, true};
        stream_ = client->record(inputs[static_cast<size_t>(deviceIndex)].name, kSampleCount, format);
    } catch (const sc::pulse::PulseError &) {
        return PA_ERR_CONNECTIONREFUSED;
    }
    reader_ = std::thread(&TSoundCapture::readLoop, this, ++generation_);
    return 0;
}

void TSoundCapture::StopCapture()
{
    if (reader_.joinable()) {
        stream_->interrupt();
        reader_.join();
    }
    stream_.reset();
    ++generation_;
}

void TSoundCapture::readLoop(unsigned generation)
{
    std::vector<uint8_t> buffer(kSampleCount);
    // A read ends short when the capture is stopped or the input or server went away: the
    // bar then simply stops moving.
    while (stream_->read(buffer.data(), buffer.size()).bytes == buffer.size()) {
        const int level = LevelOfBuffer(buffer.data(), buffer.size());
        QMetaObject::invokeMethod(
            this, [this, level, generation] { deliverLevel(level, generation); }, Qt::QueuedConnection);
    }
}

void TSoundCapture::deliverLevel(int level, unsigned generation)
{
    if (generation != generation_)
        return;
    if (OnLevel)
        OnLevel(this, level);
}
