// TOraNumber, TOraTimeStamp and TOraInterval: Oracle's NUMBER, TIMESTAMP and INTERVAL values held
// in their own client forms, with conversions through the client library and the locale.
#include <cctype>
#include <cstring>
#include <functional>
#include <type_traits>
#include <vector>

#include "dataaccess/oracle/OraClasses.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Numbers.h"

namespace dac {

namespace {

// The value objects call the library with its one environment, loaded on first use.
OCIEnv* ValueEnvironment() {
    if (!OCIInitialized) InitOCI();
    return OCIEnvHandle;
}

OCIError* ValueErrorHandle() {
    ValueEnvironment();
    return OCIErrorHandle();
}

// The environment speaks UTF-16 when InitOCI asked for it (9.0 clients and later).
bool ValueUnicode() {
    return OCIUnicode && OCIVersion >= 9000;
}

void CheckValue(sword status) {
    if (status != OCI_SUCCESS) CheckOCIStatus(status, ValueUnicode(), OCIErrorHandle());
}

// Nulls sort first; two values as the client compares them.
int CompareValues(bool aNull, bool bNull, const std::function<sword(sword*)>& compare) {
    if (aNull || bNull) return aNull == bNull ? 0 : aNull ? -1 : 1;
    sword result = 0;
    CheckValue(compare(&result));
    return result;
}

AnsiString NlsNumericCharacters() {
    const auto& fs = rtl::FormatSettings();
    return AnsiString("NLS_NUMERIC_CHARACTERS='") + fs.DecimalSeparator + fs.ThousandSeparator + "'";
}

constexpr int NumberTextChars = 64;
constexpr int DateTimeTextChars = 255;
// Scientific model: "9D", 41 nines, "EEEE".
const AnsiString ScientificModel = "9D" + AnsiString(41, '9') + "EEEE";
constexpr size_t MaxNumberModel = 64;

// ---- datetime format models ----------------------------------------------------------------

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

char Upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool ContainsText(const AnsiString& s, const char* what) {
    AnsiString lower;
    for (char c : s) lower += Lower(c);
    return lower.find(what) != AnsiString::npos;
}

// Consecutive characters from i that are one of the letters (either case).
size_t RunOf(const AnsiString& f, size_t i, const char* letters) {
    size_t n = 0;
    while (i + n < f.size() && std::strchr(letters, Lower(f[i + n])) && f[i + n] != '\0') ++n;
    return n;
}

// Quoted text (single or double quotes) goes over in double quotes; an unclosed quote takes the
// rest and gets its closing quote. Returns the position after the quoted text.
size_t CopyQuoted(const AnsiString& f, size_t i, AnsiString& out) {
    const size_t close = f.find(f[i], i + 1);
    out += '"';
    if (close == AnsiString::npos) {
        out += f.substr(i + 1);
        out += '"';
        return f.size();
    }
    out += f.substr(i + 1, close - i - 1);
    out += '"';
    return close + 1;
}

AnsiString DateModel(const AnsiString& f, char dateSeparator) {
    AnsiString out;
    size_t i = 0;
    while (i < f.size()) {
        const char c = f[i];
        const char lc = Lower(c);
        if (c == '\'' || c == '"') {
            i = CopyQuoted(f, i, out);
            continue;
        }
        if (lc == 'd') {
            const size_t n = RunOf(f, i, "d");
            out += n == 1 ? "fmDDfm" : n == 2 ? "DD" : n == 3 ? "DY" : "fmDAYfm";
            i += n;
        } else if (lc == 'm') {
            const size_t n = RunOf(f, i, "m");
            out += n == 1 ? "fmMMfm" : n == 2 ? "MM" : n == 3 ? "MON" : "MONTH";
            i += n;
        } else {
            // "/" is the platform's place holder for the date separator.
            out += lc == 'g' ? 'E' : c == '/' ? dateSeparator : Upper(c);
            ++i;
        }
    }
    return out;
}

AnsiString TimeModel(const AnsiString& f, char decimalSeparator, char timeSeparator) {
    const char* hours = ContainsText(f, "ampm") || ContainsText(f, "t") ? "12" : "24";
    const bool fractionShown = ContainsText(f, "z");
    AnsiString out;
    size_t i = 0;
    while (i < f.size()) {
        const char c = f[i];
        const char lc = Lower(c);
        if (c == '\'' || c == '"') {
            i = CopyQuoted(f, i, out);
            continue;
        }
        if (ContainsText(f.substr(i, 4), "ampm")) {
            out += "AM";
            i += 4;
            continue;
        }
        size_t n = 1;
        if (lc == 'h') {
            n = RunOf(f, i, "h");
            out += n == 1 ? AnsiString("fmHH") + hours + "fm" : AnsiString("HH") + hours;
        } else if (lc == 'n' || lc == 'm') {
            n = RunOf(f, i, "nm");
            out += n == 1 ? "fmMIfm" : "MI";
        } else if (lc == 's') {
            n = RunOf(f, i, "s");
            out += n == 1 ? "fmSSfm" : "SS";
            if (!fractionShown) out += AnsiString(1, decimalSeparator) + "FF";
        } else if (lc == 'z') {
            n = RunOf(f, i, "z");
            out += "FF";
        } else if (lc == 't') {
            n = RunOf(f, i, "t");
            out += "AM";
        } else {
            // ":" is the platform's place holder for the time separator.
            out += c == ':' ? timeSeparator : Upper(c);
        }
        i += n;
    }
    return out;
}

}  // namespace

AnsiString OraNumberFormatModel(const AnsiString& text, char decimalSeparator, char thousandSeparator) {
    AnsiString model;
    bool isSigned = false;
    bool pointSeen = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == 'e' || c == 'E') {
            model = (isSigned ? "S" : "") + ScientificModel;
            break;
        }
        if (i == 0 && (c == '+' || c == '-')) {
            model += 'S';
            isSigned = true;
        } else if (c == decimalSeparator && !pointSeen) {
            model += 'D';
            pointSeen = true;
        } else if (c == thousandSeparator && !pointSeen && i > 0 &&
                   std::isdigit(static_cast<unsigned char>(text[i - 1]))) {
            model += 'G';
        } else {
            model += '9';
        }
    }
    if (model.size() >= MaxNumberModel) model.resize(isSigned ? MaxNumberModel : MaxNumberModel - 1);
    return model;
}

