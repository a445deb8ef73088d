// The captions that mix alphabets must keep their odd letter: a retyped
// text looks the same and silently differs.

#include "desktop/texts.h"

#include <gtest/gtest.h>

#include <string>

namespace gw::test {
namespace {

TEST(Texts, MixedAlphabetCaptionsKeepTheirLetters)
{
    using namespace desktop::texts;
    EXPECT_EQ(std::string(CopyDeviceContext).substr(0, 1), "C");                            // Latin
    EXPECT_EQ(std::string(CopyDeviceMenu).substr(0, 2), "\xD0\xA1");                        // Cyrillic С
    EXPECT_NE(std::string(ReadRemote).find("\xD0\x9E\xD0\xA0\xD0\xA1"), std::string::npos); // Cyrillic ОРС
    EXPECT_EQ(std::string(OpcUaCaption).find("OPC"), std::string(OpcUaCaption).rfind("OPC"));
    EXPECT_NE(std::string(ConfirmDelete).find("устройтво"), std::string::npos);
}

} // namespace
} // namespace gw::test
