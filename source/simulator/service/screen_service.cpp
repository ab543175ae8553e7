#include "simulator/service/screen_service.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "kavusb/kmdf/usermode/kmdf_sim.h"
#include "shared/driver_request.h"
#include "shared/hid_reports.h"
#include "simulator/controller/firmware.h"
#include "simulator/controller/optics.h"
#include "simulator/hidstack/event_viewer.h"
#include "simulator/text/utf8.h"

namespace kav::service {

namespace {

constexpr int kMaxContacts = 10;
constexpr int kMaxScreens = 8;
constexpr double kDefaultDiameterMm = 10;
// The frame thread wakes at least this often, so that reads end close to their time-outs
// even at low frame rates.
constexpr std::chrono::milliseconds kLongestSleep{5};
// Behind by more than this many frames (a stalled host), the service skips them rather
// than rendering a burst.
constexpr double kMaxFramesBehind = 10;

// The framework's clock on real time, except that the driver's own waits (the start-up
// wait, a relay's reply polls) pass at once, as on the virtual clock of the scenarios.
class RealTimeClock final : public kmdf::Clock {
public:
    LONGLONG Now() override {
        const auto elapsed = std::chrono::steady_clock::now() - origin_;
        return std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 100 + skipped_.load();
    }
    void Delay(LONGLONG duration100ns) override {
        if (duration100ns > 0) skipped_.fetch_add(std::min<LONGLONG>(duration100ns, kLongestSkip));
    }

private:
    // A driver may ask for an endless wait; a day keeps the sum far from overflow.
    static constexpr LONGLONG kLongestSkip = 24LL * 3600 * 10'000'000;
    const std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
    std::atomic<LONGLONG> skipped_{0};
};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line.substr(0, line.find('#')));
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

std::optional<double> Number(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string Format(const char* format, auto... args) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

std::string JoinWords(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

ControlAnswer Fail(std::string reason) {
    return {false, std::move(reason)};
}

// How many of a verb's leading numbers are coordinates (x, y alternating).
std::size_t CoordinateCount(const std::string& verb) {
    if (verb == "drag") return 4;
    if (verb == "cross") return 8;
    if (verb == "button" || verb == "workmode") return 0;
    return 2;  // tap, hold, down, move, and the centres of arc, pinch and rotate
}

// Turns "P%" coordinates from `first` on into millimetres of this screen.
std::optional<std::string> ResolveFractions(std::vector<std::string>& words, std::size_t first, std::size_t coordinates,
                                            double width, double height) {
    std::size_t position = 0;
    for (std::size_t i = first; i < words.size(); ++i) {
        std::string& word = words[i];
        if (word.find('=') != std::string::npos) continue;
        const std::size_t at = position++;
        if (word.empty() || word.back() != '%') continue;
        if (at >= coordinates) return "a fraction of the screen (" + word + ") stands only for a coordinate";
        const std::optional<double> percent = Number(word.substr(0, word.size() - 1));
        if (!percent) return "not a fraction of the screen: '" + word + "'";
        word = Format("%.6g", *percent / 100 * (at % 2 == 0 ? width : height));
    }
    return std::nullopt;
}

}  // namespace

struct ScreenService::Screen {
    struct Active {
        sim::Gesture gesture;
        double startMs = 0;
        bool modeSet = false;
    };

    int number = 0;
    std::unique_ptr<sim::Controller> controller;
    sim::HidDeviceId device = 0;  // 0 while unplugged
    sim::HidHandle control = 0;   // the service's own handle on the touch collection
    std::map<int, sim::Finger> contacts;
    std::vector<Active> gestures;
    std::unique_ptr<sim::Noise> noise;
    std::uint8_t buttons = 0;  // the lines held down
};

ScreenService::ScreenService(ServiceOptions options) : options_(std::move(options)) {
    fps_ = options_.fps.value_or(options_.scenario.fps);
    if (options_.registry != nullptr) registry_.FromText(options_.registry->ToText());
    // The driver reads its parameters when it loads, in the stack's constructor.
    kmdf::ResetFramework();
    const std::u16string key = kmdf::DriverParametersKeyPath() + u"\\DriverParameters";
    registry_.CreateKey(key);
    for (const auto& [name, value] : options_.scenario.parameters)
        registry_.PutDword(key, std::u16string(name.begin(), name.end()), value);
    clock_ = std::make_unique<RealTimeClock>();
    stack_ = std::make_unique<sim::HidStack>(sim::HostEnvironment{clock_.get(), &registry_});
    origin_ = std::chrono::steady_clock::now();
}

ScreenService::~ScreenService() {
    stopping_ = true;
    if (frames_.joinable()) frames_.join();
    {
        std::lock_guard lock(worldMutex_);
        for (auto& screen : screens_) Unplug(*screen);
    }
    CompleteReads();
    stack_.reset();
}

double ScreenService::NowMs() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - origin_).count();
}

