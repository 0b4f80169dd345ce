#pragma once
// The byte forms of field values inside a record: DecodeField turns the bytes
// of one field into a FieldValue, EncodeField writes a FieldValue into them.
// Neither touches the memo file; memo, general, picture and binary-memo
// fields decode to their block reference (CDBFTableDef::LoadFieldValue and
// StoreFieldValue go through the memo file).
//
// Both address the field at record + descriptor offset. The record is passed
// with its size, and a field whose offset + width does not lie inside it
// raises std::out_of_range (CDBFTableDef::Open refuses such descriptors, so
// this only guards callers that build descriptors by hand). Types with a
// fixed byte size (D 8, I 4, Y 8, T 8, B 8) in a narrower field read the
// bytes that are there (D padded with spaces, the binary types with zero
// bytes) and write only those.
//
// Blank forms (encoding an Empty value): spaces for C and D, 0 with the
// field's decimals right-aligned for N and F ("0.00"), "F" for L, eight
// spaces for T, zero bytes for I, Y, B of width 8 and "0"; M, G, P and
// binary-memo B are left as they are.

#include "dbf/DBFFieldDescriptor.h"
#include "dbf/FieldValue.h"

#include <cstddef>
#include <span>

// Decodes the field; returns the number of bytes of the field (its width).
// Never fails on the field's bytes: bad dates decode to Empty, bad numbers
// to 0, text to whatever the bytes hold.
size_t DecodeField(std::span<const unsigned char> record, const DBFFieldDescriptor& fd, FieldValue& value);

// Writes the value into the field, converting it to the field's kind first.
// Raises CVariantConversionException when the value cannot be converted; the
// field then holds spaces for C, N and F and its old bytes otherwise.
// A number whose integer part is wider than an N or F field is written as
// asterisks (the dBASE overflow form) rather than as a cut of its digits;
// when only decimals do not fit they are cut.
void EncodeField(std::span<unsigned char> record, const DBFFieldDescriptor& fd, const FieldValue& value);

// Whether a memo field's 10 bytes hold the binary reference of SIx memo
// files (byte 0 from 1 to 8, byte 1 zero, the value's length at 2 and its
// block at 6, little-endian) rather than ASCII digits.
bool IsMemoRefForm(std::span<const unsigned char> field);

// The Julian day number of 1899-12-30, day 0 of OLE dates.
constexpr int32_t kJulianDayOfOleZero = 2415019;
// Date-time fields before 0001-01-01 (Julian day 1721426) decode to Empty.
constexpr int32_t kJulianDayOfYearOne = 1721426;
