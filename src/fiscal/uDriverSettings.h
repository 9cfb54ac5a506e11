// The connection and printing settings the host sets before Open. The
// driver object holds them as host properties; each device session keeps
// the copy it was opened with. Both declare them through DeclareSettings,
// so names, captions and defaults stand in one place.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "frame/uCustomDriver.h"

namespace fr {

// One graphic-text font slot, chosen by the tags [gt1] .. [gt5] of a text
// document.
struct TGraphicTextFont {
    std::string Name = "Arial";
    int32_t Size = 40;
    bool IsBold = false;
    bool IsItalic = false;
    bool IsStrikeout = false;
    bool IsUnderline = false;
};
inline constexpr size_t GraphicTextFontSlots = 5;

struct TDriverSettings {
    int32_t PortNumber = 0;  // serial port number; 9999 means TCP/IP
    int32_t MaxReceiptRowLength = 48;
    int32_t FeedCount = 8;
    int32_t ConnectPwd = 30;
    int32_t BaudRate = 115200;
    std::string IPAddress = "127.0.0.1";
    int32_t IPPort = 7778;
    std::string CutString = "[cut]";
    bool DisableCut = false;
    bool ReceiveAllKT = false;
    // One byte on the device side; held whole so that Open can refuse a
    // value that does not fit instead of reading its low byte.
    int32_t EnablePrinting = 0;
    int32_t EnableReportPrinting = 0;
    int32_t ReceiptFontNumber = 1;
    // Slot I is the host's settings GTFontName<I+1>, GTFontSize<I+1>, ...
    std::array<TGraphicTextFont, GraphicTextFontSlots> GTFonts;
    bool ReceiptTextAvailable = true;
};

// Declares the settings held in C's member AField, in the host's order.
template <class C>
void DeclareSettings(TDeclBuilder<C>& B, TDriverSettings C::*AField) {
    using S = TDriverSettings;
    B.Prop("PortNumber", "НомерПорта", "Номер порта", "0", false, AField, &S::PortNumber);
    B.Prop("MaxReceiptRowLength", "ДлинаСтроки", "Длина строки", "48", false, AField, &S::MaxReceiptRowLength);
    B.Prop("FeedCount", "Количество строк протяжки ленты", "Количество строк протяжки ленты", "8", false, AField,
           &S::FeedCount);
    B.Prop("ConnectPwd", "ПарольСвязи", "Пароль связи", "30", false, AField, &S::ConnectPwd);
    B.Prop("BaudRate", "Скорость", "Скорость", "115200", false, AField, &S::BaudRate);
    B.Prop("IPAddress", "IPАдрес", "IP адрес", "127.0.0.1", false, AField, &S::IPAddress);
    B.Prop("IPPort", "IPПорт", "IP порт", "7778", false, AField, &S::IPPort);
    B.Prop("CutString", "CutString", "Маркер отреза бумаги", "[cut]", false, AField, &S::CutString);
    B.Prop("DisableCut", "DisableCut", "Запретить отрезку чека", "false", false, AField, &S::DisableCut);
    B.Prop("ReceiveAllKT", "ReceiveAllKT", "Принимать все КТ", "false", false, AField, &S::ReceiveAllKT);
    B.Prop("EnablePrinting", "ВключитьПечать", "Включить печать", "0", false, AField, &S::EnablePrinting);
    B.Prop("EnableReportPrinting", "ВключитьПечатьОтчетов", "Включить печать отчетов", "0", false, AField,
           &S::EnableReportPrinting);
    B.Prop("ReceiptFontNumber", "НомерШрифтаЧека", "Номер шрифта чека", "1", false, AField, &S::ReceiptFontNumber);

    using F = TGraphicTextFont;
    for (size_t I = 0; I < GraphicTextFontSlots; ++I) {
        const std::string N = std::to_string(I + 1);
        const auto Slot = [&](const std::string& AName, const std::string& ANameLoc, const std::string& ACaption,
                              const std::string& ADefault, auto F::*AInner) {
            B.Prop(AName + N, ANameLoc + N, ACaption, ADefault, false, AField, &S::GTFonts, I, AInner);
        };
        Slot("GTFontName", "НазваниеШрифта", "Название шрифта", "Arial", &F::Name);
        Slot("GTFontSize", "РазмерШрифта", "Размер шрифта", "40", &F::Size);
        Slot("GTIsBold", "СтильBold", "Стиль Bold", "false", &F::IsBold);
        Slot("GTIsItalic", "СтильItalic", "Стиль Italic", "false", &F::IsItalic);
        Slot("GTIsStrikeout", "СтильStrikeout", "Стиль Strikeout", "false", &F::IsStrikeout);
        Slot("GTIsUnderline", "СтильUnderline", "Стиль Underline", "false", &F::IsUnderline);
    }
    B.Prop("ReceiptTextAvailable", "ПоддержкаПечатиТекста", "Поддержка печати текста", "true", false, AField,
           &S::ReceiptTextAvailable);
}

}  // namespace fr
