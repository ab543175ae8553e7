// The speaker and the sound API.
#pragma once

#include "beepservice/sound.h"

namespace kav::beep::win32 {

class Win32Sound : public SoundOutput {
public:
    void Play(const Sound& sound) override;
};

}  // namespace kav::beep::win32
