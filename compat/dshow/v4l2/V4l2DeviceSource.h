#pragma once

#include "compat/dshow/Devices.h"
#include "compat/dshow/v4l2/V4l2Io.h"

#include <memory>

namespace sc::v4l2 {

// The cameras of the video input category: one device for every V4L2 node that streams
// pictures, named by the camera's own name and identified by where it is plugged in, so that
// a camera plugged out and in again keeps its moniker.
class V4l2DeviceSource final : public DeviceSource {
public:
    explicit V4l2DeviceSource(std::shared_ptr<V4l2Io> io);
    std::vector<DeviceEntry> Devices(REFGUID category) override;

    static std::string MonikerPrefix() { return "@device:pnp:v4l2:"; }

private:
    std::shared_ptr<V4l2Io> io_;
};

} // namespace sc::v4l2