bool ScreenService::Start(std::string* error) {
    {
        std::lock_guard lock(worldMutex_);
        for (int i = 0; i < std::clamp(options_.screens, 1, kMaxScreens); ++i) {
            auto screen = std::make_unique<Screen>();
            screen->number = i + 1;
            if (!Plug(*screen, error)) return false;
            screens_.push_back(std::move(screen));
        }
        // The scenario's own gestures play on the first screen from now.
        const double now = NowMs();
        for (const sim::Gesture& g : options_.scenario.gestures)
            screens_.front()->gestures.push_back({g, now + g.startMs, false});
    }
    frames_ = std::thread([this] { RunFrames(); });
    return true;
}

bool ScreenService::Plug(Screen& screen, std::string* error) {
    const sim::Scenario& s = options_.scenario;
    const sim::DeviceRecords records = sim::RecordsOf(s);
    auto controller = std::make_unique<sim::Controller>(records.productId);
    sim::SetUpController(*controller, s, records);

    const sim::HidStack::AttachResult attached = stack_->Attach(*controller);
    if (!NT_SUCCESS(attached.status)) {
        if (error != nullptr) {
            *error = Format("screen %d did not start (status 0x%08X)", screen.number,
                            static_cast<unsigned>(attached.status));
            for (const kmdf::ErrorLogEntry& entry : kmdf::TakeErrorLog())
                *error += "\n  " + sim::ToUtf8(sim::EventViewerText(entry));
        }
        return false;
    }
    screen.controller = std::move(controller);
    screen.device = attached.device;
    screen.noise = std::make_unique<sim::Noise>(s.seed + static_cast<std::uint64_t>(screen.number) - 1);
    screen.buttons = 0;
    for (const sim::HidInterfaceInfo& i : stack_->Interfaces())
        if (i.device == attached.device && i.collection == 0) screen.control = stack_->Open(i.path);
    // As the system leaves it once it has read feature 0x03, unless the scenario says otherwise.
    const std::array<std::uint8_t, kFeatureReportSize> mode{kDriverRequestFeatureId, kDriverRequestWorkMode,
                                                            s.workMode};
    stack_->SetFeature(screen.control, mode);
    return true;
}

void ScreenService::Unplug(Screen& screen) {
    if (screen.device == 0) return;
    stack_->Close(screen.control);
    stack_->Remove(screen.device);
    screen.device = 0;
    screen.control = 0;
    screen.contacts.clear();
    screen.gestures.clear();
    screen.controller.reset();
}

ScreenService::Screen* ScreenService::ScreenNumbered(int number) const {
    for (const auto& screen : screens_)
        if (screen->number == number) return screen.get();
    return nullptr;
}

