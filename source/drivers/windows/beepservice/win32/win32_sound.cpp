#include "beepservice/win32/win32_sound.h"

#include <windows.h>
// After <windows.h>, which it relies on.
#include <mmsystem.h>

#include <string>

namespace kav::beep::win32 {

void Win32Sound::Play(const Sound& sound) {
    // Results are ignored: a beep that cannot sound has nobody to be reported to.
    if (sound.kind == Sound::Kind::Speaker) {
        (void)::Beep(sound.frequencyHz, sound.durationMs);
        return;
    }
    // Without SND_NODEFAULT a missing file would play the system's default sound instead
    // of nothing.
    const std::wstring file(kWaveFileName.begin(), kWaveFileName.end());
    (void)::PlaySoundW(file.c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_NODEFAULT);
}

}  // namespace kav::beep::win32
