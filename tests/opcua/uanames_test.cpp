#include "opcua/uanames.h"

#include <gtest/gtest.h>

namespace gw::test {
namespace {

TEST(UaNameFilter, TransliteratesAndReplacesPunctuation)
{
    const struct {
        const char* name;
        bool keepDots;
        std::string filtered;
    } cases[] = {
        {"Трансформатор 1", false, "Transformator_1"},
        {"1-я секция", false, "n_a_sekcia"},
        {"9", false, "n"},
        {"Ёлка, ёж", false, "Elka__eg"},
        {"АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ", false, "ABVGDEEGZIIKLMNOPRSTYFHCCSSIIIEUA"},
        {"абвгдеёжзийклмнопрстуфхцчшщъыьэюя", false, "abvgdeegziiklmnoprstyfhccssiiieua"},
        {" !@#$%^&*()-=+\\|/,<>?:;'\"`", false, std::string(26, '_')},
        {"Q1.2", false, "Q1_2"},
        {"Q1.2", true, "Q1.2"},
        {"T_1[a]{b}~", false, "T_1[a]{b}~"},
        // Latin-1 keeps its byte; what no byte can hold becomes "_".
        {"t°", false, "t\xB0"},
        {"№5 і", false, "_5__"},
        {"", false, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UaNameFilter(c.name, c.keepDots), c.filtered) << c.name;
}

} // namespace
} // namespace gw::test
