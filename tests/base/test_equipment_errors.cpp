#include <gtest/gtest.h>

#include "base/uEquipmentErrors.h"

namespace fr {
namespace {

TEST(EquipmentErrors, TextChoiceBetweenMessageTableAndDefault) {
    struct TCase {
        int32_t Code;
        std::string Message, Default, Expected;
    };
    const TCase Cases[] = {
        // Code 0 always reads as "no errors", whatever message comes with it.
        {0, "что-то", "", "Нет ошибок"},
        {3014, "Адрес пуст", "", "Адрес пуст"},
        {3014, "", "X", "Не введен адрес покупателя"},
        {1021, "", "", "Неизвестная ошибка"},
        {1021, "", "X", "X"},
        {3016, "", "", "Неизвестная ошибка"},
        {-1, "", "", "Неизвестная ошибка"},
        {4001, "", "", "Нет связи с pinpad"},
        {4002, "", "", "Нет связи с хостом"},
        {4008, "", "", "Pinpad не вернул текст чека"},
        {6001, "", "", "Запрошенные данные отсутствуют"},
        {3006, "", "", "Недостаточно наличных в кассе"},
        {3017, "", "", "Недостаточно наличности в кассе"},
        {2001, "", "", "Буфер данных пуст"},
        {8001, "", "", "Буфер данных пуст"},
        {16002, "", "", "Кофемашина в сосотояни ожидания запроса на приготовление продукта"},
        {99107, "", "",
         "Ошибка команды, либо команда не поддерживается данным устройством, либо переданны некорректные данные"},
        {99115, "", "",
         "Специфичная для данного класса устройств ошибка. Расширенная информация в дополнительном описании "
         "ошибки"},
    };
    for (const auto& C : Cases) EXPECT_EQ(GetEquipmentErrorText(C.Code, C.Message, C.Default), C.Expected) << C.Code;
}

TEST(EquipmentErrors, TableHoldsExactlyTheStandardCodes) {
    // A code has a text of its own when the default is not used for it.
    int Count = 0;
    for (int32_t Code = -10; Code <= 100000; ++Code)
        if (GetEquipmentErrorText(Code, "", "\x01") != "\x01") ++Count;
    EXPECT_EQ(Count, 91);
    for (int32_t Code : {0, 70, 74, 201, 1001, 1020, 3001, 3030, 99001, 99102})
        EXPECT_NE(GetEquipmentErrorText(Code, "", "\x01"), "\x01") << Code;
}

TEST(EquipmentErrors, RaiseCarriesCodeAndStandardText) {
    try {
        RaiseEquError(3005);
        FAIL() << "no exception";
    } catch (const EquException& E) {
        EXPECT_EQ(E.Code, 3005);
        EXPECT_STREQ(E.what(), "Смена закрыта");
        EXPECT_EQ(E.DeviceCode, 0);
    }
    // A command the device refused: the host's code is the general one.
    try {
        RaiseDeviceError(0x73, "Ошибка команды");
        FAIL() << "no exception";
    } catch (const EquException& E) {
        EXPECT_EQ(E.Code, 1001);
        EXPECT_EQ(E.DeviceCode, 0x73);
        EXPECT_STREQ(E.what(), "Ошибка команды");
    }
}

}  // namespace
}  // namespace fr
