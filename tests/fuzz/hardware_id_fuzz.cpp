// The 2000/XP device removal, fed devices with arbitrary REG_MULTI_SZ hardware-ID bytes of
// arbitrary sizes (no terminator, one NUL, empty strings, lists of one byte).
//
// Input: a header of four bytes, then records until the input ends.
//   [0] fault: 0 none, 1 GetClassDevs, 2 EnumDeviceInfo, 3 GetDeviceRegistryProperty,
//       4 CallClassInstaller, 5 LocalAlloc
//   [1] the device (in the order of the records) the fault hits, 255 for every device
//   [2] the error code, an index into a table
//   [3] how many matching calls go through before the fault bites
// Record: flags (1 not present, 2 no hardware-ID property), length (2 bytes, little-endian),
// the list's bytes.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "run/removal.h"
#include "run/texts.h"

namespace {

const Win::DWORD Codes[] = {2, 5, 8, 13, 87, 122, 259, 0xE000020B};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Fuzz::Input input(data, size);
    Fuzz::NewMachine();
    Fuzz::AddBystanders();

    const std::uint8_t fault = input.Byte() % 6;
    const std::uint8_t faultDevice = input.Byte();
    const Win::DWORD code = Codes[input.Byte() % (sizeof Codes / sizeof Codes[0])];
    const int after = input.Byte() % 8;

    std::vector<int> devices;
    std::vector<bool> listsId;
    while (!input.Empty() && devices.size() < 64) {
        const std::uint8_t flags = input.Byte();
        const std::string list = input.Bytes(input.U16());
        const bool present = (flags & 1) == 0;
        if (flags & 2) {
            devices.push_back(Fuzz::AddDeviceWithoutIds(present));
            listsId.push_back(false);
        } else {
            devices.push_back(Fuzz::AddDevice(list, present));
            listsId.push_back(Fuzz::ListsAdapterId(list));
        }
    }

    const std::string target = faultDevice < devices.size() ? std::to_string(devices[faultDevice])
                                                            : std::string();
    switch (fault) {
        case 1: Sim::Fail(Sim::Op::GetClassDevs, code, "", -1, after); break;
        case 2: Sim::Fail(Sim::Op::EnumDeviceInfo, code, target, -1, after); break;
        case 3: Sim::Fail(Sim::Op::GetDeviceRegistryProperty, code, target, -1, after); break;
        case 4: Sim::Fail(Sim::Op::CallClassInstaller, code, target, -1, after); break;
        case 5: Sim::Fail(Sim::Op::LocalAlloc, code, "", -1, after); break;
        default: break;
    }

    Fuzz::TakeSnapshot();
    RemoveDevicesByHardwareId(FirstHardwareId);
    RemoveDevicesByHardwareId(SecondHardwareId);
    Fuzz::CheckOnlyTargetsGone();

    FUZZ_CHECK(DeviceInfoRemoved == !Fuzz::DevicesGone().empty(),
               "DeviceInfoRemoved is %d after %zu removals", DeviceInfoRemoved,
               Fuzz::DevicesGone().size());
    if (fault == 0) {
        for (std::size_t i = 0; i < devices.size(); ++i) {
            FUZZ_CHECK(!listsId[i] || !Sim::DeviceExists(devices[i]),
                       "device %d lists a hardware ID of the adapter and stayed", devices[i]);
        }
        FUZZ_CHECK(Sim::Boxes().empty(), "a failure box with nothing failing: %s",
                   Sim::Boxes().front().text.c_str());
    }
    return 0;
}
