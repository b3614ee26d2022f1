#include <string>
#include <vector>

#include "run/removal.h"
#include "test_support.h"

namespace {

const std::string ClassKey = "System\\CurrentControlSet\\Services\\Class";
const std::string IdA = "PCMCIA\\MAKER-CARD_A-1A2B";
const std::string IdB = "PCMCIA\\MAKER_INC.-CARD_B-3C4D";
const std::string EnumA = "ENUM\\" + IdA;
const std::string EnumB = "ENUM\\" + IdB;

class EnumRegistryTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        Sim::SetPlatformId(Win::VER_PLATFORM_WIN32_WINDOWS);
    }
    // A Class key with a device of another card and a second class, both to be left alone.
    static void AddClassKey() {
        Sim::SetStringValue(ClassKey + "\\Ports\\0000", "DriverDesc", "COM1");
        Sim::SetStringValue(ClassKey + "\\Modem\\0000", "DriverDesc", "Modem");
    }
    // An installed instance: ENUM\<id>\<instance> whose Driver value names its driver key.
    static void AddInstance(const std::string& enumPath, const std::string& instance,
                            const std::string& driver) {
        Sim::SetStringValue(enumPath + "\\" + instance, "Driver", driver);
        Sim::SetStringValue(ClassKey + "\\" + driver, "DriverDesc", "RS-232C PC Card");
    }
};

TEST_F(EnumRegistryTest, BothIdsInstalledEachCallTakesOnlyItsOwnKeys) {
    AddClassKey();
    AddInstance(EnumA, "0", "Ports\\0001");
    AddInstance(EnumB, "0", "Ports\\0002");

    EXPECT_EQ(0, RemoveEnumRegistryEntry(IdA.c_str()));
    EXPECT_FALSE(Sim::KeyExists(EnumA));
    EXPECT_FALSE(Sim::KeyExists(ClassKey + "\\Ports\\0001"));
    EXPECT_TRUE(Sim::KeyExists(EnumB + "\\0"));
    EXPECT_TRUE(Sim::KeyExists(ClassKey + "\\Ports\\0002"));
    EXPECT_TRUE(DeviceInfoRemoved);

    EXPECT_EQ(0, RemoveEnumRegistryEntry(IdB.c_str()));
    EXPECT_EQ(Sim::Keys(), (std::vector<std::string>{
                               "ENUM", "ENUM\\PCMCIA", "System", "System\\CurrentControlSet",
                               "System\\CurrentControlSet\\Services", ClassKey,
                               ClassKey + "\\Modem", ClassKey + "\\Modem\\0000",
                               ClassKey + "\\Ports", ClassKey + "\\Ports\\0000"}));
    EXPECT_TRUE(Sim::Boxes().empty());
}

TEST_F(EnumRegistryTest, IdNotInstalledIsSilent) {
    AddClassKey();
    AddInstance(EnumA, "0", "Ports\\0001");
    // The keys that paths cut at 255 bytes would name: IDs this long must not reach them.
    // The first makes "ENUM\<id>" exactly 256 bytes, one more than its buffer holds.
    const std::string longIds[] = {"PCMCIA\\" + std::string(244, 'L'),
                                   "PCMCIA\\" + std::string(260, 'L')};
    AddInstance(("ENUM\\" + longIds[0]).substr(0, 255), "0", "Ports\\0002");
    AddInstance(("ENUM\\" + longIds[1]).substr(0, 255), "0", "Ports\\0003");
    const std::vector<std::string> before = Sim::Keys();

    EXPECT_EQ(1, RemoveEnumRegistryEntry(IdB.c_str()));
    for (const std::string& longId : longIds) EXPECT_EQ(1, RemoveEnumRegistryEntry(longId.c_str()));

    EXPECT_EQ(before, Sim::Keys());
    EXPECT_EQ(Sim::CallsOf("RegOpenKeyExA"), std::vector<std::string>{EnumB});
    EXPECT_FALSE(DeviceInfoRemoved);
    EXPECT_TRUE(Sim::Boxes().empty());
}

TEST_F(EnumRegistryTest, NoInstanceZeroOrNoClassKeyDeletesNothingInSilence) {
    AddClassKey();
    AddInstance(EnumA, "1", "Ports\\0001");
    EXPECT_EQ(0, RemoveEnumRegistryEntry(IdA.c_str()));
    EXPECT_TRUE(Sim::CallsOf("RegQueryValueExA").empty());

    NewMachine();
    Sim::SetStringValue(EnumA + "\\0", "Driver", "Ports\\0001");
    EXPECT_EQ(0, RemoveEnumRegistryEntry(IdA.c_str()));
    EXPECT_TRUE(Sim::KeyExists(EnumA + "\\0"));

    EXPECT_TRUE(Sim::CallsOf("RegDeleteKeyA").empty());
    EXPECT_FALSE(DeviceInfoRemoved);
    EXPECT_TRUE(Sim::Boxes().empty());
}

