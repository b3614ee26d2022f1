// Shared pieces of the host tests: a fresh simulated machine for every test, and the
// code page 932 form of a UTF-8 text, converted independently of the program's sources.
#ifndef KALVOR_TESTS_TEST_SUPPORT_H
#define KALVOR_TESTS_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim.h"

// The code page 932 bytes of a UTF-8 text, by iconv.
std::string Cp932(const std::string& utf8);

// Code page 932's lead bytes, and a byte of each class at both of its edges: single bytes
// 0x80, 0xA0 to 0xDF (half-width katakana) and 0xFD; lead bytes 0x81 to 0x9F and 0xE0 to
// 0xFC (the user-defined and extension rows included).
bool IsCp932LeadByte(unsigned char byte);
const unsigned char Cp932EdgeBytes[] = {0x80, 0x81, 0x9F, 0xA0, 0xA1, 0xDF,
                                        0xE0, 0xEF, 0xF0, 0xFC, 0xFD};

// "<label> FAILURE: (0x<code>)<text>\n" as the program composes it.
std::string FailureText(const std::string& label, unsigned code, const std::string& systemText);

// Resets the simulated machine and the program's process-wide state. Every test ends by
// checking that the removal code left no key, search handle, stream, device set or heap
// block open, and so does every row that starts a new machine.
class MachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The check, then a fresh machine and fresh process-wide state, for the next row.
    void NewMachine();
    // The texts of the boxes shown so far.
    std::vector<std::string> BoxTexts() const;
};

#endif