AnsiString OraDateTimeFormatModel(const rtl::TFormatSettings& fs, bool withTimeZone) {
    AnsiString model = DateModel(fs.ShortDateFormat, fs.DateSeparator) + " " +
                       TimeModel(fs.LongTimeFormat, fs.DecimalSeparator, fs.TimeSeparator);
    if (withTimeZone) model += " TZH:TZM";
    return model;
}

// ---------------------------------------------------------------------------------------------
// TOraNumber

TOraNumber::TOraNumber() : value_(new OCINumber{}) {
    // A number made not null without a value reads as zero.
    value_->OCINumberPart[0] = 1;
    value_->OCINumberPart[1] = 0x80;
}

TOraNumber::~TOraNumber() {
    if (ownsValue_) delete value_;
}

void TOraNumber::SetOCINumberPtr(OCINumber* p) {
    if (p == value_) return;
    if (!p) {
        OwnStorage();
        SetIsNull(true);
        return;
    }
    if (ownsValue_) delete value_;
    value_ = p;
    ownsValue_ = false;
    SetIsNull(false);
}

void TOraNumber::OwnStorage() {
    if (ownsValue_) return;
    value_ = new OCINumber(*value_);
    ownsValue_ = true;
}

int64_t TOraNumber::GetAsLargeInt() {
    if (GetIsNull()) return 0;
    int64_t v = 0;
    CheckValue(OCINumberToInt(ValueErrorHandle(), value_, sizeof v, OCI_NUMBER_SIGNED, &v));
    return v;
}

void TOraNumber::SetAsLargeInt(int64_t value) {
    OCINumber n{};
    CheckValue(OCINumberFromInt(ValueErrorHandle(), &value, sizeof value, OCI_NUMBER_SIGNED, &n));
    *value_ = n;
    SetIsNull(false);
}

