#include "test_support.h"

#include <iconv.h>

#include <cstdio>

#include "run/removal.h"

std::string Cp932(const std::string& utf8) {
    iconv_t converter = iconv_open("CP932", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        ADD_FAILURE() << "iconv cannot convert to CP932";
        return std::string();
    }
    std::string in(utf8);
    std::string out(in.size() * 2 + 1, '\0');
    char* inPtr = &in[0];
    char* outPtr = &out[0];
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    if (iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
        ADD_FAILURE() << "iconv failed on: " << utf8;
    }
    iconv_close(converter);
    out.resize(out.size() - outLeft);
    return out;
}

bool IsCp932LeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::string FailureText(const std::string& label, unsigned code, const std::string& systemText) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", code);
    return label + " FAILURE: (0x" + hex + ")" + systemText + "\n";
}

void MachineTest::SetUp() {
    Sim::Reset();
    DeviceInfoRemoved = false;
    FailuresReported = 0;
}

void MachineTest::TearDown() {
    EXPECT_EQ(0, Sim::OpenKeyCount()) << "registry keys left open";
    EXPECT_EQ(0, Sim::OpenSearchCount()) << "search handles left open";
    EXPECT_EQ(0, Sim::OpenFileCount()) << "streams left open";
    EXPECT_EQ(0, Sim::OpenDeviceSetCount()) << "device sets left open";
    EXPECT_EQ(0, Sim::LocalBlocksOutstanding()) << "heap blocks not released";
}

void MachineTest::NewMachine() {
    MachineTest::TearDown();
    SetUp();
}

std::vector<std::string> MachineTest::BoxTexts() const {
    std::vector<std::string> texts;
    for (const Sim::MessageBoxRecord& box : Sim::Boxes()) texts.push_back(box.text);
    return texts;
}
