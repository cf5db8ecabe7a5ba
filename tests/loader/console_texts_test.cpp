// Every console text, once converted (the tests run in the C locale, where the texts come out
// as UTF-8), reads exactly as the program is meant to print it; a wrong escape byte would show
// here as a wrong letter, and a text missing from the table as an empty one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "console_texts.h"
#include "expected_texts.h"

namespace {

using namespace portboot;

struct TextCase {
    Text text;
    const char* expected;
};

TEST(ConsoleTextsTest, EveryTextConvertsToItsWording) {
    const TextCase cases[] = {
        {Text::Usage, expected::kUsage},
        {Text::BadArgument, "Неверный в параметр"},
        {Text::PortOpenError, "Невозможно открыть COM-порт, ошибка:"},
        {Text::FileTooLarge, "Слишком большой файл"},
        {Text::NoMemory, "Не удалось выделить память под файл"},
        {Text::FileNotLoaded, "Не удалось загрузить файл в буфер\n"},
        {Text::NoAnswer, "Нет ответа в течение таймаута"},
        {Text::DeviceError, "Ошибка QD7341:"},
        {Text::PortWriteError, "Ошибка записи в COM-порт, ошибка:"},
        {Text::PortReadError, "Ошибка чтения COM-порта, ошибка:"},
        {Text::LoadFinished, "\nЗагрузка завершена"},
        {Text::InfoFormat, "\nФайл %s\nПорт %s:%u\nФункция %s\nТочка входа %u\nДлина файла %u"},
        {Text::FunctionRun, "выполнение"},
        {Text::FunctionLoad, "загрузка"},
        {Text::LabelInit, "Инициализация "},
        {Text::LabelLoadCode, "Загрузка кода "},
        {Text::LabelExecute, "Выполнение "},
        {Text::LabelStop, "Останов "},
        {Text::LabelSaveCode, "Сохранение кода "},
        {Text::LabelEndOfCode, "Конец кода "},
        {Text::NotePort, "Порт %s: %s"},
        {Text::NoteHeld, "Порт %s занят: %s"},
        {Text::NoteHolder, "процесс %ld (%s)"},
        {Text::NoteEmptyFile, "файл пуст"},
        {Text::NoteShortRead, "прочитано %u байт из %u"},
        {Text::NoteLocked, "Порт %s занят: процесс %ld (%s), файл блокировки %s"},
        {Text::NoteNoAnswer,
         "Порт %s, %u бод: проверьте, что плата в режиме загрузки, скорость и "
         "кабель или адаптер%s"},
        {Text::NoteModemService, "; ModemManager на этой машине может занимать порты USB ACM"},
        {Text::NoteReadAs, "Параметр %i: '%s' прочитан как %u"},
        {Text::KeyPrompt, "Нажмите любую клавишу..."},
        {Text::UsageNote, expected::kUsageNoteLinux},
    };
    const ConsoleTexts texts;
    for (const TextCase& c : cases) {
        EXPECT_STREQ(texts[c.text], c.expected);
    }
    for (std::size_t i = 0; i < kTextCount; ++i) {
        EXPECT_GT(SourceOf(static_cast<Text>(i)).length, 0u) << "text " << i << " is empty";
    }
}

TEST(ConsoleTextsTest, UsageIs471CharactersConvertedWithItsTerminator) {
    const TextBytes usage = SourceOf(Text::Usage);
    EXPECT_EQ(std::strlen(usage.bytes), 471u);
    EXPECT_EQ(usage.length, 472u);
}

// The progress view starts after the label: its width is its characters, not its UTF-8 bytes.
TEST(ConsoleTextsTest, ColumnsCountCharacters) {
    EXPECT_EQ(ConsoleTexts::Columns(Text::LabelLoadCode), 14u);
}

}  // namespace