TEST_F(EnumRegistryTest, UnreadableDriverValueShowsTheRegistryCodeAndDeletesNothing) {
    struct Case {
        const char* what;
        void (*arrange)();
        std::string label;
        unsigned code;
        const char* systemText;
    };
    const Case cases[] = {
        {"missing", [] {}, "RegQueryValueEx() can't find Key.", 2,
         "The system cannot find the file specified.\r\n"},
        {"longer than the buffer",
         [] { Sim::SetStringValue(EnumA + "\\0", "Driver", std::string(2048, 'P')); },
         "RegQueryValueEx()", 234, "More data is available.\r\n"},
        {"refused",
         [] {
             Sim::SetStringValue(EnumA + "\\0", "Driver", "Ports\\0001");
             Sim::Fail(Sim::Op::RegQueryValueEx, 5, EnumA + "\\0");
         },
         "RegQueryValueEx()", 5, "Access is denied.\r\n"},
    };
    for (const Case& c : cases) {
        NewMachine();
        SCOPED_TRACE(c.what);
        AddClassKey();
        Sim::SetStringValue(ClassKey + "\\Ports\\0001", "DriverDesc", "Card");
        Sim::SetStringValue(EnumA + "\\0", "DeviceDesc", "Card");
        c.arrange();
        const std::vector<std::string> before = Sim::Keys();
        // A stale last-error value must not be what the box shows.
        Win::SetLastError(87);

        EXPECT_EQ(0, RemoveEnumRegistryEntry(IdA.c_str()));

        EXPECT_EQ(BoxTexts(), std::vector<std::string>{FailureText(c.label, c.code, c.systemText)});
        EXPECT_EQ(before, Sim::Keys());
        EXPECT_TRUE(Sim::CallsOf("RegDeleteKeyA").empty());
        EXPECT_FALSE(DeviceInfoRemoved);
    }
}

TEST_F(EnumRegistryTest, EmptyOrMalformedDriverValueIsRefusedAndTheClassKeyStays) {
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"no bytes", std::string()},
        {"empty string", std::string(1, '\0')},
        {"no terminating NUL", "Ports\\0001"},
        {"class alone", std::string("Ports\0", 6)},
        {"separator alone", std::string("\\\0", 2)},
        {"no class", std::string("\\0001\0", 6)},
        {"no instance", std::string("Ports\\\0", 7)},
        {"two separators", std::string("Ports\\0001\\x\0", 13)},
        // 0x95 0x5C is one character: the byte 0x5C in it does not separate anything.
        {"trail byte 0x5C", Cp932("表0001") + std::string(1, '\0')},
        // So is 0x81 0x5C, "―", whose lead byte is the lowest there is.
        {"trail byte 0x5C after lead byte 0x81", Cp932("Ports―0001") + std::string(1, '\0')},
    };
    for (const Case& c : cases) {
        NewMachine();
        SCOPED_TRACE(c.what);
        AddClassKey();
        Sim::SetStringValue(ClassKey + "\\Ports\\0001", "DriverDesc", "Card");
        Sim::SetValue(EnumA + "\\0", "Driver", c.bytes);
        const std::vector<std::string> before = Sim::Keys();

        EXPECT_EQ(0, RemoveEnumRegistryEntry(IdA.c_str()));

        EXPECT_EQ(BoxTexts(), std::vector<std::string>{FailureText("RegQueryValueEx()", 13,
                                                                   "The data is invalid.\r\n")});
        EXPECT_EQ(before, Sim::Keys());
        EXPECT_TRUE(Sim::CallsOf("RegDeleteKeyA").empty());
        EXPECT_FALSE(DeviceInfoRemoved);
    }
}