ControlAnswer ScreenService::Control(const std::string& line) {
    std::vector<std::string> words = Words(line);
    if (words.empty()) return Fail("empty line");
    const std::string verb = Lower(words[0]);
    if (verb == "quit") {
        quit_ = true;
        quitChanged_.notify_all();
        return {true, "ok: stopping"};
    }
    std::lock_guard lock(worldMutex_);
    if (verb == "screens") return ListScreens();
    if (verb == "add-screen") {
        if (words.size() != 1) return Fail("add-screen takes nothing");
        if (screens_.size() >= kMaxScreens) return Fail(Format("at most %d screens", kMaxScreens));
        auto screen = std::make_unique<Screen>();
        screen->number = static_cast<int>(screens_.size()) + 1;
        std::string error;
        if (!Plug(*screen, &error)) return Fail(error);
        screens_.push_back(std::move(screen));
        return {true, Format("ok: screen %zu", screens_.size())};
    }
    if (verb == "unplug" || verb == "replug") {
        if (words.size() > 2) return Fail(verb + " takes one screen number");
        const std::optional<double> number = words.size() == 2 ? Number(words[1]) : 1.0;
        Screen* screen = number ? ScreenNumbered(static_cast<int>(*number)) : nullptr;
        if (screen == nullptr || *number != std::floor(*number)) return Fail("no screen '" + words.back() + "'");
        if (verb == "unplug") {
            if (screen->device == 0) return Fail(Format("screen %d is not plugged in", screen->number));
            Unplug(*screen);
            CompleteReads();
            return {true, Format("ok: screen %d unplugged", screen->number)};
        }
        if (screen->device != 0) return Fail(Format("screen %d is plugged in", screen->number));
        std::string error;
        if (!Plug(*screen, &error)) return Fail(error);
        return {true, Format("ok: screen %d plugged in", screen->number)};
    }

    // Touches: screen=S anywhere picks the screen.
    int target = 1;
    for (auto it = words.begin(); it != words.end();) {
        if (Lower(it->substr(0, 7)) != "screen=") {
            ++it;
            continue;
        }
        const std::optional<double> number = Number(it->substr(7));
        if (!number || *number != std::floor(*number) || ScreenNumbered(static_cast<int>(*number)) == nullptr)
            return Fail("no screen '" + it->substr(7) + "'");
        target = static_cast<int>(*number);
        it = words.erase(it);
    }
    Screen& screen = *ScreenNumbered(target);
    if (screen.device == 0) return Fail(Format("screen %d is not plugged in", screen.number));
    if (verb == "down" || verb == "move" || verb == "up") return Touch(words, screen);
    double delayMs = 0;
    if (const std::optional<double> delay = Number(words[0])) {
        if (*delay < 0 || *delay > 3600000) return Fail("the delay must lie in 0..3600000 ms");
        delayMs = *delay;
        words.erase(words.begin());
        if (words.empty()) return Fail("missing gesture after the delay");
    }
    return Gesture(words, screen, delayMs);
}

ControlAnswer ScreenService::ListScreens() const {
    const sim::Scenario& s = options_.scenario;
    std::string text = "ok";
    for (const auto& screen : screens_) {
        text += Format("\nscreen %d: %s, product 0x%04X, %.0f x %.0f mm, %zu contacts down", screen->number,
                       screen->device != 0 ? "plugged in" : "unplugged",
                       s.imageDevice ? sim::kImageProductId : sim::kProductPacket, s.width, s.height,
                       screen->contacts.size());
    }
    return {true, text};
}