int32_t TOraNumber::GetAsInteger() {
    return static_cast<int32_t>(static_cast<uint64_t>(GetAsLargeInt()) & 0xFFFFFFFFu);
}

void TOraNumber::SetAsInteger(int32_t value) {
    SetAsLargeInt(value);
}

double TOraNumber::GetAsFloat() {
    if (GetIsNull()) return 0;
    double v = 0;
    CheckValue(OCINumberToReal(ValueErrorHandle(), value_, sizeof v, &v));
    return v;
}

void TOraNumber::SetAsFloat(double value) {
    OCINumber n{};
    CheckValue(OCINumberFromReal(ValueErrorHandle(), &value, sizeof value, &n));
    *value_ = n;
    SetIsNull(false);
}

rtl::TBcd TOraNumber::GetAsBCD() {
    if (GetIsNull()) return rtl::NullBcd;
    rtl::TBcd bcd;
    OCINumberToBcd(value_, bcd);
    return bcd;
}

void TOraNumber::SetAsBCD(const rtl::TBcd& value) {
    SetAsString(rtl::BcdToStr(value));
}

AnsiString TOraNumber::GetAsString() {
    if (GetIsNull()) return AnsiString();
    if (OCIVersion < 8100) return rtl::FormatFloat("0.#", GetAsFloat());
    const bool unicode = ValueUnicode();
    const char decimal = rtl::FormatSettings().DecimalSeparator;
    // TOCIText points into 8-bit strings: they must outlive it.
    const AnsiString modelText = "TM9", nlsText = NlsNumericCharacters();
    TOCIText model(modelText, unicode);
    TOCIText nls(nlsText, unicode);
    // Room for a terminator after the 64 characters.
    std::vector<uint8_t> buffer((NumberTextChars + 1) * OCICharSize(unicode), 0);
    ub4 size = NumberTextChars * OCICharSize(unicode);
    CheckValue(OCINumberToText(ValueErrorHandle(), value_, model.Ptr(), model.Size(), nls.Ptr(), nls.Size(),
                               &size, buffer.data()));
    AnsiString text = OCITextToStringLen(buffer.data(), static_cast<int>(size), unicode);
    if (!text.empty() && text[0] == decimal)
        text.insert(0, "0");
    else if (text.size() > 1 && text[0] == '-' && text[1] == decimal)
        text.insert(1, "0");
    return text;
}

void TOraNumber::SetAsString(const AnsiString& value) {
    if (value.empty()) {
        SetIsNull(true);
        return;
    }
    const auto& fs = rtl::FormatSettings();
    const bool unicode = ValueUnicode();
    const AnsiString modelText = OraNumberFormatModel(value, fs.DecimalSeparator, fs.ThousandSeparator);
    const AnsiString nlsText = NlsNumericCharacters();
    TOCIText text(value, unicode);
    TOCIText model(modelText, unicode);
    TOCIText nls(nlsText, unicode);
    // Converted aside, so that text which is no number leaves the value as it was.
    OCINumber n{};
    CheckValue(OCINumberFromText(ValueErrorHandle(), text.Ptr(), text.Size(), model.Ptr(), model.Size(),
                                 nls.Ptr(), nls.Size(), &n));
    *value_ = n;
    SetIsNull(false);
}

void TOraNumber::AssignTo(TOraNumber* dest) {
    dest->SetIsNull(GetIsNull());
    if (!GetIsNull()) CheckValue(OCINumberAssign(ValueErrorHandle(), value_, dest->value_));
}

int TOraNumber::Compare(TOraNumber* value) {
    return CompareValues(GetIsNull(), value->GetIsNull(), [&](sword* result) {
        return OCINumberCmp(ValueErrorHandle(), value_, value->value_, result);
    });
}

// ---------------------------------------------------------------------------------------------
// Values in descriptors

