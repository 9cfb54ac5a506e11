#include "device/uTLVStructure.h"

#include <algorithm>
#include <ctime>
#include <iterator>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "device/uDeviceCommon.h"

namespace fr {

namespace {

constexpr TFiscalTagInfo FiscalTagTable[] = {
    {1000, ffdString, "наимен. документа"},
    {1001, ffdByte, "автомат. режим"},
    {1002, ffdByte, "автономн. режим"},
    {1005, ffdString, "адр. оп. перевода"},
    {1008, ffdString, "тел. покупателя"},
    {1009, ffdString, "адрес расчетов"},
    {1012, ffdUnixTime, "дата, время"},
    {1013, ffdString, "завод. номер ккт"},
    {1016, ffdString, "ИНН оп. перевода"},
    {1017, ffdString, "ИНН ОФД"},
    {1018, ffdString, "ИНН пользователя"},
    {1020, ffdVLN, "ИТОГ"},
    {1021, ffdString, "кассир"},
    {1022, ffdByte, "код ответа офд"},
    {1023, ffdFVLN, "кол-во предм. расчета"},
    {1026, ffdString, "оператор перевода"},
    {1030, ffdString, "наим. предм. расчета"},
    {1031, ffdVLN, "наличными"},
    {1036, ffdString, "номер автомата"},
    {1037, ffdString, "рег. номер ККТ"},
    {1038, ffdUInt32, "номер смены"},
    {1040, ffdUInt32, "номер ФД"},
    {1041, ffdString, "зав. номер ФН"},
    {1042, ffdUInt32, "номер чека"},
    {1043, ffdVLN, "стоим. предм. расчета"},
    {1044, ffdString, "оп. агента"},
    {1046, ffdString, "ОФД"},
    {1048, ffdString, "наим. пользователя"},
    {1050, ffdByte, "ресурс фн менее 30 дней"},
    {1051, ffdByte, "ресурс фн менее 3 дней"},
    {1052, ffdByte, "память фн заполнена"},
    {1053, ffdByte, "ОФД не отвечает"},
    {1054, ffdByte, "признак расчета"},
    {1055, ffdRegister, "СНО"},
    {1056, ffdByte, "ШФД"},
    {1057, ffdRegister, "признак агента"},
    {1059, ffdSTLV, "предмет расчета"},
    {1060, ffdString, "сайт фнс"},
    {1062, ffdByte, "СНО"},
    {1068, ffdSTLV, "сообщ. оператора"},
    {1073, ffdString, "тлф. пл. агента"},
    {1074, ffdString, "тлф. оп. пр. платежа"},
    {1075, ffdString, "тлф. оп. перевода"},
    {1077, ffdBytes, "ФПД"},
    {1078, ffdBytes, "ФПО"},
    {1079, ffdVLN, "цена за ед. предм. расчета"},
    {1081, ffdVLN, "электронными"},
    {1084, ffdSTLV, ""},
    {1085, ffdString, ""},
    {1086, ffdString, ""},
    {1097, ffdUInt32, "непереданных ФД"},
    {1098, ffdUnixTime, "ФД не переданы с"},
    {1101, ffdByte, "изм. свед. о ККТ"},
    {1102, ffdVLN, "сумма НДС 18%"},
    {1103, ffdVLN, "сумма НДС 10%"},
    {1104, ffdVLN, "сумма с НДС 0%"},
    {1105, ffdVLN, "сумма без НДС"},
    {1106, ffdVLN, "сумма НДС 18/118"},
    {1107, ffdVLN, "сумма НДС 10/110"},
    {1108, ffdByte, "ккт для интернет"},
    {1109, ffdByte, "ккт для услуг"},
    {1110, ffdByte, "ас бсо"},
    {1111, ffdUInt32, "ФД за смену"},
    {1116, ffdUInt32, "первый непереданный ФД"},
    {1117, ffdString, "эл. адр. отправителя"},
    {1118, ffdUInt32, "чеков за смену"},
    {1126, ffdByte, "проведение лотереи"},
    {1129, ffdSTLV, "cч. опер. приход"},
    {1130, ffdSTLV, "cч. опер. возврат приход"},
    {1131, ffdSTLV, "cч. опер. расход"},
    {1132, ffdSTLV, "cч. опер. возврат расхода"},
    {1133, ffdSTLV, "cч. опер. по чекам корр."},
    {1134, ffdUInt32, "всего чеков"},
    {1135, ffdUInt32, "кол.чеков"},
    {1136, ffdVLN, "сумма"},
    {1138, ffdVLN, "сумма"},
    {1139, ffdVLN, "сумма НДС 18%"},
    {1140, ffdVLN, "сумма НДС 10%"},
    {1141, ffdVLN, "сум. НДС расч. 18/118"},
    {1142, ffdVLN, "сум. НДС расч. 10/110"},
    {1143, ffdVLN, "оборот с НДС 0%"},
    {1144, ffdUInt32, "чеков коррекции"},
    {1145, ffdSTLV, ""},
    {1146, ffdSTLV, ""},
    {1157, ffdSTLV, "сч. итогов ФН"},
    {1158, ffdSTLV, "сч. итогов неперед. ФД"},
    {1163, ffdSTLV, "код товара"},
    {1171, ffdString, "тлф. пост."},
    {1173, ffdByte, "тип коррекции"},
    {1174, ffdSTLV, "осн. для корр."},
    {1178, ffdUnixTime, "дата совершения корр. расчета"},
    {1179, ffdString, "номер предписания нал. органа"},
    {1183, ffdVLN, "оборот без НДС"},
    {1187, ffdString, "место расчетов"},
    {1188, ffdString, "вер. ККТ"},
    {1189, ffdByte, "ФФД ККТ"},
    {1190, ffdByte, "ФФД ФН"},
    {1191, ffdString, "доп. реквизит предмета расчета"},
    {1192, ffdString, "доп. реквизит чека (БСО)"},
    {1193, ffdByte, "проведение азартной игры"},
    {1194, ffdSTLV, "счетчики итогов смены"},
    {1196, ffdString, "QR-код"},
    {1197, ffdString, "ед. изм. предм. расчета"},
    {1198, ffdVLN, "размер НДС за ед. расчета"},
    {1199, ffdByte, "ставка НДС"},
    {1200, ffdVLN, "сумма НДС за пред. расчета"},
    {1201, ffdVLN, "сумма"},
    {1203, ffdString, "изм. свед. о ккт"},
    {1205, ffdRegister, "коды причин изменения сведений о ККТ"},
    {1206, ffdRegister, "сообщение оператора"},
    {1207, ffdByte, "подакцизные товары"},
    {1208, ffdString, "сайт чеков"},
    {1209, ffdByte, "версия ФФД"},
    {1212, ffdByte, "признак предм. расчета"},
    {1213, ffdUInt32, "ресурс ключей"},
    {1214, ffdByte, "признак способа расчета"},
    {1215, ffdVLN, "предварительная оплата (аванс)"},
    {1216, ffdVLN, "последующая оплата (кредит)"},
    {1217, ffdVLN, "иная форма оплаты"},
    {1218, ffdVLN, "сумма предварительных оплат (авансов)"},
    {1219, ffdVLN, "сумма последующих оплат (кредитов)"},
    {1220, ffdVLN, "сумма иной формой оплаты"},
    {1221, ffdByte, "принтер в автомате"},
    {1222, ffdRegister, "признак агента по предмету расчета"},
    // Agent and supplier data are structures of their own requisites; read
    // as amounts they made every receipt with an agent unreadable.
    {1223, ffdSTLV, "данные агента"},
    {1224, ffdSTLV, "данные поставщика"},
    {1225, ffdString, "наименование поставщика"},
    {1226, ffdString, "ИНН поставщика"},
    {1227, ffdString, "покупатель"},
    {1228, ffdString, "ИНН покупателя"},
    {1229, ffdVLN, "акциз"},
    {1230, ffdString, "код страны происхождения товара"},
    {1231, ffdString, "номер декларации на товар"},
    {1232, ffdSTLV, "счетчики по признаку «возврат прихода»"},
    {1233, ffdSTLV, "счетчики по признаку «возврат расхода»"},
    {1243, ffdString, "дата рождения покупателя"},
    {1244, ffdString, "гражданство"},
    {1245, ffdString, "код вида документа"},
    {1246, ffdString, "данные документа"},
    {1254, ffdString, "адрес покупателя"},
    {1256, ffdSTLV, "сведения о покупателе"},
    {1260, ffdSTLV, "отраслевой реквизит предмета расчета"},
    {1261, ffdSTLV, "отраслевой реквизит чека"},
    {1262, ffdString, "идентификатор ФОИВ"},
    {1263, ffdString, "дата документа основания"},
    {1264, ffdString, "номер документа основания"},
    {1265, ffdString, "значение отраслевого реквизита"},
    {1270, ffdSTLV, "операционный реквизит чека"},
    {1271, ffdByte, "идентификатор операции"},
    {1272, ffdString, "данные операции"},
    {1273, ffdUnixTime, "дата, время операции"},
    {1274, ffdString, "дополнительный реквизит ОР"},
    {1275, ffdBytes, "дополнительные данные ОР"},
    {1276, ffdString, "дополнительный реквизит ООС"},
    {1277, ffdBytes, "дополнительные данные ООС"},
    {1278, ffdString, "дополнительный реквизит ОЗС"},
    {1279, ffdBytes, "дополнительные данные ОЗС"},
    {1280, ffdString, "дополнительный реквизит ОТР"},
    {1281, ffdBytes, "дополнительные данные ОТР"},
    {1282, ffdString, "дополнительный реквизит ОЗФН"},
    {1283, ffdBytes, "дополнительные данные ОЗФН"},
    {1290, ffdRegister, "признаки условий применения ККТ"},
    {1291, ffdSTLV, "дробное количество маркированного товара"},
    {1292, ffdString, "дробная часть"},
    {1293, ffdVLN, "числитель"},
    {1294, ffdVLN, "знаменатель"},
    {1300, ffdString, "КТ H"},
    {1301, ffdString, "КТ EAN-8"},
    {1302, ffdString, "КТ EAN-13"},
    {1303, ffdString, "КТ ITF-14"},
    {1304, ffdString, "КТ GS1.0"},
    {1305, ffdString, "КТ GS1.М"},
    {1306, ffdString, "КТ КМК"},
    {1307, ffdString, "КТ МИ"},
    {1308, ffdString, "КТ ЕГАИС-2.0"},
    {1309, ffdString, "КТ ЕГАИС-3.0"},
    {1320, ffdString, "КТ Ф.1"},
    {1321, ffdString, "КТ Ф.2"},
    {1322, ffdString, "КТ Ф.3"},
    {1323, ffdString, "КТ Ф.4"},
    {1324, ffdString, "КТ Ф.5"},
    {1325, ffdString, "КТ Ф.6"},
    {2000, ffdString, "код маркировки"},
    {2001, ffdUInt32, "номер запроса"},
    {2002, ffdUInt32, "номер уведомления"},
    {2003, ffdByte, "планируемый статус товара"},
    {2004, ffdRegister, "результат проверки КМ"},
    {2005, ffdRegister, "результаты обработки запроса"},
    {2006, ffdByte, "результаты обработки уведомления"},
    {2007, ffdSTLV, "данные о маркированном товаре"},
    {2100, ffdByte, "тип кода маркировки"},
    {2101, ffdString, "идентификатор товара"},
    {2102, ffdByte, "режим обработки кода маркировки"},
    {2104, ffdUInt32, "количество непереданных уведомлений"},
    {2105, ffdByte, "коды обработки запроса"},
    {2106, ffdRegister, "результат проверки сведений о товаре"},
    {2107, ffdByte, "результаты проверки маркированных товаров"},
    {2108, ffdByte, "мера количества предмета расчета"},
    {2109, ffdByte, "ответ ОИСМ о статусе товара"},
    {2110, ffdByte, "присвоенный статус товара"},
    {2111, ffdByte, "коды обработки уведомления"},
    {2112, ffdRegister, "признак некорректных кодов маркировки"},
    {2113, ffdRegister, "признак некорректных запросов и уведомлений"},
    {2114, ffdUnixTime, "дата и время запроса"},
    {2115, ffdString, "контрольный код КМ"},
    {2116, ffdRegister, "вид операции"},
};

// Little-endian integer of the bytes [AOffset, AOffset + ACount) that exist.
uint64_t LEPart(std::string_view AValue, size_t AOffset, size_t ACount) {
    if (AOffset >= AValue.size()) return 0;
    return LEBytesToInt(AValue.substr(AOffset, ACount));
}

// A number that needs more than 64 bits is not a value the storage writes;
// decoding it from its low bytes would give a plainly wrong amount.
uint64_t WholeLE(std::string_view AValue) {
    for (size_t I = 8; I < AValue.size(); ++I)
        if (AValue[I] != 0) RaiseProtocolError();
    return LEBytesToInt(AValue.substr(0, std::min<size_t>(AValue.size(), 8)));
}

// AValue / 10^ADecimals written exactly, without trailing zeros ("100",
// "12.5", "0.001").
std::string FormatScaled(uint64_t AValue, unsigned ADecimals) {
    std::string S = std::to_string(AValue);
    if (ADecimals == 0) return S;
    if (S.size() <= ADecimals) S.insert(0, ADecimals + 1 - S.size(), '0');
    S.insert(S.size() - ADecimals, 1, '.');
    while (S.back() == '0') S.pop_back();
    if (S.back() == '.') S.pop_back();
    return S;
}

std::string FVLNText(std::string_view AValue) {
    if (AValue.empty()) return "0";
    return FormatScaled(WholeLE(AValue.substr(1)), uint8_t(AValue[0]));
}

uint16_t HeaderLength(std::string_view ARecord) {
    return uint16_t(LEBytesToInt(ARecord.substr(2, 2)));
}

}  // namespace

size_t FiscalTagTableSize() {
    return std::size(FiscalTagTable);
}

const TFiscalTagInfo* FindFiscalTagInfo(int32_t ATag) {
    for (const TFiscalTagInfo& I : FiscalTagTable)
        if (I.Tag == ATag) return &I;
    return nullptr;
}

bool FindTag(std::string_view AValue, int32_t& ATag, std::string& AReqName, TFFD& ADataType) {
    ATag = AValue.size() >= 2 ? int32_t(LEBytesToInt(AValue.substr(0, 2))) : 0;
    AReqName.clear();
    ADataType = ffdUnknown;
    const TFiscalTagInfo* Info = AValue.size() >= 2 ? FindFiscalTagInfo(ATag) : nullptr;
    if (!Info) return false;
    AReqName = Info->ReqName;
    ADataType = Info->DataType;
    return true;
}

TCurrency GetVLN(std::string_view AValue) {
    const uint64_t K = WholeLE(AValue);
    if (K > uint64_t(INT64_MAX / TCurrency::Scale)) RaiseProtocolError();
    return TCurrency::FromKopecks(int64_t(K));
}

TCurrency GetFVLN(std::string_view AValue) {
    const std::optional<TCurrency> C = TCurrency::Parse(FVLNText(AValue));
    if (!C) RaiseProtocolError();
    return *C;
}

TValue GetTLVValue(std::string_view AValue, int32_t ATag, TFFD ADataType, int32_t ALen) {
    if (ATag == 1054 || ATag == 1055) return TValue(int64_t(LEPart(AValue, 0, 1)));
    switch (ADataType) {
        case ffdUnixTime:
            return TValue(int64_t(LEPart(AValue, 0, 4)));
        case ffdRegister:
            if (ALen > 0) return TValue(std::to_string(LEPart(AValue, 0, size_t(ALen))));
            break;
        case ffdUInt32:
            return TValue(std::to_string(LEPart(AValue, 0, 4)));
        case ffdByte:
            return TValue(std::to_string(LEPart(AValue, 0, 1)));
        case ffdBytes: {
            // The fiscal sign: bytes 2..5 of the 6-byte value, most significant first.
            uint64_t V = 0;
            for (size_t I = 2; I < 6 && I < AValue.size(); ++I) V = (V << 8) | uint8_t(AValue[I]);
            return TValue(std::to_string(V));
        }
        case ffdVLN:
            return TValue(FormatScaled(WholeLE(AValue), 2));
        case ffdFVLN:
            return TValue(FVLNText(AValue));
        default:
            break;
    }
    return TValue(OemToUtf8(AValue));
}

std::string TLVValueText(std::string_view AValue, int32_t ATag, TFFD ADataType) {
    // The record's length goes along, so that a register (an agent sign, a
    // set of reasons) is its number, not its bytes taken as text.
    return GetTLVValue(AValue, ATag, ADataType, int32_t(AValue.size())).AsText();
}

bool NextTLVRecord(std::string_view& AData, int32_t& ATag, std::string_view& AValue) {
    if (AData.empty()) return false;
    if (AData.size() < 4) RaiseProtocolError();
    const size_t N = HeaderLength(AData);
    if (AData.size() - 4 < N) RaiseProtocolError();
    ATag = int32_t(LEBytesToInt(AData.substr(0, 2)));
    AValue = AData.substr(4, N);
    AData.remove_prefix(4 + N);
    return true;
}

void ReadTLVList(std::string& AData, std::map<int32_t, TValue>& ATagList) {
    ATagList.clear();
    std::string_view Rest = AData;
    int32_t Tag = 0;
    std::string_view Value;
    while (NextTLVRecord(Rest, Tag, Value)) {
        const TFiscalTagInfo* Info = FindFiscalTagInfo(Tag);
        const TFFD Type = Info ? Info->DataType : ffdUnknown;
        if (!ATagList.emplace(Tag, GetTLVValue(Value, Tag, Type, int32_t(Value.size()))).second)
            throw std::runtime_error("Реквизит " + std::to_string(Tag) + " повторяется в ответе ККТ");
    }
    AData.clear();
}

void AddStructureElements(std::string_view ABytes, int32_t AEnclosingTag, TDocElementList& AList) {
    const TTagSection Section = (AEnclosingTag == 1059 || AEnclosingTag == 1163) ? tsGoodPosition : tsMain;
    while (ABytes.size() >= 5) {
        const size_t N = HeaderLength(ABytes);
        if (ABytes.size() - 4 < N) RaiseProtocolError();
        const std::string_view Value = ABytes.substr(4, N);
        int32_t Tag = 0;
        std::string Name;
        TFFD Type = ffdUnknown;
        FindTag(ABytes, Tag, Name, Type);
        if (Type == ffdSTLV)
            AddStructureElements(Value, Tag, AList);
        else
            AList.emplace_back(Tag, std::move(Name), Type, TLVValueText(Value, Tag, Type), Section);
        ABytes.remove_prefix(4 + N);
    }
}

void AddDocumentRecord(std::string_view ARecord, TDocElementList& AList) {
    if (ARecord.size() < 4 || ARecord.size() - 4 < HeaderLength(ARecord)) RaiseProtocolError();
    int32_t Tag = 0;
    std::string Name;
    TFFD Type = ffdUnknown;
    if (!FindTag(ARecord, Tag, Name, Type)) return;
    const std::string_view Value = ARecord.substr(4);
    if (Type == ffdSTLV) {
        AList.emplace_back(Tag, std::move(Name), ffdSTLV, std::string(), tsMain);
        AddStructureElements(Value, Tag, AList);
    } else {
        AList.emplace_back(Tag, std::move(Name), Type, TLVValueText(Value, Tag, Type), tsMain);
    }
}

std::string UnixTimeToXmlDateTime(int64_t ASeconds) {
    const struct tm TM = UtcTimeOf(ASeconds);
    char Buf[32];
    const size_t N = strftime(Buf, sizeof Buf, "%Y-%m-%dT%H:%M:%S", &TM);
    return std::string(Buf, N);
}

std::string EncodeBase64Lines(std::string_view AData) {
    const std::string Plain = EncodeBase64(AData);
    std::string Result;
    for (size_t I = 0; I < Plain.size(); I += 76) {
        if (I > 0) Result += "\r\n";
        Result.append(Plain, I, 76);
    }
    return Result;
}

namespace {

// Where a requisite of a stored receipt goes in the check package.
enum class TCheckPlace { Parameters, Payments, NewItem, Item };
struct TCheckField {
    uint16_t Tag;
    TCheckPlace Place;
    const char* Attribute;
};

// Requisites of the document itself (tsMain) and of its items.
constexpr TCheckField CheckMainFields[] = {
    {1012, TCheckPlace::Parameters, "DateTime"},
    {1021, TCheckPlace::Parameters, "CashierName"},
    {1040, TCheckPlace::Parameters, "DocNumber"},
    {1054, TCheckPlace::Parameters, "OperationType"},
    {1055, TCheckPlace::Parameters, "TaxationSystem"},
    {1077, TCheckPlace::Parameters, "FiscalSign"},
    {1203, TCheckPlace::Parameters, "CashierINN"},
    {1031, TCheckPlace::Payments, "Cash"},
    {1081, TCheckPlace::Payments, "ElectronicPayment"},
    {1215, TCheckPlace::Payments, "PrePayment"},
    {1216, TCheckPlace::Payments, "PostPayment"},
    {1217, TCheckPlace::Payments, "Barter"},
    {1059, TCheckPlace::NewItem, nullptr},
};
constexpr TCheckField CheckItemFields[] = {
    {1023, TCheckPlace::Item, "Quantity"},           {1030, TCheckPlace::Item, "Name"},
    {1043, TCheckPlace::Item, "AmountWithDiscount"}, {1079, TCheckPlace::Item, "PriceWithDiscount"},
    {1200, TCheckPlace::Item, "VATAmount"},          {1212, TCheckPlace::Item, "CalculationSubject"},
    {1214, TCheckPlace::Item, "PaymentMethod"},      {1305, TCheckPlace::Item, "MarkingCode"},
};

template <size_t N>
const TCheckField* FindCheckField(const TCheckField (&ATable)[N], uint16_t ATag) {
    for (const TCheckField& F : ATable)
        if (F.Tag == ATag) return &F;
    return nullptr;
}

void SetCheckAttribute(pugi::xml_node ANode, const char* AName, const std::string& AValue) {
    pugi::xml_attribute A = ANode.attribute(AName);
    if (!A) A = ANode.append_attribute(AName);
    A = AValue.c_str();
}

// The taxation system of a receipt as the check package numbers it: the
// storage keeps a byte with bit n set for system n. A byte that names no
// single system stays as it is.
std::string TaxationSystemNumber(const std::string& AValue) {
    const std::optional<int64_t> Mask = ParseInt(AValue);
    if (!Mask || *Mask <= 0 || *Mask > 0xFF || (*Mask & (*Mask - 1)) != 0) return AValue;
    int Bit = 0;
    while ((int64_t(1) << Bit) != *Mask) ++Bit;
    return std::to_string(Bit);
}

// The attribute text of a requisite: dates as XML date-times, the taxation
// system as its number, marking codes as Base64 of their ANSI bytes,
// everything else as it stands.
std::string CheckAttributeValue(uint16_t ATag, const std::string& AValue) {
    if (ATag == 1012) {
        const std::optional<int64_t> S = ParseInt(AValue);
        return S ? UnixTimeToXmlDateTime(*S) : AValue;
    }
    if (ATag == 1055) return TaxationSystemNumber(AValue);
    if (ATag == 1305) return EncodeBase64Lines(Utf8ToAnsi(AValue));
    return AValue;
}

}  // namespace

void BuildCheckPackage(const TDocElementList& AList, int32_t ADocumentType, pugi::xml_node AOutput) {
    pugi::xml_node Package = AOutput.append_child("CheckPackage");
    pugi::xml_node Parameters = Package.append_child("Parameters");
    Parameters.append_attribute("DocumentType") = std::to_string(ADocumentType).c_str();
    pugi::xml_node Payments, Positions, Item;
    for (const TDocElement& E : AList) {
        const bool Main = E.TagSection == tsMain;
        if (!Main && !Item) continue;  // item requisites outside any item have nowhere to go
        const TCheckField* F = E.Tag < 0 || E.Tag > 0xFFFF ? nullptr
                               : Main                      ? FindCheckField(CheckMainFields, uint16_t(E.Tag))
                                                           : FindCheckField(CheckItemFields, uint16_t(E.Tag));
        if (!F) continue;
        switch (F->Place) {
            case TCheckPlace::NewItem:
                if (!Positions) Positions = Package.append_child("Positions");
                Item = Positions.append_child("FiscalString");
                continue;
            case TCheckPlace::Payments:
                if (!Payments) Payments = Package.append_child("Payments");
                SetCheckAttribute(Payments, F->Attribute, E.Value.AsText());
                continue;
            case TCheckPlace::Parameters:
                SetCheckAttribute(Parameters, F->Attribute, CheckAttributeValue(F->Tag, E.Value.AsText()));
                continue;
            case TCheckPlace::Item:
                SetCheckAttribute(Item, F->Attribute, CheckAttributeValue(F->Tag, E.Value.AsText()));
                continue;
        }
    }
}

}  // namespace fr
