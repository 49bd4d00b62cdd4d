#pragma once

#include "compat/dshow/Devices.h"

#include <chrono>

namespace sc::pulse {

// The microphones of the audio capture category: every input of the sound server, monitors
// of outputs left out, in the server's order. No server (or one that does not answer in
// time) lists nothing: the program then simply has no microphone.
class PulseDeviceSource final : public DeviceSource {
public:
    explicit PulseDeviceSource(std::chrono::milliseconds timeout = std::chrono::milliseconds(1500));
    std::vector<DeviceEntry> Devices(REFGUID category) override;

    static std::string MonikerPrefix() { return "@device:pnp:pulse:"; }

private:
    std::chrono::milliseconds timeout_;
};

} // namespace sc::pulse