namespace {

ub4 TimeStampDescriptorType(TDataType dataType) {
    switch (dataType) {
        case dtSQLTimeStamp:
        case dtTimeStamp:
        case dtTimeStampLTZ:
            return OCI_DTYPE_TIMESTAMP;
        case dtTimeStampTZ:
            return OCI_DTYPE_TIMESTAMP_TZ;
        default:
            rtl::Assert(false, "Assertion failure");
            return 0;
    }
}

ub4 IntervalDescriptorType(TDataType dataType) {
    switch (dataType) {
        case dtIntervalYM:
            return OCI_DTYPE_INTERVAL_YM;
        case dtIntervalDS:
            return OCI_DTYPE_INTERVAL_DS;
        default:
            rtl::Assert(false, "Assertion failure");
            return 0;
    }
}

template <class T>
T* NewValueDescriptor(ub4 type) {
    T* d = nullptr;
    CheckValue(OCIDescriptorAlloc(ValueEnvironment(), reinterpret_cast<void**>(&d), type, 0, nullptr));
    return d;
}

// Destructors may run after the client library went away; nothing is left to free then.
template <class T>
void FreeValueDescriptorQuietly(T* descriptor, ub4 type) noexcept {
    try {
        OCIDescriptorFree(descriptor, type);
    } catch (...) {
    }
}

// A fresh descriptor for a conversion that replaces the value only when it succeeds.
template <class T>
class TScratchDescriptor {
public:
    explicit TScratchDescriptor(ub4 type) : p_(NewValueDescriptor<T>(type)), type_(type) {}
    ~TScratchDescriptor() {
        if (p_) FreeValueDescriptorQuietly(p_, type_);
    }
    TScratchDescriptor(const TScratchDescriptor&) = delete;
    TScratchDescriptor& operator=(const TScratchDescriptor&) = delete;
    T* Get() const { return p_; }
    T* Release() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }

private:
    T* p_;
    ub4 type_;
};

}  // namespace

template <class TDescriptor>
TOraDescriptorValue<TDescriptor>::~TOraDescriptorValue() {
    if (descriptor_ && ownsDescriptor_) FreeValueDescriptorQuietly(descriptor_, descriptorType_);
}

template <class TDescriptor>
void TOraDescriptorValue<TDescriptor>::AllocDescriptor() {
    if (descriptor_) return;
    descriptor_ = NewValueDescriptor<TDescriptor>(descriptorType_);
    ownsDescriptor_ = true;
}

template <class TDescriptor>
void TOraDescriptorValue<TDescriptor>::FreeDescriptor() {
    if (descriptor_ && ownsDescriptor_) CheckValue(OCIDescriptorFree(descriptor_, descriptorType_));
    descriptor_ = nullptr;
    indicator_ = -1;
    ownsDescriptor_ = false;
}

template <class TDescriptor>
void TOraDescriptorValue<TDescriptor>::SetDescriptorType(ub4 value) {
    if (value == descriptorType_) return;
    FreeDescriptor();
    descriptorType_ = value;
}

template <class TDescriptor>
void TOraDescriptorValue<TDescriptor>::LendDescriptor(TDescriptor* p) {
    FreeDescriptor();
    descriptor_ = p;
    if (p) SetIsNull(false);
}

template <class TDescriptor>
void TOraDescriptorValue<TDescriptor>::ReplaceDescriptor(TDescriptor* fresh) {
    if (descriptor_ && !ownsDescriptor_) {
        // A lent descriptor (an object attribute's) keeps its place: the new value is copied in.
        sword rc;
        if constexpr (std::is_same_v<TDescriptor, OCIDateTime>)
            rc = OCIDateTimeAssign(ValueEnvironment(), ValueErrorHandle(), fresh, descriptor_);
        else
            rc = OCIIntervalAssign(ValueEnvironment(), ValueErrorHandle(), fresh, descriptor_);
        OCIDescriptorFree(fresh, descriptorType_);
        CheckValue(rc);
        SetIsNull(false);
        return;
    }
    if (descriptor_ && ownsDescriptor_) CheckValue(OCIDescriptorFree(descriptor_, descriptorType_));
    descriptor_ = fresh;
    ownsDescriptor_ = true;
    SetIsNull(false);
}

