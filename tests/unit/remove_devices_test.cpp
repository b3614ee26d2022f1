#include <cctype>
#include <string>
#include <vector>

#include "run/removal.h"
#include "run/texts.h"
#include "test_support.h"

namespace {

using Sim::Op;

const std::string First = FirstHardwareId;
const std::string Second = SecondHardwareId;
const std::string Nul(1, '\0');

class RemoveDevicesTest : public MachineTest {};

// ---- matching ----

TEST_F(RemoveDevicesTest, RemovesOneDeviceWithTheExactCallsAndSetsTheFlag) {
    int device = Sim::AddDeviceWithIds({First});
    EXPECT_EQ(0, RemoveDevicesByHardwareId(FirstHardwareId));
    EXPECT_FALSE(Sim::DeviceExists(device));
    EXPECT_TRUE(DeviceInfoRemoved);
    EXPECT_TRUE(BoxTexts().empty());
    std::string size = std::to_string(First.size() + 2);
    EXPECT_EQ((std::vector<std::string>{
                  "SetupDiGetClassDevsA", "SetupDiEnumDeviceInfo 0",
                  "SetupDiGetDeviceRegistryPropertyA 0", "LocalAlloc " + size,
                  "SetupDiGetDeviceRegistryPropertyA 0", "SetupDiCallClassInstaller 0",
                  "LocalFree", "SetupDiEnumDeviceInfo 1", "SetupDiDestroyDeviceInfoList"}),
              Sim::Calls());
}

TEST_F(RemoveDevicesTest, RemovesEveryDeviceHoldingTheIdAnywhereInItsList) {
    int only = Sim::AddDeviceWithIds({First});
    int second = Sim::AddDeviceWithIds({"PCMCIA\\OTHER-1234", First});
    int third = Sim::AddDeviceWithIds({"A", "B", First}, /*present=*/false);
    int other = Sim::AddDeviceWithIds({Second});
    int twice = Sim::AddDeviceWithIds({First, First});
    RemoveDevicesByHardwareId(FirstHardwareId);
    EXPECT_EQ(1, Sim::DeviceCount());
    EXPECT_TRUE(Sim::DeviceExists(other));
    for (int gone : {only, second, third, twice}) EXPECT_FALSE(Sim::DeviceExists(gone)) << gone;
    EXPECT_EQ(4u, Sim::CallsOf("SetupDiCallClassInstaller").size());  // once per device
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(RemoveDevicesTest, DeviceWithoutIdsIsPassedOverInSilenceAndTheWalkGoesOn) {
    int bare = Sim::AddDeviceWithoutIds();
    int target = Sim::AddDeviceWithIds({Second});
    EXPECT_EQ(0, RemoveDevicesByHardwareId(FirstHardwareId));
    EXPECT_EQ(2, Sim::DeviceCount());
    EXPECT_FALSE(DeviceInfoRemoved);
    RemoveDevicesByHardwareId(SecondHardwareId);
    EXPECT_TRUE(Sim::DeviceExists(bare));
    EXPECT_FALSE(Sim::DeviceExists(target));
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(RemoveDevicesTest, NearMissesAreLeftAlone) {
    std::string lower = First;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& id : {First.substr(0, First.size() - 1), First + "X", First + " ",
                                  lower, "X" + First, " " + First}) {
        Sim::AddDeviceWithIds({id});
    }
    Sim::AddDevice("OTHER" + Nul + Nul + First + Nul + Nul);  // after the list's end
    RemoveDevicesByHardwareId(FirstHardwareId);
    EXPECT_EQ(7, Sim::DeviceCount());
    EXPECT_FALSE(DeviceInfoRemoved);
}

TEST_F(RemoveDevicesTest, ListWithoutTerminatorsIsReadOnlyWithinItsBytes) {
    int ending = Sim::AddDevice("OTHER" + Nul + First);
    int oneNul = Sim::AddDevice("OTHER" + Nul + First + Nul);
    int cut = Sim::AddDevice("OTHER" + Nul + First.substr(0, First.size() - 1));
    int longer = Sim::AddDevice(First + "X");
    int empty = Sim::AddDevice("");
    RemoveDevicesByHardwareId(FirstHardwareId);
    EXPECT_FALSE(Sim::DeviceExists(ending));
    EXPECT_FALSE(Sim::DeviceExists(oneNul));
    EXPECT_TRUE(Sim::DeviceExists(cut));
    EXPECT_TRUE(Sim::DeviceExists(longer));
    EXPECT_TRUE(Sim::DeviceExists(empty));
    EXPECT_TRUE(BoxTexts().empty());
}

// ---- failure paths ----

TEST_F(RemoveDevicesTest, SetNotBuiltIsReportedWithTheLoadersCode) {
    Sim::AddDeviceWithIds({First});
    Sim::Fail(Op::GetClassDevs, 127);  // ERROR_PROC_NOT_FOUND, which has no text here
    EXPECT_EQ(1, RemoveDevicesByHardwareId(FirstHardwareId));
    EXPECT_EQ((std::vector<std::string>{"GetClassDevs() FAILURE: (0x0000007f)\n"}), BoxTexts());
    EXPECT_TRUE(Sim::CallsOf("SetupDiEnumDeviceInfo").empty());
    EXPECT_TRUE(Sim::CallsOf("SetupDiDestroyDeviceInfoList").empty());
    EXPECT_EQ(1, Sim::DeviceCount());
}

TEST_F(RemoveDevicesTest, PropertyQueryFailureEndsTheCallAndTheNextCallStartsAfresh) {
    Sim::AddDeviceWithIds({"PCMCIA\\OTHER-1234"});
    int first = Sim::AddDeviceWithIds({First});
    int second = Sim::AddDeviceWithIds({Second});
    // The sized second query fails, after the buffer has been allocated.
    Sim::Fail(Op::GetDeviceRegistryProperty, 5, "0", 1, /*after=*/1);
    EXPECT_EQ(0, RemoveDevicesByHardwareId(FirstHardwareId));
    EXPECT_EQ((std::vector<std::string>{
                  FailureText("GetDeviceRegistryProperty()", 5, "Access is denied.\r\n")}),
              BoxTexts());
    EXPECT_TRUE(Sim::DeviceExists(first));
    EXPECT_EQ((std::vector<std::string>{"0"}), Sim::CallsOf("SetupDiEnumDeviceInfo"));
    EXPECT_EQ(0, Sim::LocalBlocksOutstanding());
    EXPECT_EQ(0, Sim::OpenDeviceSetCount());

    RemoveDevicesByHardwareId(SecondHardwareId);
    EXPECT_FALSE(Sim::DeviceExists(second));
    EXPECT_EQ((std::vector<std::string>{"0", "0", "1", "2", "3"}),
              Sim::CallsOf("SetupDiEnumDeviceInfo"));
    EXPECT_EQ(1u, BoxTexts().size());
}

TEST_F(RemoveDevicesTest, TooSmallAnswerThatAsksForNoMoreIsAFailureNotALoop) {
    Sim::AddDeviceWithIds({First});
    Sim::Fail(Op::GetDeviceRegistryProperty, 122, "0");
    RemoveDevicesByHardwareId(FirstHardwareId);
    EXPECT_EQ((std::vector<std::string>{FailureText(
                  "GetDeviceRegistryProperty()", 122,
                  "The data area passed to a system call is too small.\r\n")}),
              BoxTexts());
}

TEST_F(RemoveDevicesTest, ClassInstallerRefusingIsReportedAndTheWalkGoesOn) {
    int refused = Sim::AddDeviceWithIds({First});
    int next = Sim::AddDeviceWithIds({First});
    Sim::Fail(Op::CallClassInstaller, 5, std::to_string(refused));
    RemoveDevicesByHardwareId(FirstHardwareId);
    EXPECT_EQ((std::vector<std::string>{
                  FailureText("CallClassInstaller(REMOVE)", 5, "Access is denied.\r\n")}),
              BoxTexts());
    EXPECT_TRUE(Sim::DeviceExists(refused));
    EXPECT_FALSE(Sim::DeviceExists(next));
    EXPECT_TRUE(DeviceInfoRemoved);
}

TEST_F(RemoveDevicesTest, EnumerationEndingWithAnUnexpectedCodeIsReported) {
    int before = Sim::AddDeviceWithIds({First});
    Sim::AddDeviceWithIds({"PCMCIA\\OTHER-1234"});
    int after = Sim::AddDeviceWithIds({First});
    Sim::Fail(Op::EnumDeviceInfo, 6, "1");
    EXPECT_EQ(0, RemoveDevicesByHardwareId(FirstHardwareId));
    EXPECT_EQ((std::vector<std::string>{
                  FailureText("EnumDeviceInfo()", 6, "The handle is invalid.\r\n")}),
              BoxTexts());
    EXPECT_FALSE(Sim::DeviceExists(before));
    EXPECT_TRUE(Sim::DeviceExists(after));
}

TEST_F(RemoveDevicesTest, AllocationFailureIsReportedAndEndsTheCall) {
    int first = Sim::AddDeviceWithIds({First});
    int second = Sim::AddDeviceWithIds({First});
    Sim::Fail(Op::LocalAlloc, 8, "", 1);
    EXPECT_EQ(0, RemoveDevicesByHardwareId(FirstHardwareId));
    const std::string noMemory = "Not enough storage is available to process this command.\r\n";
    EXPECT_EQ((std::vector<std::string>{FailureText("LocalAlloc()", 8, noMemory)}), BoxTexts());
    EXPECT_EQ(2, Sim::DeviceCount());
    EXPECT_EQ((std::vector<std::string>{"0"}), Sim::CallsOf("SetupDiEnumDeviceInfo"));

    RemoveDevicesByHardwareId(FirstHardwareId);
    EXPECT_FALSE(Sim::DeviceExists(first));
    EXPECT_FALSE(Sim::DeviceExists(second));
}

}  // namespace
