// Fiscal documents of the emulated device: shifts, receipts, corrections,
// reports. Every document is stored as real TLV records and can be read
// back record by record in data-output mode (uEmuStorage.cpp); marking codes
// are in uEmuMarking.cpp.
#include <algorithm>
#include <utility>

#include "base/uCommonUtils.h"
#include "uEmuBytes.h"
#include "uEmuDevice.h"

namespace fr {
namespace {

constexpr uint8_t rcFNState = 0x02;
constexpr uint8_t rcBadValue = 0x09;  // well-formed numbers that do not add up
constexpr uint8_t rcBadParams = 0x33;
constexpr uint8_t rcShiftOpen = 0x3C;
constexpr uint8_t rcPaymentsShort = 0x45;
constexpr uint8_t rcNoCash = 0x46;
constexpr uint8_t rcTotalOverflow = 0x48;  // 72
constexpr uint8_t rcWrongReceipt = 0x49;   // 73: the operation does not fit the open receipt
constexpr uint8_t rcNonCashTooBig = 0x4D;
constexpr uint8_t rcShift24 = 0x4E;
constexpr uint8_t rcReceiptClosed = 0x55;
constexpr uint8_t rcNegativeTotal = 0x5F;  // 95
constexpr uint8_t rcMulOverflow = 0x60;    // 96
constexpr uint8_t rcZeroTotal = 0x8E;

constexpr size_t kMaxRecord = 252;           // one record per answer: 255 minus code and result
constexpr uint64_t kMax5 = 0xFFFFFFFFFFull;  // the largest 5-byte money field

// Tax byte of an item to its tax group 1 to 12, 0 when it names none. Groups
// 1 to 6 are bits 0 to 5 (with several bits set the lowest counts), groups 7
// to 12 the bytes 81h, 82h, 84h, 88h, 90h, A0h.
uint8_t TaxGroup(uint8_t AByte) {
    if (AByte & 0x80) {
        for (uint8_t G = 7; G <= EmuTaxGroups; ++G)
            if (AByte == (0x80 | (1u << (G - 7)))) return G;
        return 0;
    }
    for (uint8_t G = 0; G < 6; ++G)
        if (AByte & (1u << G)) return uint8_t(G + 1);
    return 0;
}

// VAT rate of a tax group in percent (0 for 0% and for "no VAT"). The price
// includes the tax, so an item's tax is its sum x rate / (100 + rate).
constexpr uint64_t kRate[EmuTaxGroups + 1] = {0, 20, 10, 0, 0, 20, 10, 5, 7, 5, 7, 22, 22};

// The value of tag 1199 (the item's VAT rate) for each tax group: 1 20%,
// 2 10%, 3 20/120, 4 10/110, 5 0%, 6 without VAT, 7 5%, 8 7%, 9 5/105,
// 10 7/107, 11 22%, 12 22/122.
constexpr uint8_t kTag1199[EmuTaxGroups + 1] = {0, 1, 2, 5, 6, 3, 4, 7, 8, 9, 10, 11, 12};

bool IsVATGroup(uint8_t AGroup) {
    return kRate[AGroup] != 0;
}

// ANumerator / ADenominator rounded to the nearest integer, ties to even.
uint64_t DivRound(uint64_t ANumerator, uint64_t ADenominator) {
    uint64_t Q = ANumerator / ADenominator, R = ANumerator % ADenominator;
    if (2 * R > ADenominator || (2 * R == ADenominator && (Q & 1))) ++Q;
    return Q;
}

uint64_t ItemTaxFor(uint8_t AGroup, uint64_t ASum) {
    return IsVATGroup(AGroup) ? DivRound(ASum * kRate[AGroup], 100 + kRate[AGroup]) : 0;
}

uint64_t Distance(uint64_t A, uint64_t B) {
    return A > B ? A - B : B - A;
}

// Variable-length number: the fewest little-endian bytes, at least one.
std::string VLN(uint64_t AValue) {
    std::string S;
    do {
        S += char(AValue & 0xFF);
        AValue >>= 8;
    } while (AValue);
    return S;
}

// Quantity in millionths as a decimal-point count and the digits.
std::string FVLN(uint64_t AMillionths) {
    int Places = 6;
    while (Places > 0 && AMillionths % 10 == 0) {
        AMillionths /= 10;
        --Places;
    }
    return std::string(1, char(Places)) + VLN(AMillionths);
}

std::string U32(uint32_t V) {
    return LE(V, 4);
}

std::string Money(uint64_t AKopecks) {
    std::string S = std::to_string(AKopecks / 100) + ".";
    S += char('0' + AKopecks % 100 / 10);
    S += char('0' + AKopecks % 10);
    return S;
}

std::string Quantity(uint64_t AMillionths) {
    std::string S = std::to_string(AMillionths / 1000000);
    uint64_t Frac = AMillionths % 1000000;
    if (Frac) {
        std::string F = std::to_string(Frac);
        F.insert(0, 6 - F.size(), '0');
        while (F.back() == '0') F.pop_back();
        S += "." + F;
    }
    return S;
}

std::string DateTimeText(int64_t T) {
    std::time_t TT = std::time_t(T);
    std::tm R{};
    gmtime_r(&TT, &R);
    char B[64];
    std::snprintf(B, sizeof B, "%02d.%02d.%04d %02d:%02d", R.tm_mday, R.tm_mon + 1, R.tm_year + 1900, R.tm_hour,
                  R.tm_min);
    return B;
}

bool ValidTLV(std::string_view AData) {
    return AData.size() >= 4 && GetLE(AData.substr(2, 2)) + 4 == AData.size();
}

// Receipt type of the open command to the calculation sign of tag 1054.
uint8_t CalculationSign(uint8_t AType) {
    static const uint8_t Map[4] = {1, 3, 2, 4};
    return Map[AType & 0x03];
}

std::string TaxName(uint8_t AGroup) {
    static const char* const Names[EmuTaxGroups + 1] = {"",           "НДС 20%",    "НДС 10%",   "НДС 0%", "БЕЗ НДС",
                                                        "НДС 20/120", "НДС 10/110", "НДС 5%",    "НДС 7%", "НДС 5/105",
                                                        "НДС 7/107",  "НДС 22%",    "НДС 22/122"};
    return AGroup <= EmuTaxGroups ? Names[AGroup] : "";
}

const char* SignName(uint8_t ASign) {
    switch (ASign) {
        case 1:
            return "ПРИХОД";
        case 2:
            return "ВОЗВРАТ ПРИХОДА";
        case 3:
            return "РАСХОД";
        default:
            return "ВОЗВРАТ РАСХОДА";
    }
}

}  // namespace

// ---- storing documents ---------------------------------------------------------------

std::string TEmuDevice::CommonTags(const TEmuDocument& ADoc) const {
    std::string S;
    S += TLV(1012, U32(uint32_t(ADoc.Time)));
    S += TLV(1040, U32(ADoc.Number));
    S += TLV(1077, std::string(2, '\0') + IntToBEBytesN(ADoc.FiscalSign, 4));
    S += TLV(1041, FConfig.FNSerial);
    std::string Inn = FRegINN.size() == 10 ? FRegINN + "  " : FRegINN;
    S += TLV(1018, Inn.substr(0, 12));
    std::string Reg = FRegNumber;
    Reg.resize(20, ' ');
    S += TLV(1037, Reg);
    return S;
}

TEmuDocument& TEmuDevice::StoreDocument(uint16_t AType, std::string ATLV) {
    TEmuDocument D;
    D.Number = LastDocumentNumber() + 1;
    D.Type = AType;
    D.Time = AType == 1 && FRegTime ? FRegTime : Now();
    // A stable 32-bit "fiscal sign" from the document's identity.
    uint64_t H = 1469598103934665603ull;
    std::string Key = FConfig.FNSerial + std::to_string(D.Number) + "/" + std::to_string(D.Time);
    for (char C : Key) H = (H ^ uint8_t(C)) * 1099511628211ull;
    D.FiscalSign = uint32_t(H ^ (H >> 32));
    D.TLV = CommonTags(D) + ATLV + FPendingTLV;
    FPendingTLV.clear();
    FBegunReport = -1;  // any document ends a registration report begun and not made
    FDocuments.push_back(std::move(D));
    ++FShiftDocuments;
    return FDocuments.back();
}

void TEmuDevice::PrintDocumentFooter(const TEmuDocument& ADoc) {
    size_t W = FConfig.LineLen;
    PrintUtf8(Columns("ЗН ККТ", FConfig.SerialNumber, W));
    PrintUtf8(Columns("ФН №", FConfig.FNSerial, W));
    PrintUtf8(Columns("ФД № " + std::to_string(ADoc.Number), "ФП " + std::to_string(ADoc.FiscalSign), W));
    PrintUtf8(DateTimeText(ADoc.Time));
}

std::string TEmuDevice::ItemTLV(const TItem& AItem) const {
    std::string Fixed;
    Fixed += TLV(1079, VLN(AItem.Price));
    Fixed += TLV(1023, FVLN(AItem.Quantity));
    Fixed += TLV(1043, VLN(AItem.Sum));
    Fixed += TLV(1199, std::string(1, char(kTag1199[AItem.Group])));
    if (AItem.ItemTax) Fixed += TLV(1200, VLN(AItem.ItemTax));
    Fixed += TLV(1212, std::string(1, char(AItem.Subject)));
    Fixed += TLV(1214, std::string(1, char(AItem.Method)));
    // One stored record must fit one answer: whole item requisites that do
    // not fit are left out, then the name gives way.
    size_t Room = kMaxRecord - 4 - Fixed.size();
    std::string_view Extra = AItem.ExtraTLV;
    while (Extra.size() >= 4) {
        size_t N = 4 + size_t(GetLE(Extra.substr(2, 2)));
        if (N > Extra.size() || N > Room) break;
        Fixed += Extra.substr(0, N);
        Room -= N;
        Extra.remove_prefix(N);
    }
    std::string Name = AnsiToOem(AItem.Name);
    if (Room <= 4) return TLV(1059, Fixed);
    if (Name.size() > Room - 4) Name.resize(Room - 4);
    return TLV(1059, (Name.empty() ? std::string() : TLV(1030, Name)) + Fixed);
}

std::string TEmuDevice::ReceiptTLV(const TReceipt& AReceipt, const TClose& AC) const {
    std::string S;
    S += TLV(1042, U32(FReceiptNumber));
    S += TLV(1038, U32(FShiftNumber));
    S += TLV(1054, std::string(1, char(CalculationSign(AReceipt.Type))));
    S += TLV(1055, std::string(1, char(AC.TaxSystem)));
    for (const auto& I : AReceipt.Items) S += ItemTLV(I);
    S += TLV(1020, VLN(AC.Due));
    // The stored cash is what stays in the drawer, so the payments add up to the total.
    S += TLV(1031, VLN(AC.NetCash));
    S += TLV(1081, VLN(AC.Electronic));
    S += TLV(1215, VLN(AC.Pay[13]));
    S += TLV(1216, VLN(AC.Pay[14]));
    S += TLV(1217, VLN(AC.Pay[15]));
    // Tax sums in the order of the close command: 20%, 10%, 0%, none, 20/120, 10/110.
    const uint16_t TaxTags[6] = {1102, 1103, 1104, 1105, 1106, 1107};
    for (size_t I = 0; I < 6; ++I)
        if (AC.Tax[I]) S += TLV(TaxTags[I], VLN(AC.Tax[I]));
    return S;
}

// Shift totals (tag 1194): the number of receipts, the counters of each
// calculation sign (1129 to 1132) and those of the correction receipts
// (1133). Sums that are zero are left out, and a structure too long for one
// answer of the read-out drops its tax sums, then its payment kinds.
std::string TEmuDevice::ShiftCountersTLV() const {
    auto Build = [&](int ADetail) {
        auto Sign = [&](uint16_t ATag, const TEmuCounters& C) {
            std::string S = TLV(1135, U32(C.Count));
            auto Sum = [&](uint16_t T, uint64_t V) {
                if (V) S += TLV(T, VLN(V));
            };
            Sum(1201, C.Total);
            if (ADetail >= 1) {
                Sum(1136, C.Cash);
                Sum(1138, C.Electronic);
                Sum(1218, C.Prepaid);
                Sum(1219, C.Credit);
                Sum(1220, C.Barter);
            }
            if (ADetail >= 2) {
                Sum(1139, C.Tax[1]);
                Sum(1140, C.Tax[2]);
                Sum(1141, C.Tax[5]);
                Sum(1142, C.Tax[6]);
                Sum(1143, C.Tax[3]);
                Sum(1183, C.Tax[4]);
            }
            return TLV(ATag, S);
        };
        uint32_t Receipts = 0, Corrections = 0;
        std::string Signs, CorrectionSigns;
        for (uint8_t I = 1; I <= 4; ++I) {
            Receipts += FCounters[I].Count;
            Corrections += FCorrectionCounters[I].Count;
            Signs += Sign(uint16_t(1128 + I), FCounters[I]);
            CorrectionSigns += Sign(uint16_t(1128 + I), FCorrectionCounters[I]);
        }
        return TLV(1194, TLV(1134, U32(Receipts + Corrections)) + Signs +
                             TLV(1133, TLV(1144, U32(Corrections)) + CorrectionSigns));
    };
    std::string S;
    for (int Detail = 2; Detail >= 0; --Detail) {
        S = Build(Detail);
        if (S.size() <= kMaxRecord) break;
    }
    return S;
}

void TEmuDevice::PrintTaxLines(const std::vector<uint64_t>& ATaxes) {
    size_t W = FConfig.LineLen;
    for (uint8_t G = 1; G <= EmuTaxGroups && G <= ATaxes.size(); ++G) {
        if (!ATaxes[G - 1]) continue;
        std::string Label = IsVATGroup(G) ? "СУММА " + TaxName(G) : "СУММА С " + TaxName(G);
        if (G == 4) Label = "СУММА БЕЗ НДС";
        PrintUtf8(Columns(Label, "=" + Money(ATaxes[G - 1]), W));
    }
}

// ---- receipts -------------------------------------------------------------------------

std::string TEmuDevice::CmdOpenReceipt(uint16_t, std::string_view AData, uint8_t& AResult) {
    uint8_t Type = TEmuReader(AData).Byte();
    if ((Type & 0x7F) > 3 || (Type & 0x7C)) {
        AResult = rcBadParams;
        return {};
    }
    if (!DocumentCommandAllowed(AResult, true)) return {};
    if (CurrentMode() == 3) {
        AResult = rcShift24;
        return {};
    }
    FReceipt = TReceipt{};
    FReceipt.Open = true;
    FReceipt.Type = Type;
    FPendingTLV.clear();
    BeginDocumentPrint();
    PrintUtf8(AnsiToUtf8(FieldText(18, 7)), TEmuTextStyle::tsTitle);
    PrintUtf8(Type & 0x80 ? "КАССОВЫЙ ЧЕК КОРРЕКЦИИ" : "КАССОВЫЙ ЧЕК", TEmuTextStyle::tsTitle);
    PrintUtf8(SignName(CalculationSign(Type)), TEmuTextStyle::tsBold);
    return std::string(1, char(30));  // operator number
}

std::string TEmuDevice::CmdRegisterItem(uint16_t, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    TItem I;
    I.Operation = R.Byte();
    I.Quantity = R.Int(6);
    I.Price = R.Int(5);
    I.Sum = R.Int(5);
    I.TaxSum = R.Int(5);
    I.Tax = R.Byte();
    I.Department = R.Byte();
    I.Method = R.Byte();
    I.Subject = R.Byte();
    I.Name = std::string(R.Rest());
    if (!FReceipt.Open) {
        AResult = rcReceiptClosed;
        return {};
    }
    I.Group = TaxGroup(I.Tax);
    if (I.Operation < 1 || I.Operation > 4 || I.Group == 0 || I.Quantity == 0 || I.Method < 1 || I.Method > 7 ||
        I.Subject < 1 || I.Subject > 33) {
        AResult = rcBadParams;
        return {};
    }
    if (I.Operation != CalculationSign(FReceipt.Type)) {
        AResult = rcWrongReceipt;
        return {};
    }
    // Price x quantity, exactly: whole kopecks plus millionths of a kopeck.
    const uint64_t Units = I.Quantity / 1000000, Part = I.Quantity % 1000000;
    if (Units && I.Price > kMax5 / Units) {
        AResult = rcMulOverflow;
        return {};
    }
    const uint64_t Whole = I.Price * Units + I.Price * Part / 1000000, Frac = I.Price * Part % 1000000;
    if (Whole > kMax5) {
        AResult = rcMulOverflow;
        return {};
    }
    uint64_t Total = 0;
    for (const auto& X : FReceipt.Items) Total += X.Sum;
    if (Total + I.Sum > kMax5) {
        AResult = rcTotalOverflow;
        return {};
    }
    const uint64_t Computed = ItemTaxFor(I.Group, I.Sum);
    if (FConfig.CheckArithmetic) {
        // The sum may differ from price x quantity by what rounding the price
        // to whole kopecks allows (half a kopeck a unit) plus its own rounding.
        uint64_t Gap = Distance(I.Sum * 1000000, Whole * 1000000 + Frac);
        bool TaxWrong = IsVATGroup(I.Group) ? (I.TaxSum && Distance(I.TaxSum, Computed) > 1) : I.TaxSum != 0;
        if (Gap > I.Quantity / 2 + 500000 || TaxWrong) {
            AResult = rcBadValue;
            return {};
        }
    }
    // A zero tax sum lets the device compute it.
    I.ItemTax = I.TaxSum ? I.TaxSum : Computed;
    size_t W = FConfig.LineLen;
    if (!I.Name.empty()) PrintUtf8(AnsiToUtf8(I.Name.substr(0, W)));
    PrintUtf8(Columns(Quantity(I.Quantity) + " x " + Money(I.Price), "=" + Money(I.Sum), W));
    PrintUtf8(Columns(TaxName(I.Group), I.ItemTax ? "=" + Money(I.ItemTax) : std::string(), W));
    FReceipt.Items.push_back(std::move(I));
    return {};
}

std::string TEmuDevice::CmdRequisite(uint16_t ACode, std::string_view AData, uint8_t& AResult) {
    if (!ValidTLV(AData)) {
        AResult = rcBadParams;
        return {};
    }
    if (ACode == 0xFF0C) {
        FPendingTLV += AData;
        return {};
    }
    if (!FReceipt.Open) {
        AResult = rcReceiptClosed;
        return {};
    }
    if (FReceipt.Items.empty()) {
        AResult = rcBadParams;
        return {};
    }
    FReceipt.Items.back().ExtraTLV += AData;
    return {};
}

std::string TEmuDevice::CmdCloseReceipt(uint16_t, std::string_view AData, uint8_t& AResult) {
    TClose C = ReadClose(AData);
    AResult = CheckClose(C);
    if (AResult != 0) return {};
    CountClose(C);
    ++FReceiptNumber;
    const std::string Cashier = PendingCashier();
    TEmuDocument& D = StoreDocument(C.Correction ? 31 : 3, ReceiptTLV(FReceipt, C));
    FReceipt = TReceipt{};
    MarkingReceiptEnded(true);
    PrintReceiptEnd(C, D, Cashier);

    std::string A;
    PutLE(A, C.Change, 5);              // 1-5 change
    PutLE(A, D.Number, 4);              // 6-9 document number
    PutLE(A, D.FiscalSign, 4);          // 10-13 fiscal sign
    A += DateTimeBytes(D.Time, false);  // 14-18 date and time
    return A;
}

TEmuDevice::TClose TEmuDevice::ReadClose(std::string_view AData) {
    TEmuReader R(AData);
    TClose C;
    for (auto& P : C.Pay) P = R.Int(5);
    C.Rounding = R.Byte();
    for (size_t I = 0; I < 6; ++I) C.Tax[I] = R.Int(5);
    C.TaxSystem = R.Byte();
    C.Text = std::string(R.Take(64));
    C.Text = C.Text.substr(0, C.Text.find('\0'));
    // The further tax sums are optional.
    for (size_t I = 6; I < C.Tax.size() && R.Left() >= 5; ++I) C.Tax[I] = R.Int(5);
    return C;
}

uint8_t TEmuDevice::CheckClose(TClose& AC) const {
    if (!FReceipt.Open) return rcReceiptClosed;
    if (FReceipt.Items.empty()) return rcZeroTotal;
    uint64_t Total = 0;
    for (const auto& I : FReceipt.Items) {
        Total += I.Sum;
        AC.ByGroup[I.Group] += IsVATGroup(I.Group) ? I.ItemTax : I.Sum;
    }
    if (AC.Rounding > Total) return rcNegativeTotal;
    AC.Due = Total - AC.Rounding;
    if (AC.Due == 0) return rcZeroTotal;
    // A tax sum sent as zero is the device's to compute; any other must match the items.
    for (size_t G = 1; G <= AC.Tax.size(); ++G) {
        if (FConfig.CheckArithmetic && AC.Tax[G - 1] && AC.Tax[G - 1] != AC.ByGroup[G]) return rcBadValue;
        AC.Tax[G - 1] = AC.ByGroup[G];
    }
    uint64_t NonCash = 0;
    for (size_t I = 1; I < 16; ++I) NonCash += AC.Pay[I];
    for (size_t I = 1; I < 13; ++I) AC.Electronic += AC.Pay[I];
    if (NonCash > AC.Due) return rcNonCashTooBig;
    if (AC.Pay[0] + NonCash < AC.Due) return rcPaymentsShort;
    AC.Change = AC.Pay[0] + NonCash - AC.Due;
    AC.NetCash = AC.Pay[0] - AC.Change;
    AC.Sign = CalculationSign(FReceipt.Type);
    AC.Correction = FReceipt.Type & 0x80;
    const bool CashOut = AC.Sign == 2 || AC.Sign == 3;
    const auto Drawer = FCashRegs.find(241);
    if (CashOut && (Drawer == FCashRegs.end() ? 0 : Drawer->second) < AC.NetCash) return rcNoCash;
    return 0;
}

void TEmuDevice::CountClose(const TClose& AC) {
    // Registers by calculation sign: cash, electronic, prepayment, credit, barter.
    static const uint16_t Regs[5][5] = {{0, 0, 0, 0, 0},
                                        {193, 197, 4180, 4184, 4188},
                                        {195, 199, 4182, 4186, 4190},
                                        {194, 198, 4181, 4185, 4189},
                                        {196, 200, 4183, 4187, 4191}};
    const uint16_t* Reg = Regs[AC.Sign];
    if (!AC.Correction) {
        AddCash(Reg[0], int64_t(AC.NetCash));
        AddCash(Reg[1], int64_t(AC.Electronic));
        AddCash(Reg[2], int64_t(AC.Pay[13]));
        AddCash(Reg[3], int64_t(AC.Pay[14]));
        AddCash(Reg[4], int64_t(AC.Pay[15]));
        static const uint8_t Ops[5] = {0, 144, 146, 145, 147};
        ++FOperRegs[Ops[AC.Sign]];
    }
    const bool CashOut = AC.Sign == 2 || AC.Sign == 3;
    AddCash(241, CashOut ? -int64_t(AC.NetCash) : int64_t(AC.NetCash));
    TEmuCounters& C = (AC.Correction ? FCorrectionCounters : FCounters)[AC.Sign];
    ++C.Count;
    C.Total += AC.Due;
    C.Cash += AC.NetCash;
    C.Electronic += AC.Electronic;
    C.Prepaid += AC.Pay[13];
    C.Credit += AC.Pay[14];
    C.Barter += AC.Pay[15];
    for (size_t G = 1; G < AC.ByGroup.size(); ++G) C.Tax[G] += AC.ByGroup[G];
}

std::string TEmuDevice::PendingCashier() const {
    std::string Cashier;
    for (std::string_view P = FPendingTLV; P.size() >= 4;) {
        size_t N = std::min<size_t>(4 + GetLE(P.substr(2, 2)), P.size());
        if (GetLE(P.substr(0, 2)) == 1021) Cashier = AnsiToUtf8(OemToAnsi(P.substr(4, N - 4)));
        P.remove_prefix(N);
    }
    return Cashier;
}

void TEmuDevice::PrintReceiptEnd(const TClose& AC, const TEmuDocument& ADoc, const std::string& ACashier) {
    size_t W = FConfig.LineLen;
    if (!AC.Text.empty()) PrintUtf8(AnsiToUtf8(AC.Text));
    if (AC.Rounding) PrintUtf8(Columns("ОКРУГЛЕНИЕ", "=" + Money(AC.Rounding), W));
    PrintUtf8(Columns("ИТОГ", "=" + Money(AC.Due), W), TEmuTextStyle::tsBold);
    if (AC.Pay[0]) PrintUtf8(Columns("НАЛИЧНЫМИ", "=" + Money(AC.Pay[0]), W));
    if (AC.Electronic) PrintUtf8(Columns("БЕЗНАЛИЧНЫМИ", "=" + Money(AC.Electronic), W));
    if (AC.Pay[13]) PrintUtf8(Columns("ПРЕДВАРИТЕЛЬНАЯ ОПЛАТА (АВАНС)", "=" + Money(AC.Pay[13]), W));
    if (AC.Pay[14]) PrintUtf8(Columns("ПОСЛЕДУЮЩАЯ ОПЛАТА (КРЕДИТ)", "=" + Money(AC.Pay[14]), W));
    if (AC.Pay[15]) PrintUtf8(Columns("ИНАЯ ФОРМА ОПЛАТЫ", "=" + Money(AC.Pay[15]), W));
    if (AC.Change) PrintUtf8(Columns("СДАЧА", "=" + Money(AC.Change), W));
    PrintTaxLines(AC.Tax);
    if (!ACashier.empty()) PrintUtf8(Columns("КАССИР", ACashier, W));
    PrintDocumentFooter(ADoc);
    if (PrintingEnabled()) {
        std::time_t TT = std::time_t(ADoc.Time);
        std::tm T{};
        gmtime_r(&TT, &T);
        char Q[160];
        std::snprintf(Q, sizeof Q, "t=%04d%02d%02dT%02d%02d&s=%s&fn=%s&i=%u&fp=%u&n=%u", T.tm_year + 1900, T.tm_mon + 1,
                      T.tm_mday, T.tm_hour, T.tm_min, Money(AC.Due).c_str(), FConfig.FNSerial.c_str(), ADoc.Number,
                      ADoc.FiscalSign, unsigned(AC.Sign));
        TEmuTapeEntry E;
        E.Kind = TEmuTapeKind::tkQR;
        E.Text = Q;
        Output(std::move(E));
    }
    EndDocumentPrint();
}

std::string TEmuDevice::CmdCancelReceipt(uint16_t, std::string_view, uint8_t& AResult) {
    // A correction begun with 0xFF 0x35 is cancelled like a receipt.
    if (!FReceipt.Open && !FCorrectionBegun) {
        AResult = rcReceiptClosed;
        return {};
    }
    if (FReceipt.Open) MarkingReceiptEnded(false);
    FReceipt = TReceipt{};
    FCorrectionBegun = false;
    FPendingTLV.clear();
    PrintUtf8("ЧЕК АННУЛИРОВАН", TEmuTextStyle::tsBold);
    EndDocumentPrint();
    return std::string(1, char(30));  // operator number
}

std::string TEmuDevice::CmdCorrection(uint16_t, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    uint8_t Type = R.Byte(), Sign = R.Byte();
    std::vector<uint64_t> Sums(6), Tax(EmuTaxGroups);
    for (auto& S : Sums) S = R.Int(5);
    for (size_t I = 0; I < 6; ++I) Tax[I] = R.Int(5);
    uint8_t TaxSystem = R.Byte();
    for (size_t I = 6; I < Tax.size() && R.Left() >= 5; ++I) Tax[I] = R.Int(5);
    // The correction begun with 0xFF 0x35 is the document this command forms;
    // until it is formed it stays begun, also when this command fails.
    const bool Begun = std::exchange(FCorrectionBegun, false);
    const bool Allowed = DocumentCommandAllowed(AResult, true);
    FCorrectionBegun = Begun;
    if (!Allowed) return {};
    if (Sign < 1 || Sign > 4 || Type > 1) {
        AResult = rcBadParams;
        return {};
    }
    uint64_t Paid = Sums[1] + Sums[2] + Sums[3] + Sums[4] + Sums[5];
    if (Paid < Sums[0]) {
        AResult = rcPaymentsShort;
        return {};
    }
    bool CashOut = Sign == 2 || Sign == 3;
    if (CashOut && FCashRegs[241] < Sums[1]) {
        AResult = rcNoCash;
        return {};
    }
    AddCash(241, CashOut ? -int64_t(Sums[1]) : int64_t(Sums[1]));
    TEmuCounters& C = FCorrectionCounters[Sign];
    ++C.Count;
    C.Total += Sums[0];
    C.Cash += Sums[1];
    C.Electronic += Sums[2];
    C.Prepaid += Sums[3];
    C.Credit += Sums[4];
    C.Barter += Sums[5];
    for (size_t G = 1; G <= EmuTaxGroups; ++G) C.Tax[G] += Tax[G - 1];
    FCorrectionBegun = false;
    ++FReceiptNumber;
    std::string S;
    S += TLV(1042, U32(FReceiptNumber));
    S += TLV(1038, U32(FShiftNumber));
    S += TLV(1173, std::string(1, char(Type)));
    S += TLV(1054, std::string(1, char(Sign)));
    S += TLV(1055, std::string(1, char(TaxSystem)));
    S += TLV(1020, VLN(Sums[0]));
    S += TLV(1031, VLN(Sums[1]));
    S += TLV(1081, VLN(Sums[2]));
    S += TLV(1215, VLN(Sums[3]));
    S += TLV(1216, VLN(Sums[4]));
    S += TLV(1217, VLN(Sums[5]));
    const uint16_t TaxTags[6] = {1102, 1103, 1104, 1105, 1106, 1107};
    for (size_t I = 0; I < 6; ++I)
        if (Tax[I]) S += TLV(TaxTags[I], VLN(Tax[I]));
    BeginDocumentPrint();
    PrintUtf8("КАССОВЫЙ ЧЕК КОРРЕКЦИИ", TEmuTextStyle::tsTitle);
    PrintUtf8(SignName(Sign), TEmuTextStyle::tsBold);
    PrintUtf8(Columns("ИТОГ", "=" + Money(Sums[0]), FConfig.LineLen), TEmuTextStyle::tsBold);
    TEmuDocument& D = StoreDocument(31, S);
    PrintDocumentFooter(D);
    EndDocumentPrint();
    std::string A;
    PutLE(A, FReceiptNumber, 2);  // 1-2 receipt number
    PutLE(A, D.Number, 4);        // 3-6 document number
    PutLE(A, D.FiscalSign, 4);    // 7-10 fiscal sign
    return A;
}

std::string TEmuDevice::CmdEncash(uint16_t ACode, std::string_view AData, uint8_t& AResult) {
    bool AIn = ACode == 0x50;
    uint64_t Sum = TEmuReader(AData).Int(5);
    if (!DocumentCommandAllowed(AResult, true)) return {};
    if (CurrentMode() == 3) {
        AResult = rcShift24;
        return {};
    }
    if (Sum == 0) {
        AResult = rcBadParams;
        return {};
    }
    if (!AIn && FCashRegs[241] < Sum) {
        AResult = rcNoCash;
        return {};
    }
    AddCash(241, AIn ? int64_t(Sum) : -int64_t(Sum));
    AddCash(AIn ? 242 : 243, int64_t(Sum));
    ++FOperRegs[AIn ? 153 : 154];
    BeginDocumentPrint();
    PrintUtf8(AIn ? "ВНЕСЕНИЕ" : "ВЫПЛАТА", TEmuTextStyle::tsTitle);
    PrintUtf8(Columns("СУММА", "=" + Money(Sum), FConfig.LineLen), TEmuTextStyle::tsBold);
    PrintUtf8(Columns("НАЛИЧНЫХ В КАССЕ", "=" + Money(FCashRegs[241]), FConfig.LineLen));
    PrintUtf8(DateTimeText(Now()));
    EndDocumentPrint();
    return std::string(1, char(30));  // operator number
}

// ---- shifts and reports -------------------------------------------------------------------

std::string TEmuDevice::CmdOpenShift(uint16_t, std::string_view, uint8_t& AResult) {
    if (!DocumentCommandAllowed(AResult, false)) return {};
    if (FShiftOpen) {
        AResult = rcShiftOpen;
        return {};
    }
    ClearShiftRegisters();
    FShiftOpen = true;
    ++FShiftNumber;
    FReceiptNumber = 0;
    FShiftDocuments = 0;
    FShiftOpenTime = Now();
    BeginDocumentPrint();
    PrintUtf8(AnsiToUtf8(FieldText(18, 7)), TEmuTextStyle::tsTitle);
    PrintUtf8("ОТЧЕТ ОБ ОТКРЫТИИ СМЕНЫ", TEmuTextStyle::tsTitle);
    PrintUtf8(Columns("СМЕНА", std::to_string(FShiftNumber), FConfig.LineLen));
    TEmuDocument& D = StoreDocument(2, TLV(1038, U32(FShiftNumber)));
    PrintDocumentFooter(D);
    EndDocumentPrint();
    return {};
}

std::string TEmuDevice::CmdCloseShift(uint16_t, std::string_view, uint8_t& AResult) {
    if (!DocumentCommandAllowed(AResult, true)) return {};
    uint32_t Unsent = 0;
    for (const auto& D : FDocuments) Unsent += D.Sent ? 0 : 1;
    std::string S = TLV(1038, U32(FShiftNumber));
    S += TLV(1111, U32(FShiftDocuments + 1));
    S += TLV(1118, U32(FReceiptNumber));
    S += TLV(1097, U32(Unsent));
    S += ShiftCountersTLV();
    BeginDocumentPrint();
    PrintUtf8("ОТЧЕТ О ЗАКРЫТИИ СМЕНЫ", TEmuTextStyle::tsTitle);
    size_t W = FConfig.LineLen;
    PrintUtf8(Columns("СМЕНА", std::to_string(FShiftNumber), W));
    PrintUtf8(Columns("ЧЕКОВ ЗА СМЕНУ", std::to_string(FReceiptNumber), W));
    PrintUtf8(Columns("ПРИХОД НАЛИЧНЫМИ", Money(FCashRegs[193]), W));
    PrintUtf8(Columns("ПРИХОД БЕЗНАЛИЧНЫМИ", Money(FCashRegs[197]), W));
    PrintUtf8(Columns("НАЛИЧНЫХ В КАССЕ", Money(FCashRegs[241]), W));
    TEmuDocument& D = StoreDocument(5, S);
    PrintDocumentFooter(D);
    EndDocumentPrint();
    FShiftOpen = false;
    return {};
}

std::string TEmuDevice::CmdXReport(uint16_t, std::string_view, uint8_t& AResult) {
    if (!DocumentCommandAllowed(AResult, false)) return {};
    size_t W = FConfig.LineLen;
    BeginDocumentPrint();
    PrintUtf8("X-ОТЧЕТ", TEmuTextStyle::tsTitle);
    PrintUtf8(Columns("СМЕНА", std::to_string(FShiftNumber), W));
    PrintUtf8(Columns("ПРОДАЖ", std::to_string(FOperRegs[144]), W));
    PrintUtf8(Columns("ПРИХОД НАЛИЧНЫМИ", Money(FCashRegs[193]), W));
    PrintUtf8(Columns("ПРИХОД БЕЗНАЛИЧНЫМИ", Money(FCashRegs[197]), W));
    PrintUtf8(Columns("НАЛИЧНЫХ В КАССЕ", Money(FCashRegs[241]), W));
    PrintUtf8(DateTimeText(Now()));
    EndDocumentPrint();
    return {};
}

std::string TEmuDevice::CmdSettlementReport(uint16_t, std::string_view, uint8_t& AResult) {
    if (!DocumentCommandAllowed(AResult, false)) return {};
    const auto [Unsent, First, FirstTime] = UnsentDocuments();
    std::string S = TLV(1097, U32(Unsent));
    S += TLV(1116, U32(First));
    if (Unsent) S += TLV(1098, U32(uint32_t(FirstTime)));
    BeginDocumentPrint();
    PrintUtf8("ОТЧЕТ О ТЕКУЩЕМ СОСТОЯНИИ РАСЧЕТОВ", TEmuTextStyle::tsTitle);
    PrintUtf8(Columns("НЕПЕРЕДАННЫХ ФД", std::to_string(Unsent), FConfig.LineLen));
    TEmuDocument& D = StoreDocument(21, S);
    PrintDocumentFooter(D);
    EndDocumentPrint();
    return {};
}

std::string TEmuDevice::CmdSessionParams(uint16_t, std::string_view, uint8_t&) {
    std::string A(1, char(FShiftOpen ? 1 : 0));
    PutLE(A, FShiftNumber, 2);
    PutLE(A, FReceiptNumber, 2);
    return A;
}

}  // namespace fr