ControlAnswer ScreenService::Touch(const std::vector<std::string>& given, Screen& screen) {
    std::vector<std::string> words = given;
    const std::string verb = Lower(words[0]);
    if (verb == "up" && words.size() == 1) {
        screen.contacts.clear();
        return {true, "ok"};
    }
    if (words.size() < 2) return Fail("missing contact number (1 to 10)");
    const std::optional<double> contact = Number(words[1]);
    if (!contact || *contact != std::floor(*contact) || *contact < 1 || *contact > kMaxContacts)
        return Fail("contact must be a whole number from 1 to 10: '" + words[1] + "'");
    const int n = static_cast<int>(*contact);
    if (verb == "up") {
        if (words.size() != 2) return Fail("up takes one contact number");
        if (screen.contacts.erase(n) == 0) return Fail(Format("contact %d is not down", n));
        return {true, "ok"};
    }
    const sim::Scenario& s = options_.scenario;
    if (auto error = ResolveFractions(words, 2, 2, s.width, s.height)) return Fail(*error);
    double diameter = verb == "move" && screen.contacts.contains(n) ? screen.contacts[n].diameter : kDefaultDiameterMm;
    std::vector<double> position;
    for (std::size_t i = 2; i < words.size(); ++i) {
        if (Lower(words[i].substr(0, 2)) == "d=" && verb == "down") {
            const std::optional<double> d = Number(words[i].substr(2));
            if (!d || *d <= 0 || *d > 100) return Fail("d= must lie in (0, 100] mm");
            diameter = *d;
            continue;
        }
        const std::optional<double> value = Number(words[i]);
        if (!value) return Fail("not a number: '" + words[i] + "'");
        position.push_back(*value);
    }
    if (position.size() != 2) return Fail(verb + " takes a contact and two numbers, X and Y");
    if (verb == "move" && !screen.contacts.contains(n)) return Fail(Format("contact %d is not down", n));
    if (verb == "down" && screen.contacts.contains(n)) return Fail(Format("contact %d is already down", n));
    screen.contacts[n] = sim::Finger{position[0], position[1], diameter};
    return {true, "ok"};
}

ControlAnswer ScreenService::Gesture(const std::vector<std::string>& given, Screen& screen, double delayMs) {
    std::vector<std::string> words = given;
    const sim::Scenario& s = options_.scenario;
    if (auto error = ResolveFractions(words, 1, CoordinateCount(Lower(words[0])), s.width, s.height))
        return Fail(*error);
    // The scenario parser judges the line, so a live line and a file line fail alike.
    std::string text = s.imageDevice ? "device image\n0" : "0";
    for (const std::string& word : words) text += " " + word;
    sim::Scenario parsed;
    try {
        parsed = sim::ParseScenario(text, "");
    } catch (const sim::ScenarioError& e) {
        // A setting would only apply to screens still to start.
        try {
            if (sim::ParseScenario(JoinWords(given), "").gestures.empty())
                return Fail("'" + given.front() +
                            "' is a setting of the screens: give it in the scenario that kavsim serve starts with");
        } catch (const sim::ScenarioError&) {
        }
        return Fail(e.Reason());
    }
    if (parsed.gestures.size() != 1) return Fail("one gesture a line");
    screen.gestures.push_back({parsed.gestures.front(), NowMs() + delayMs, false});
    return {true, "ok"};
}

void ScreenService::WaitForQuit(std::chrono::milliseconds wait) {
    std::unique_lock lock(quitMutex_);
    quitChanged_.wait_for(lock, wait, [this] { return quit_.load(); });
}

// ---- frames ----

void ScreenService::RunFrames() {
    const auto period =
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(1.0 / fps_));
    auto next = std::chrono::steady_clock::now();
    while (!stopping_) {
        auto now = std::chrono::steady_clock::now();
        if (now >= next) {
            {
                std::lock_guard lock(worldMutex_);
                const double ms = NowMs();
                for (auto& screen : screens_)
                    if (screen->device != 0) RenderFrame(*screen, ms);
                stack_->Pump();
            }
            next += period;
            if (now - next > period * kMaxFramesBehind) next = now + period;
        }
        CompleteReads();
        now = std::chrono::steady_clock::now();
        std::this_thread::sleep_until(std::min(next, now + kLongestSleep));
    }
}