template <class TDescriptor>
void TOraDescriptorValue<TDescriptor>::AssignStateTo(TOraDescriptorValue& dest) {
    dest.SetDescriptorType(descriptorType_);
    dest.AllocDescriptor();
    dest.indicator_ = indicator_;
}

template class TOraDescriptorValue<OCIDateTime>;
template class TOraDescriptorValue<OCIInterval>;

// ---------------------------------------------------------------------------------------------
// TOraTimeStamp

TOraTimeStamp::TOraTimeStamp(TDataType dataType)
    : TOraDescriptorValue<OCIDateTime>(TimeStampDescriptorType(dataType)) {}

void TOraTimeStamp::Construct(int16_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute,
                              uint8_t second, uint32_t fraction, const AnsiString& timeZone) {
    const bool unicode = ValueUnicode();
    TOCIText zone(timeZone, unicode);
    CheckValue(OCIDateTimeConstruct(ValueEnvironment(), ValueErrorHandle(), GetOCIDateTime(), year, month,
                                    day, hour, minute, second, fraction,
                                    timeZone.empty() ? nullptr : zone.Ptr(),
                                    timeZone.empty() ? 0 : static_cast<size_t>(zone.Size())));
    SetIsNull(false);
}

void TOraTimeStamp::GetDate(int16_t& year, uint8_t& month, uint8_t& day) {
    CheckValue(
        OCIDateTimeGetDate(ValueEnvironment(), ValueErrorHandle(), GetOCIDateTime(), &year, &month, &day));
}

void TOraTimeStamp::GetTime(uint8_t& hour, uint8_t& minute, uint8_t& second, uint32_t& fraction) {
    CheckValue(OCIDateTimeGetTime(ValueEnvironment(), ValueErrorHandle(), GetOCIDateTime(), &hour, &minute,
                                  &second, &fraction));
}

rtl::TDateTime TOraTimeStamp::GetAsDateTime() {
    if (GetIsNull()) return 0;
    int16_t year;
    uint8_t month, day, hour, minute, second;
    uint32_t fraction;
    GetDate(year, month, day);
    GetTime(hour, minute, second, fraction);
    const rtl::TDateTime date = rtl::EncodeDate(year, month, day);
    const rtl::TDateTime time = rtl::EncodeTime(hour, minute, second, static_cast<int>(fraction / 1000000));
    return date >= 0 ? date + time : date - time;
}

void TOraTimeStamp::SetAsDateTime(rtl::TDateTime value) {
    rtl::Word year, month, day, hour, minute, second, msec;
    rtl::DecodeDateTime(value, year, month, day, hour, minute, second, msec);
    Construct(static_cast<int16_t>(year), static_cast<uint8_t>(month), static_cast<uint8_t>(day),
              static_cast<uint8_t>(hour), static_cast<uint8_t>(minute), static_cast<uint8_t>(second),
              static_cast<uint32_t>(msec) * 1000000u);
}

void TOraTimeStamp::SetFormat(const AnsiString& value) {
    format_ = value.empty() ? OraDateTimeFormatModel(rtl::FormatSettings(),
                                                     GetDescriptorType() == OCI_DTYPE_TIMESTAMP_TZ)
                            : value;
}

void TOraTimeStamp::BuildFormatWhenEmpty() {
    if (format_.empty()) SetFormat(AnsiString());
}

AnsiString TOraTimeStamp::GetAsString() {
    if (GetIsNull()) return AnsiString();
    BuildFormatWhenEmpty();
    const bool unicode = ValueUnicode();
    TOCIText format(format_, unicode);
    std::vector<uint8_t> buffer((DateTimeTextChars + 1) * OCICharSize(unicode), 0);
    ub4 size = DateTimeTextChars * OCICharSize(unicode);
    CheckValue(OCIDateTimeToText(ValueEnvironment(), ValueErrorHandle(), GetOCIDateTime(), format.Ptr(),
                                 static_cast<ub1>(std::min(format.Size(), 255)), Precision, nullptr, 0, &size,
                                 buffer.data()));
    return OCITextToStringLen(buffer.data(), static_cast<int>(size), unicode);
}

