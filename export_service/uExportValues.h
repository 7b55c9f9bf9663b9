// The value forms of the export's data file: how a field's value becomes the text of its
// element. Every text comes out in UTF-8; escaping is the XML writer's (common/uXmlNode.h).
//
//   integer    decimal, a minus sign when negative, no separators
//   amount     general format, at most 15 significant digits (TPersistentObject::FloatToText)
//   measure    at most 9 significant digits, no leading zero before the point, scientific
//              notation outside a fixed range (MeasureText)
//   date-time  "yyyy-mm-ddThh:nn:ssZ" from the value as it is, without a time-zone conversion
//   date       "yyyy-mm-dd"
//   text       8-bit text in the ANSI code page (1251) converted to UTF-8
//   raw        the same conversion: raw values are identifiers, codes and numbers, whose ASCII
//              bytes it leaves as they are, while any other byte would make the document
//              invalid UTF-8 and the whole package unreadable for the web side
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/rtl/Types.h"

namespace svc {

enum class TValueForm : uint8_t { Integer, Amount, Measure, DateTime, Date, Text, Raw };

std::string IntegerText(int32_t value);
std::string AmountText(double value);
// 0 gives "0", a negative value "-" and the form of its magnitude. Otherwise the digits are the
// value rounded (halves to even) to `digits` significant digits, less trailing zeros after the
// point; with p digits before the point, p < -1 or p > (number of digits) + 2 gives scientific
// notation "d.dddE<exponent>". So 12.5, 100, .5, -.05, 1E-3, 3.14159265, 1.00000000E12.
std::string MeasureText(double value, int digits = 9);
std::string DateTimeText(rtl::TDateTime value);
std::string DateText(rtl::TDateTime value);
// The same two forms appended to a document, without a string of their own.
void AppendDateTimeText(std::string& out, rtl::TDateTime value);
void AppendDateText(std::string& out, rtl::TDateTime value);
std::string AnsiText(std::string_view ansi);

}  // namespace svc
