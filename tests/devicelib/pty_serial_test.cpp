// The serial transport for real: the POSIX port over a pseudo-terminal, with a small
// controller on the master side that answers frames.
#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devicelib/platform/posix/posix_platform.h"
#include "devicelib/protocol.h"
#include "fake_controller.h"

namespace kav::devicelib::testing {
namespace {

constexpr std::uint8_t kSerial = 0;

// Reads frames from the master side and answers each with a reply of the same command and
// the payload {1, 5, 7, 10}; command 0x50 gets noise and a reply to another command first,
// command 0x51 no answer at all.
class PtyController {
public:
    PtyController() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const char* name = ptsname(master_);
        if (name == nullptr) return;
        slavePath_ = name;
        thread_ = std::thread([this] { Run(); });
    }
    ~PtyController() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (master_ >= 0) close(master_);
    }

    bool ok() const { return !slavePath_.empty(); }
    std::u16string slavePath() const { return std::u16string(slavePath_.begin(), slavePath_.end()); }
    int master() const { return master_; }

    std::vector<Bytes> received() {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    void Run() {
        Bytes pending;
        while (!stop_) {
            pollfd entry{master_, POLLIN, 0};
            if (poll(&entry, 1, 10) <= 0) continue;
            if ((entry.revents & POLLIN) == 0) {
                // Hung up while no slave is open; do not spin.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            std::uint8_t chunk[256];
            const ssize_t n = read(master_, chunk, sizeof(chunk));
            if (n <= 0) continue;
            pending.insert(pending.end(), chunk, chunk + n);
            // Frames arrive whole or in pieces; answer each complete one.
            while (pending.size() >= 4 && pending[0] == kPacketStart && pending.size() >= pending[3] + 5u) {
                const Bytes frame(pending.begin(), pending.begin() + pending[3] + 5);
                pending.erase(pending.begin(), pending.begin() + static_cast<long>(frame.size()));
                {
                    std::lock_guard lock(mutex_);
                    received_.push_back(frame);
                }
                Answer(frame);
            }
            if (!pending.empty() && pending[0] != kPacketStart) pending.clear();
        }
    }

    void Answer(const Bytes& frame) {
        const std::uint8_t command = frame[2];
        if (command == 0x51) return;
        Bytes out;
        if (command == 0x50) {
            out = Bytes(5, 0x00);
            const Bytes other = FrameBytes(0x12, 0x70, 0x00, {0xF1});
            out.insert(out.end(), other.begin(), other.end());
        }
        const Bytes reply = FrameBytes(static_cast<std::uint8_t>(frame[1] | 0x10), command, frame[4], {1, 5, 7, 10});
        out.insert(out.end(), reply.begin(), reply.end());
        std::size_t written = 0;
        while (written < out.size()) {
            const ssize_t n = write(master_, out.data() + written, out.size() - written);
            if (n <= 0) return;
            written += static_cast<std::size_t>(n);
        }
    }

    int master_ = -1;
    std::string slavePath_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Bytes> received_;
};

class PtySerial : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(controller.ok());
        platform::SetPlatform(&os);
        port = os.OpenSerial(controller.slavePath());
        ASSERT_TRUE(platform::IsValidHandle(port));
    }
    void TearDown() override {
        if (platform::IsValidHandle(port)) {
            EXPECT_TRUE(os.Close(port));
        }
        platform::SetPlatform(nullptr);
    }

    PtyController controller;
    // Real scheduling on a busy host can delay a reply past the 40 ms a byte gets on a
    // real port; a late reply would only make the protocol try again.
    platform::posix::PosixPlatform os{250};
    platform::Handle port = platform::kInvalidHandle;
};

TEST_F(PtySerial, PortIsConfiguredFor115200EightNoneOne) {
    termios settings{};
    ASSERT_EQ(tcgetattr(controller.master(), &settings), 0);
    EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetispeed(&settings), static_cast<speed_t>(B115200));
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO), 0u);
}

TEST_F(PtySerial, QueryAndCommandRoundTrip) {
    std::array<std::uint8_t, 4> version{};
    ASSERT_EQ(QueryInto(kSerial, port, 0x00, 0x32, {}, version), 4u);
    EXPECT_EQ(version, (std::array<std::uint8_t, 4>{1, 5, 7, 10}));
    EXPECT_TRUE(CommandDevice(kSerial, port, 0x00, 0x71, std::array<std::uint8_t, 1>{0x01}));

    const std::vector<Bytes> received = controller.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], (Bytes{0xAA, 0x02, 0x32, 0x01, 0x00, 0x34}));
    EXPECT_EQ(received[1], (Bytes{0xAA, 0x01, 0x71, 0x02, 0x00, 0x01, 0x74}));
}

TEST_F(PtySerial, NoiseAndOtherRepliesAreReadPast) {
    const auto reply = QueryDevice(kSerial, port, 0x00, 0x50, {});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->command, 0x50);
    EXPECT_EQ(reply->length, 4);
    EXPECT_EQ(controller.received().size(), 1u);
}

// Real time-outs here: five tries of one 40 ms read each. Exact counts are the virtual
// clock's business; here a frame that the controller had not yet read when the next try
// purged the line is gone, so only the bound is certain.
TEST(PtySerialSilent, EveryTrySendsTheSameFrameAndTheQueryFails) {
    PtyController controller;
    ASSERT_TRUE(controller.ok());
    platform::posix::PosixPlatform os;
    struct Restore {
        ~Restore() { platform::SetPlatform(nullptr); }
    } restore;
    platform::SetPlatform(&os);
    const platform::Handle port = os.OpenSerial(controller.slavePath());
    ASSERT_TRUE(platform::IsValidHandle(port));
    EXPECT_FALSE(QueryDevice(kSerial, port, 0x00, 0x51, {}));
    EXPECT_TRUE(os.Close(port));
    const std::vector<Bytes> received = controller.received();
    EXPECT_GE(received.size(), 1u);
    EXPECT_LE(received.size(), 5u);
    for (const Bytes& frame : received) EXPECT_EQ(frame, (Bytes{0xAA, 0x02, 0x51, 0x01, 0x00, 0x53}));
}

TEST(PosixSerial, OpenRefusesWhatIsNoPort) {
    platform::posix::PosixPlatform& os = platform::posix::PosixPlatformInstance();
    EXPECT_EQ(os.OpenSerial(u""), platform::kInvalidHandle);
    EXPECT_EQ(os.OpenSerial(u"/nonexistent/tty"), platform::kInvalidHandle);
    EXPECT_EQ(os.OpenSerial(u"/dev/null"), platform::kInvalidHandle);  // not a terminal
    EXPECT_EQ(os.OpenSerial(u"/dev/tty\u00e9"), platform::kInvalidHandle);
    EXPECT_FALSE(os.ReadSerialByte(platform::kInvalidHandle));
    EXPECT_FALSE(os.WriteSerial(nullptr, Bytes{1}));
}

}  // namespace
}  // namespace kav::devicelib::testing

#endif  // _WIN32