void TOraTimeStamp::SetAsString(const AnsiString& value) {
    if (value.empty()) {
        SetIsNull(true);
        return;
    }
    BuildFormatWhenEmpty();
    const bool unicode = ValueUnicode();
    TOCIText text(value, unicode);
    TOCIText format(format_, unicode);
    TScratchDescriptor<OCIDateTime> fresh(GetDescriptorType());
    CheckValue(OCIDateTimeFromText(ValueEnvironment(), ValueErrorHandle(), text.Ptr(),
                                   static_cast<size_t>(text.Size()), format.Ptr(),
                                   static_cast<ub1>(std::min(format.Size(), 255)), nullptr, 0, fresh.Get()));
    ReplaceDescriptor(fresh.Release());
}

void TOraTimeStamp::AssignTo(TOraTimeStamp* dest) {
    AssignStateTo(*dest);
    dest->SetFormat(format_);
    dest->Precision = Precision;
    if (!GetIsNull())
        CheckValue(OCIDateTimeAssign(ValueEnvironment(), ValueErrorHandle(), GetOCIDateTime(),
                                     dest->GetOCIDateTime()));
}

int TOraTimeStamp::Compare(TOraTimeStamp* value) {
    return CompareValues(GetIsNull(), value->GetIsNull(), [&](sword* result) {
        return OCIDateTimeCompare(ValueEnvironment(), ValueErrorHandle(), GetOCIDateTime(),
                                  value->GetOCIDateTime(), result);
    });
}

// ---------------------------------------------------------------------------------------------
// TOraInterval

namespace {

void CheckIntervalValid(OCIInterval* interval) {
    ub4 valid = 0;
    CheckValue(OCIIntervalCheck(ValueEnvironment(), ValueErrorHandle(), interval, &valid));
    if (valid != 0) RaiseError("Invalid interval.");
}

}  // namespace

TOraInterval::TOraInterval(TDataType dataType)
    : TOraDescriptorValue<OCIInterval>(IntervalDescriptorType(dataType)) {}

void TOraInterval::CheckValid() {
    CheckIntervalValid(GetOCIInterval());
}

AnsiString TOraInterval::GetAsString() {
    if (GetIsNull()) return AnsiString();
    const bool unicode = ValueUnicode();
    std::vector<uint8_t> buffer((DateTimeTextChars + 1) * OCICharSize(unicode), 0);
    size_t size = 0;
    CheckValue(OCIIntervalToText(ValueEnvironment(), ValueErrorHandle(), GetOCIInterval(), LeadingPrecision,
                                 FractionPrecision, buffer.data(),
                                 static_cast<size_t>(DateTimeTextChars * OCICharSize(unicode)), &size));
    return OCITextToStringLen(buffer.data(), static_cast<int>(size), unicode);
}

void TOraInterval::SetAsString(const AnsiString& value) {
    if (value.empty()) {
        SetIsNull(true);
        return;
    }
    TOCIText text(value, ValueUnicode());
    // Converted and checked aside, so that a failure leaves the value as it was.
    TScratchDescriptor<OCIInterval> fresh(GetDescriptorType());
    CheckValue(OCIIntervalFromText(ValueEnvironment(), ValueErrorHandle(), text.Ptr(),
                                   static_cast<size_t>(text.Size()), fresh.Get()));
    CheckIntervalValid(fresh.Get());
    ReplaceDescriptor(fresh.Release());
}

void TOraInterval::AssignTo(TOraInterval* dest) {
    AssignStateTo(*dest);
    dest->LeadingPrecision = LeadingPrecision;
    dest->FractionPrecision = FractionPrecision;
    if (!GetIsNull())
        CheckValue(OCIIntervalAssign(ValueEnvironment(), ValueErrorHandle(), GetOCIInterval(),
                                     dest->GetOCIInterval()));
}

int TOraInterval::Compare(TOraInterval* value) {
    return CompareValues(GetIsNull(), value->GetIsNull(), [&](sword* result) {
        return OCIIntervalCompare(ValueEnvironment(), ValueErrorHandle(), GetOCIInterval(),
                                  value->GetOCIInterval(), result);
    });
}

}  // namespace dac
