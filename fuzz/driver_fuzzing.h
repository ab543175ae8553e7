// What the driver harnesses share: a touch screen drawn from the input (records,
// parameters, fingers), requests as the HID class makes them, and checks on the driver
// that the sanitizers cannot make.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <span>
#include <vector>

#include "kavusb/kmdf/usermode/kmdf_sim.h"
#include "kavusb/pipeline/device_context.h"
#include "simulator/controller/optics.h"
#include "simulator/hidstack/direct_host.h"
#include "simulator/registry/registry_store.h"

namespace kav::fuzz {

// Mostly what a controller stores (nominal or matching records, another screen size);
// any record may instead be bytes from the input, as a broken controller would send.
sim::DeviceRecords ChooseRecords(FuzzedDataProvider& in);

// A few driver parameters under the key the driver reads, with values near their range.
void ChooseParameters(FuzzedDataProvider& in, sim::RegistryStore& store);

// Frames of fingers moving across the screen (or beyond its edges), rendered as the
// controller would send them: two line transfers a frame, or one image transfer.
std::vector<std::vector<std::uint8_t>> ChooseFingerFrames(FuzzedDataProvider& in, const sim::DeviceRecords& records);

// A camera-line packet: shadows as runs, then perhaps a sub-code or L the controller
// would never send.
std::vector<std::uint8_t> ChooseLinePacket(FuzzedDataProvider& in);

// A framed device event packet (commands 0x02 and 0x40 among others).
std::vector<std::uint8_t> ChooseEventPacket(FuzzedDataProvider& in);

// A 64-byte driver request report (0x55): work mode, configuration, speed, or any code.
std::vector<std::uint8_t> ChooseDriverRequest(FuzzedDataProvider& in);

// A feature request sent straight to the driver; the report buffer may be any length or
// missing, the input buffer too short for a transfer packet. Returns the status.
NTSTATUS SendFeature(WDFDEVICE device, ULONG ioControlCode, std::span<std::uint8_t> report, bool withPacket = true);

// The records and handles that only device start and the feature relay may change.
class RecordsGuard {
public:
    explicit RecordsGuard(const DEVICE_CONTEXT& context);
    void RequireUnchanged(const DEVICE_CONTEXT& context) const;

private:
    std::vector<std::uint8_t> bytes_;
};

// Indices and states the pipeline keeps inside the packed context stay in range.
void CheckPipelineState(const DEVICE_CONTEXT& context);

// A completed input report carries an input report ID of the driver's descriptor and at
// least the length it declares, and fits the buffer it was completed into.
void CheckInputReport(std::span<const std::uint8_t> report, std::size_t bufferLength);

}  // namespace kav::fuzz
