// Where KavSvc's beeps go: the speaker and the sound API on Windows, a recording in tests.
#pragma once

#include "beepservice/beep_decision.h"

namespace kav::beep {

class SoundOutput {
public:
    SoundOutput() = default;
    SoundOutput(const SoundOutput&) = delete;
    SoundOutput& operator=(const SoundOutput&) = delete;
    virtual ~SoundOutput() = default;

    // A speaker tone returns once it has sounded; a wave file plays asynchronously, and a
    // wave file that cannot be found plays nothing (not the system's default sound).
    // Failures are not reported: a beep that cannot sound is simply not heard.
    virtual void Play(const Sound& sound) = 0;
};

}  // namespace kav::beep
