// The connection and printing settings the host sets before Open. The
// driver object holds them as host properties; each device session keeps
// the copy it was opened with. Both declare them through DeclareSettings,
// so names, captions and defaults stand in one place.
#pragma once

#include <cstdint>
#include <string>

#include "frame/uCustomDriver.h"

namespace fr {

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
    // Graphic-text font slots 1 to 5.
    std::string GTFontName1 = "Arial", GTFontName2 = "Arial", GTFontName3 = "Arial", GTFontName4 = "Arial",
                GTFontName5 = "Arial";
    int32_t GTFontSize1 = 40, GTFontSize2 = 40, GTFontSize3 = 40, GTFontSize4 = 40, GTFontSize5 = 40;
    bool GTIsBold1 = false, GTIsBold2 = false, GTIsBold3 = false, GTIsBold4 = false, GTIsBold5 = false;
    bool GTIsItalic1 = false, GTIsItalic2 = false, GTIsItalic3 = false, GTIsItalic4 = false, GTIsItalic5 = false;
    bool GTIsStrikeout1 = false, GTIsStrikeout2 = false, GTIsStrikeout3 = false, GTIsStrikeout4 = false,
         GTIsStrikeout5 = false;
    bool GTIsUnderline1 = false, GTIsUnderline2 = false, GTIsUnderline3 = false, GTIsUnderline4 = false,
         GTIsUnderline5 = false;
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

    std::string S::*const Names[] = {&S::GTFontName1, &S::GTFontName2, &S::GTFontName3, &S::GTFontName4,
                                     &S::GTFontName5};
    int32_t S::*const Sizes[] = {&S::GTFontSize1, &S::GTFontSize2, &S::GTFontSize3, &S::GTFontSize4,
                                 &S::GTFontSize5};
    bool S::*const Bold[] = {&S::GTIsBold1, &S::GTIsBold2, &S::GTIsBold3, &S::GTIsBold4, &S::GTIsBold5};
    bool S::*const Italic[] = {&S::GTIsItalic1, &S::GTIsItalic2, &S::GTIsItalic3, &S::GTIsItalic4,
                               &S::GTIsItalic5};
    bool S::*const Strikeout[] = {&S::GTIsStrikeout1, &S::GTIsStrikeout2, &S::GTIsStrikeout3, &S::GTIsStrikeout4,
                                  &S::GTIsStrikeout5};
    bool S::*const Underline[] = {&S::GTIsUnderline1, &S::GTIsUnderline2, &S::GTIsUnderline3, &S::GTIsUnderline4,
                                  &S::GTIsUnderline5};
    for (int I = 0; I < 5; ++I) {
        const std::string N = std::to_string(I + 1);
        B.Prop("GTFontName" + N, "НазваниеШрифта" + N, "Название шрифта", "Arial", false, AField, Names[I]);
        B.Prop("GTFontSize" + N, "РазмерШрифта" + N, "Размер шрифта", "40", false, AField, Sizes[I]);
        B.Prop("GTIsBold" + N, "СтильBold" + N, "Стиль Bold", "false", false, AField, Bold[I]);
        B.Prop("GTIsItalic" + N, "СтильItalic" + N, "Стиль Italic", "false", false, AField, Italic[I]);
        B.Prop("GTIsStrikeout" + N, "СтильStrikeout" + N, "Стиль Strikeout", "false", false, AField, Strikeout[I]);
        B.Prop("GTIsUnderline" + N, "СтильUnderline" + N, "Стиль Underline", "false", false, AField, Underline[I]);
    }
    B.Prop("ReceiptTextAvailable", "ПоддержкаПечатиТекста", "Поддержка печати текста", "true", false, AField,
           &S::ReceiptTextAvailable);
}

}  // namespace fr