TEST_F(EnumRegistryTest, ABackslashAfterALeadByteSeparatesNothing) {
    // "Ports", one byte of each class at its edges, a backslash, "0001". After a lead byte
    // the backslash is a second byte and the value names a whole class; after any other
    // byte it separates a driver key "Ports?\0001". Raw bytes, as an encoder maps some.
    for (unsigned char byte : Cp932EdgeBytes) {
        const bool lead = IsCp932LeadByte(byte);
        NewMachine();
        SCOPED_TRACE(testing::Message() << std::hex << static_cast<int>(byte));
        const std::string driver = "Ports" + std::string(1, static_cast<char>(byte)) + "\\0001";
        AddClassKey();
        AddInstance(EnumA, "0", driver);

        RemoveEnumRegistryEntry(IdA.c_str());

        if (lead) {
            EXPECT_EQ(BoxTexts(), std::vector<std::string>{FailureText(
                                      "RegQueryValueEx()", 13, "The data is invalid.\r\n")});
            EXPECT_TRUE(Sim::CallsOf("RegDeleteKeyA").empty());
        } else {
            EXPECT_TRUE(Sim::Boxes().empty());
            EXPECT_EQ(Sim::CallsOf("RegDeleteKeyA"),
                      (std::vector<std::string>{ClassKey + "\\" + driver, EnumA}));
        }
        EXPECT_EQ(!lead, DeviceInfoRemoved);
    }
}

TEST_F(EnumRegistryTest, MissingDriverKeyIsReportedAndTheEnumKeyStillGoes) {
    AddClassKey();
    Sim::SetStringValue(EnumA + "\\0", "Driver", "Ports\\0009");

    EXPECT_EQ(0, RemoveEnumRegistryEntry(IdA.c_str()));

    const std::string noFile = "The system cannot find the file specified.\r\n";
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{FailureText("RegDeleteKey()", 2, noFile)});
    EXPECT_FALSE(Sim::KeyExists(EnumA));
    EXPECT_TRUE(Sim::KeyExists(ClassKey + "\\Ports\\0000"));
    EXPECT_TRUE(DeviceInfoRemoved);
}

TEST_F(EnumRegistryTest, FailedEnumDeletionIsReportedAndLeavesTheFlagUnset) {
    AddClassKey();
    AddInstance(EnumA, "0", "Ports\\0001");
    Sim::Fail(Sim::Op::RegDeleteKey, 5, EnumA);

    EXPECT_EQ(0, RemoveEnumRegistryEntry(IdA.c_str()));

    EXPECT_EQ(BoxTexts(),
              std::vector<std::string>{FailureText("RegDeleteKey()", 5, "Access is denied.\r\n")});
    EXPECT_FALSE(Sim::KeyExists(ClassKey + "\\Ports\\0001"));
    EXPECT_TRUE(Sim::KeyExists(EnumA + "\\0"));
    EXPECT_FALSE(DeviceInfoRemoved);
}

TEST_F(EnumRegistryTest, AllInstancesGoWithTheEnumKeyButOnlyTheFirstDriverKey) {
    AddClassKey();
    AddInstance(EnumA, "0", "Ports\\0001");
    AddInstance(EnumA, "1", "Ports\\0002");
    AddInstance(EnumA, "2", "Ports\\0003");

    EXPECT_EQ(0, RemoveEnumRegistryEntry(IdA.c_str()));

    EXPECT_FALSE(Sim::KeyExists(EnumA));
    EXPECT_FALSE(Sim::KeyExists(ClassKey + "\\Ports\\0001"));
    EXPECT_TRUE(Sim::KeyExists(ClassKey + "\\Ports\\0002"));
    EXPECT_TRUE(Sim::KeyExists(ClassKey + "\\Ports\\0003"));
    EXPECT_TRUE(DeviceInfoRemoved);
    EXPECT_TRUE(Sim::Boxes().empty());
}

TEST_F(EnumRegistryTest, KeysAreDeletedWhileOpenThenClosedClassInstanceEnum) {
    AddClassKey();
    AddInstance(EnumA, "0", "Ports\\0001");
    RemoveEnumRegistryEntry(IdA.c_str());

    std::vector<std::string> registryCalls;
    for (const std::string& call : Sim::Calls()) {
        if (call.compare(0, 3, "Reg") == 0) registryCalls.push_back(call);
    }
    EXPECT_EQ(registryCalls, (std::vector<std::string>{
                                 "RegOpenKeyExA " + EnumA,
                                 "RegOpenKeyExA " + EnumA + "\\0",
                                 "RegQueryValueExA " + EnumA + "\\0 Driver",
                                 "RegOpenKeyExA " + ClassKey,
                                 "RegDeleteKeyA " + ClassKey + "\\Ports\\0001",
                                 "RegDeleteKeyA " + EnumA,
                                 "RegCloseKey " + ClassKey,
                                 "RegCloseKey " + EnumA + "\\0",
                                 "RegCloseKey " + EnumA,
                             }));
}

}  // namespace
