#pragma once

#include <string>
#include <sys/types.h>

namespace sc::test {

// A private PulseAudio daemon for one test program: a null sink (whose monitor a capture list
// must leave out), a 440 Hz sine source "test_sine" (amplitude 0.5) and a silent source
// "test_quiet". While it lives, PULSE_SERVER points this process at it, so the code under
// test connects to it as to any server. Nothing of the user's own sound setup is touched.
class PulseTestServer {
public:
    PulseTestServer();  // throws std::runtime_error with the daemon's log when it cannot start
    ~PulseTestServer();
    PulseTestServer(const PulseTestServer &) = delete;
    PulseTestServer &operator=(const PulseTestServer &) = delete;

    const std::string &address() const { return address_; }
    // Runs pactl against this daemon and returns its output; throws when pactl fails.
    std::string pactl(const std::string &arguments) const;
    // Volume of a source as the daemon reports it, in percent of normal (average of channels).
    int sourceVolumePercent(const std::string &source) const;
    // Stops the daemon now, as a crashed or ended server would go away.
    void kill();

private:
    std::string folder_;
    std::string address_;
    std::string savedServer_;
    bool hadServer_ = false;
    pid_t pid_ = -1;
};

} // namespace sc::test
