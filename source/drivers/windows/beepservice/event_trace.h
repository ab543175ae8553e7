// A trace of what KavSvc heard and played, one line an event, for tests of the real
// program: the sound seam's recording, and the raw input that reached the dialog.
#pragma once

#include <string>

#include "beepservice/driver_config_source.h"
#include "beepservice/nerio_svc_dlg.h"
#include "beepservice/sound.h"

namespace kav::beep {

class LineSink {
public:
    LineSink() = default;
    LineSink(const LineSink&) = delete;
    LineSink& operator=(const LineSink&) = delete;
    virtual ~LineSink() = default;
    virtual void WriteLine(const std::string& line) = 0;
};

// "play beep 750 50", then the sound itself.
class TracedSound : public SoundOutput {
public:
    TracedSound(SoundOutput& sound, LineSink& trace) : sound_(sound), trace_(trace) {}
    void Play(const Sound& sound) override;

private:
    SoundOutput& sound_;
    LineSink& trace_;
};

// "input mouse 0x0001 \\?\HID#..." or "input hid 30 07 ... \\?\HID#...", for every record
// that could be read; "input unreadable" for one that could not.
class TracedRawInput : public RawInputSource {
public:
    TracedRawInput(RawInputSource& source, LineSink& trace) : source_(source), trace_(trace) {}
    bool Register(const std::array<RawInputDevice, 2>& devices) override;
    std::optional<RawInputRecord> Read(RawInputHandle handle) override;

private:
    RawInputSource& source_;
    LineSink& trace_;
};

// "settings Mode 2 EnableBeep 1 BeepType 0 BeepMode 0 BeepFrequency 750 BeepDuration 50",
// or "settings unread" when the key could not be read.
class TracedConfigSource : public DriverConfigSource {
public:
    TracedConfigSource(DriverConfigSource& source, LineSink& trace) : source_(source), trace_(trace) {}
    bool Read(_NERIO_DRIVER_CONFIG& config) override;

private:
    DriverConfigSource& source_;
    LineSink& trace_;
};

// UTF-8 of a UTF-16 string, unpaired surrogates as U+FFFD.
std::string ToUtf8(std::u16string_view text);

std::string DescribeRecord(const RawInputRecord& record);

}  // namespace kav::beep
