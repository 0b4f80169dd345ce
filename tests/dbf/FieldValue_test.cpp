#include "dbf/FieldValue.h"
#include "platform/VariantConversionException.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(FieldValue, KindsCarryTheVariantTypeCodes)
{
    EXPECT_EQ(FieldValue().GetTypeCode(), 0);
    EXPECT_EQ(FieldValue::MakeNull().GetTypeCode(), 1);
    EXPECT_EQ(FieldValue::MakeInteger(1).GetTypeCode(), 3);
    EXPECT_EQ(FieldValue::MakeDouble(1).GetTypeCode(), 5);
    EXPECT_EQ(FieldValue::MakeCurrency(1).GetTypeCode(), 6);
    EXPECT_EQ(FieldValue::MakeDate(1).GetTypeCode(), 7);
    EXPECT_EQ(FieldValue::MakeText("").GetTypeCode(), 8);
    EXPECT_EQ(FieldValue::MakeLogical(true).GetTypeCode(), 11);
    EXPECT_EQ(FieldValue::MakeMemoRef(1, 2).GetTypeCode(), 14);
    EXPECT_EQ(FieldValue::MakeUnsigned(1).GetTypeCode(), 19);
    EXPECT_EQ(FieldValue::MakeBytes(nullptr, 0).GetTypeCode(), 0x4011);
    EXPECT_THROW(FieldValue::MakeText("x").GetInteger(), std::logic_error);
}

TEST(FieldValue, EmptyConvertsToZeroForms)
{
    EXPECT_EQ(FieldValue().ConvertTo(FieldKind::Text), FieldValue::MakeText(""));
    EXPECT_EQ(FieldValue().ConvertTo(FieldKind::Double), FieldValue::MakeDouble(0));
    EXPECT_EQ(FieldValue().ConvertTo(FieldKind::Currency), FieldValue::MakeCurrency(0));
    EXPECT_EQ(FieldValue().ConvertTo(FieldKind::Logical), FieldValue::MakeLogical(false));
}

TEST(FieldValue, RefusedConversionsRaise)
{
    EXPECT_THROW(FieldValue::MakeNull().ConvertTo(FieldKind::Text), CVariantConversionException);
    EXPECT_THROW(FieldValue::MakeText("abc").ConvertTo(FieldKind::Double), CVariantConversionException);
    EXPECT_THROW(FieldValue::MakeText("1e10").ConvertTo(FieldKind::Integer), CVariantConversionException);
    EXPECT_THROW(FieldValue::MakeDouble(1e300).ConvertTo(FieldKind::Currency), CVariantConversionException);
    EXPECT_THROW(FieldValue::MakeMemoRef(1, 1).ConvertTo(FieldKind::Text), CVariantConversionException);
    EXPECT_THROW(FieldValue::MakeText("x").ConvertTo(FieldKind::Bytes), CVariantConversionException);
    try {
        FieldValue::MakeText("abc").ConvertTo(FieldKind::Double);
    } catch (const CVariantConversionException& e) {
        EXPECT_NE(e.GetMessage().find("abc"), std::string::npos);
    }
}

TEST(FieldValue, NumericConversionsFollowVariantRules)
{
    EXPECT_EQ(FieldValue::MakeLogical(true).ConvertTo(FieldKind::Double).GetDouble(), -1.0);
    EXPECT_EQ(FieldValue::MakeLogical(true).ConvertTo(FieldKind::Text).GetText(), "True");
    EXPECT_EQ(FieldValue::MakeDouble(2.5).ConvertTo(FieldKind::Integer).GetInteger(), 2);
    EXPECT_EQ(FieldValue::MakeCurrency(25000).ConvertTo(FieldKind::Integer).GetInteger(), 2);
    EXPECT_EQ(FieldValue::MakeCurrency(35000).ConvertTo(FieldKind::Integer).GetInteger(), 4);
    EXPECT_EQ(FieldValue::MakeCurrency(-35000).ConvertTo(FieldKind::Integer).GetInteger(), -4);
    EXPECT_EQ(FieldValue::MakeInteger(-3).ConvertTo(FieldKind::Currency).GetCurrency(), -30000);
    EXPECT_EQ(FieldValue::MakeCurrency(123456).ConvertTo(FieldKind::Text).GetText(), "12.3456");
    EXPECT_EQ(FieldValue::MakeText("12.3456").ConvertTo(FieldKind::Currency).GetCurrency(), 123456);
    EXPECT_EQ(FieldValue::MakeDouble(0.1).ConvertTo(FieldKind::Currency).GetCurrency(), 1000);
    EXPECT_TRUE(FieldValue::MakeText("2").ConvertTo(FieldKind::Logical).GetLogical());
    EXPECT_EQ(FieldValue::MakeUnsigned(4000000000u).ConvertTo(FieldKind::Text).GetText(), "4000000000");
    EXPECT_THROW(FieldValue::MakeUnsigned(4000000000u).ConvertTo(FieldKind::Integer), CVariantConversionException);
}
