// Every console text, once converted (the tests run in the C locale, where the texts come out
// as UTF-8), reads exactly as the program is meant to print it; a wrong escape byte would show
// here as a wrong letter.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "console_texts.h"
#include "expected_usage.h"

namespace {

using namespace portboot;

struct TextCase {
    ConsoleText* text;
    const char* expected;
};

TEST(ConsoleTextsTest, EveryTextConvertsToItsWording) {
    const TextCase cases[] = {
        {&usageText, kUsage},
        {&badArgumentText, "Неверный в параметр"},
        {&portOpenErrorText, "Невозможно открыть COM-порт, ошибка:"},
        {&fileTooLargeText, "Слишком большой файл"},
        {&noMemoryText, "Не удалось выделить память под файл"},
        {&fileNotLoadedText, "Не удалось загрузить файл в буфер\n"},
        {&noAnswerText, "Нет ответа в течение таймаута"},
        {&deviceErrorText, "Ошибка QD7341:"},
        {&portWriteErrorText, "Ошибка записи в COM-порт, ошибка:"},
        {&loadFinishedText, "\nЗагрузка завершена"},
        {&infoFormatText, "\nФайл %s/%s\nПорт %s:%u\nФункция %s\nТочка входа %u\nДлина файла %u"},
        {&functionRunText, "выполнение"},
        {&functionLoadText, "загрузка"},
        {commandLabels[0], "Инициализация "},
        {commandLabels[1], "Загрузка кода "},
        {commandLabels[2], "Выполнение "},
        {commandLabels[3], "Останов "},
        {commandLabels[4], "Сохранение кода "},
        {commandLabels[5], "Конец кода "},
    };
    for (const TextCase& c : cases) {
        EXPECT_STREQ(ToConsoleText(*c.text), c.expected);
    }
}

TEST(ConsoleTextsTest, UsageIs471CharactersConvertedWithItsTerminator) {
    EXPECT_EQ(std::strlen(usageText.bytes), 471u);
    EXPECT_EQ(usageText.length, 472u);
}

TEST(ConsoleTextsTest, SecondConversionChangesNothing) {
    const std::string first = ToConsoleText(deviceErrorText);
    const char* again = ToConsoleText(deviceErrorText);
    EXPECT_EQ(again, deviceErrorText.shown);
    EXPECT_EQ(first, again);
    EXPECT_STREQ(again, "Ошибка QD7341:");
}

}  // namespace