void ScreenService::RenderFrame(Screen& screen, double t) {
    const sim::Scenario& s = options_.scenario;
    std::vector<sim::Finger> fingers;
    for (const auto& [n, finger] : screen.contacts) fingers.push_back(finger);
    std::uint8_t buttons = 0;
    for (Screen::Active& active : screen.gestures) {
        const sim::Gesture& g = active.gesture;
        if (t < active.startMs) continue;
        if (g.workMode && !active.modeSet) {
            const std::array<std::uint8_t, kFeatureReportSize> mode{kDriverRequestFeatureId, kDriverRequestWorkMode,
                                                                    *g.workMode};
            stack_->SetFeature(screen.control, mode);
            active.modeSet = true;
        }
        if (t >= active.startMs + g.durationMs) continue;
        if (g.buttonLine >= 0) buttons = static_cast<std::uint8_t>(buttons | (1u << g.buttonLine));
        // As the scenario runner moves fingers: two fingers move once both are down.
        const double still = g.strokes.size() > 1 ? g.strokes[1].delayMs : 0;
        for (const sim::Stroke& stroke : g.strokes) {
            if (t < active.startMs + stroke.delayMs) continue;
            fingers.push_back(stroke.At((t - active.startMs - still) / (g.durationMs - still)));
        }
    }
    std::erase_if(screen.gestures, [t](const Screen::Active& a) {
        return t >= a.startMs + a.gesture.durationMs && (!a.gesture.workMode || a.modeSet);
    });
    if (buttons != screen.buttons) {
        screen.controller->SetButtons(buttons);
        screen.buttons = buttons;
    }

    sim::QueueFrame(*screen.controller, s, fingers, *screen.noise);
}

// ---- reads ----

void ScreenService::StartRead(ReadKey key, sim::HidHandle handle, std::uint32_t waitMs, std::size_t length,
                              ReadDone done) {
    ReadDone replaced;
    std::optional<std::pair<ReadEnd, std::vector<std::uint8_t>>> now;
    {
        std::lock_guard lock(readsMutex_);
        sim::ReadResult result = stack_->Read(handle, std::chrono::milliseconds(0));
        if (result.status == sim::ReadStatus::Report) {
            if (result.report.size() > length) result.report.resize(length);
            now.emplace(ReadEnd::Report, std::move(result.report));
        } else if (result.status == sim::ReadStatus::Gone) {
            now.emplace(ReadEnd::Gone, std::vector<std::uint8_t>{});
        } else if (waitMs == 0) {
            now.emplace(ReadEnd::TimedOut, std::vector<std::uint8_t>{});
        } else {
            // A request ID used again ends the read it named before.
            if (auto old = reads_.find(key); old != reads_.end()) replaced = std::move(old->second.done);
            reads_[key] = {handle, length, std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs),
                           std::move(done)};
        }
    }
    if (replaced) replaced(ReadEnd::Cancelled, {});
    if (now) done(now->first, std::move(now->second));
}

void ScreenService::CancelRead(ReadKey key) {
    ReadDone done;
    {
        std::lock_guard lock(readsMutex_);
        const auto it = reads_.find(key);
        if (it == reads_.end()) return;
        done = std::move(it->second.done);
        reads_.erase(it);
    }
    done(ReadEnd::Cancelled, {});
}

void ScreenService::CancelReadsOf(std::uint64_t owner) {
    std::lock_guard lock(readsMutex_);
    std::erase_if(reads_, [owner](const auto& entry) { return entry.first.first == owner; });
}

void ScreenService::CompleteReads() {
    std::vector<std::tuple<ReadDone, ReadEnd, std::vector<std::uint8_t>>> finished;
    {
        std::lock_guard lock(readsMutex_);
        const auto now = std::chrono::steady_clock::now();
        for (auto it = reads_.begin(); it != reads_.end();) {
            sim::ReadResult result = stack_->Read(it->second.handle, std::chrono::milliseconds(0));
            std::optional<ReadEnd> end;
            if (result.status == sim::ReadStatus::Report) {
                end = ReadEnd::Report;
                if (result.report.size() > it->second.length) result.report.resize(it->second.length);
            } else if (result.status == sim::ReadStatus::Gone) {
                end = ReadEnd::Gone;
            } else if (now >= it->second.deadline) {
                end = ReadEnd::TimedOut;
            }
            if (!end) {
                ++it;
                continue;
            }
            finished.emplace_back(std::move(it->second.done), *end, std::move(result.report));
            it = reads_.erase(it);
        }
    }
    for (auto& [done, end, report] : finished) done(end, std::move(report));
}

}  // namespace kav::service
