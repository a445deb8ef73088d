#include "core/typeident.h"

#include <gtest/gtest.h>

namespace gw {
namespace {

using N = NameTypeIdent;

TEST(TypeIdent, KnownCodesWithTheirLengthsAndNames)
{
    const TTypeIdentList types;
    EXPECT_EQ(types.Count(), 67);
    struct Row {
        int code;
        N name;
        int objlen, timelen;
        TQualityType qtype;
    };
    const Row rows[] = {
        {0, N::M_EMPTY, 1, 0, TQualityType::Q0},     {1, N::M_SP_NA, 1, 0, TQualityType::QTS1},
        {2, N::M_SP_TA, 1, 3, TQualityType::QTS1},   {3, N::M_DP_NA, 1, 0, TQualityType::QTS2},
        {5, N::M_ST_NA, 2, 0, TQualityType::QBITS},  {7, N::M_BO_NA, 5, 0, TQualityType::QBITS},
        {9, N::M_ME_NA, 3, 0, TQualityType::Q8I},    {11, N::M_ME_NB, 3, 0, TQualityType::Q8F},
        {13, N::M_ME_NC, 5, 0, TQualityType::Q8R},   {15, N::M_IT_NA, 5, 0, TQualityType::Q8TII},
        {20, N::M_PS_NA, 5, 0, TQualityType::QBITS}, {21, N::M_ME_ND, 2, 0, TQualityType::Q0},
        {30, N::M_SP_TB, 1, 7, TQualityType::QTS1},  {31, N::M_DP_TB, 1, 7, TQualityType::QTS2},
        {32, N::M_ST_TB, 2, 7, TQualityType::Q1},    {36, N::M_ME_TF, 5, 7, TQualityType::Q8R},
        {37, N::M_IT_TB, 5, 7, TQualityType::Q8TII}, {40, N::M_EP_TF, 4, 7, TQualityType::Q1},
        {45, N::C_SC_NA, 1, 0, TQualityType::Q0},    {46, N::C_DC_NA, 1, 0, TQualityType::Q0},
        {50, N::C_SE_NC, 5, 0, TQualityType::Q1S},   {58, N::C_SC_TA, 1, 7, TQualityType::Q0},
        {64, N::C_BO_TA, 4, 7, TQualityType::Q0},    {70, N::M_EI_NA, 1, 0, TQualityType::Q0},
        {100, N::C_IC_NA, 1, 0, TQualityType::Q0},   {101, N::C_CI_NA, 1, 0, TQualityType::Q0},
        {102, N::C_RD_NA, 0, 0, TQualityType::Q0},   {103, N::C_CS_NA, 7, 0, TQualityType::Q0},
        {107, N::C_TS_TA, 2, 7, TQualityType::Q0},   {113, N::P_AC_NA, 1, 0, TQualityType::Q0},
        {136, N::M_BO_TC, 1, 7, TQualityType::Q0},   {139, N::M_ME_NE, 1, 0, TQualityType::Q0},
        {145, N::M_ME_TJ, 5, 7, TQualityType::Q1},   {152, N::M_CB_TC, 4, 7, TQualityType::Q0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.code);
        PTypeIdent t = types.FindTypeIdent(r.code);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->Name, r.name);
        EXPECT_EQ(t->objlen, r.objlen);
        EXPECT_EQ(t->timelen, r.timelen);
        EXPECT_EQ(t->qtype, r.qtype);
        EXPECT_EQ(types.FindTypeIdent(r.name), t);
    }
    EXPECT_EQ(types.FindTypeIdent(1)->Text, "(M_SP_NA) Одноэлементная информация ТС");
    EXPECT_EQ(types.FindTypeIdent(58)->Text, "(C_SC_TA) Однопозиционная команда с меткой времени 7 байт");
}

TEST(TypeIdent, UnknownCodesAndNamesGiveNothing)
{
    const TTypeIdentList types;
    for (int code : {22,  29,  41,  44,  52,  57,  65,  69,  71,  99,  108, 109,   114,
                     135, 137, 138, 140, 143, 146, 149, 153, 255, 256, -1,  100000})
        EXPECT_EQ(types.FindTypeIdent(code), nullptr) << code;
    for (N name : {N::F_FR_NA, N::F_SR_NA, N::F_SC_NA, N::F_LS_NA, N::F_AF_NA, N::F_SG_NA, N::F_DR_NA})
        EXPECT_EQ(types.FindTypeIdent(name), nullptr);
}

TEST(TypeIdent, CauseNames)
{
    const TTypeIdentList types;
    EXPECT_EQ(types.CauseName(0), "не используется");
    EXPECT_EQ(types.CauseName(3), "спорадическая передача");
    EXPECT_EQ(types.CauseName(7), "подтверждение активации");
    EXPECT_EQ(types.CauseName(17), "резерв");
    EXPECT_EQ(types.CauseName(20), "общий опрос");
    EXPECT_EQ(types.CauseName(21), "опрос группы 1");
    EXPECT_EQ(types.CauseName(25), "опрос группы 5");
    EXPECT_EQ(types.CauseName(36), "опрос группы 16");
    EXPECT_EQ(types.CauseName(37), "общий опрос счетчиков");
    EXPECT_EQ(types.CauseName(40), "запрос счетчиков группы 3");
    EXPECT_EQ(types.CauseName(43), "резерв");
    EXPECT_EQ(types.CauseName(47), "неизвестный адрес объекта информации");
    EXPECT_EQ(types.CauseName(48), "");
    EXPECT_EQ(types.CauseName(50), "");
    EXPECT_EQ(types.CauseName(-1), "");
}

} // namespace
} // namespace gw
