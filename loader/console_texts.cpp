// The console texts, as Windows-1251 bytes; the readable form stands above each line.
#include "console_texts.h"

#include "console.h"

namespace portboot {

const char* ToConsoleText(ConsoleText& text) {
    if (text.shown == nullptr) {
        text.shown = ConvertToConsole(text.bytes, text.length);
    }
    return text.shown;
}

// The usage text is converted with its terminating zero: 472 bytes.
static char usageBytes[] =
    // \n
    "\n"
    // Использование:\n
    "\xC8\xF1\xEF\xEE\xEB\xFC\xE7\xEE\xE2\xE0\xED\xE8\xE5:\n"
    // PORTBOOT.EXE <файл> [COM#] [baud] {L|R} [<точка_входа>]\n
    "PORTBOOT.EXE <\xF4\xE0\xE9\xEB> [COM#] [baud] {L|R} [<\xF2\xEE\xF7\xEA\xE0_\xE2\xF5\xEE"
    "\xE4\xE0>]\n"
    // где:\n
    "\xE3\xE4\xE5:\n"
    //  <файл> - имя загружаемого файла\n
    " <\xF4\xE0\xE9\xEB> - \xE8\xEC\xFF \xE7\xE0\xE3\xF0\xF3\xE6\xE0\xE5\xEC\xEE\xE3\xEE \xF4"
    "\xE0\xE9\xEB\xE0\n"
    //   COM#  - номер порта 1...9 - COM1...COM9 (по умолчанию 1)\n
    "  COM#  - \xED\xEE\xEC\xE5\xF0 \xEF\xEE\xF0\xF2\xE0 1...9 - COM1...COM9 (\xEF\xEE \xF3"
    "\xEC\xEE\xEB\xF7\xE0\xED\xE8\xFE 1)\n"
    //   baud  - скорость порта 9600...921600 (по умолчанию 57600)\n
    "  baud  - \xF1\xEA\xEE\xF0\xEE\xF1\xF2\xFC \xEF\xEE\xF0\xF2\xE0 9600...921600 (\xEF\xEE "
    "\xF3\xEC\xEE\xEB\xF7\xE0\xED\xE8\xFE 57600)\n"
    //   L - загрузка файла в ОЗУ, запись на флеш-диск\n
    "  L - \xE7\xE0\xE3\xF0\xF3\xE7\xEA\xE0 \xF4\xE0\xE9\xEB\xE0 \xE2 \xCE\xC7\xD3, \xE7\xE0"
    "\xEF\xE8\xF1\xFC \xED\xE0 \xF4\xEB\xE5\xF8-\xE4\xE8\xF1\xEA\n"
    //       и запуск на исполнение\n
    "      \xE8 \xE7\xE0\xEF\xF3\xF1\xEA \xED\xE0 \xE8\xF1\xEF\xEE\xEB\xED\xE5\xED\xE8\xE5\n"
    //   R - запуск на исполнение\n
    "  R - \xE7\xE0\xEF\xF3\xF1\xEA \xED\xE0 \xE8\xF1\xEF\xEE\xEB\xED\xE5\xED\xE8\xE5\n"
    //   <точка_входа> - адрес начала исполнения программы (по умолчанию 0)\n
    "  <\xF2\xEE\xF7\xEA\xE0_\xE2\xF5\xEE\xE4\xE0> - \xE0\xE4\xF0\xE5\xF1 \xED\xE0\xF7\xE0"
    "\xEB\xE0 \xE8\xF1\xEF\xEE\xEB\xED\xE5\xED\xE8\xFF \xEF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xFB ("
    "\xEF\xEE \xF3\xEC\xEE\xEB\xF7\xE0\xED\xE8\xFE 0)\n"
    // \n
    "\n"
    //  Пример. Запись файла K2M.BIN через COM1:\n
    " \xCF\xF0\xE8\xEC\xE5\xF0. \xC7\xE0\xEF\xE8\xF1\xFC \xF4\xE0\xE9\xEB\xE0 K2M.BIN \xF7"
    "\xE5\xF0\xE5\xE7 COM1:\n"
    //  PORTBOOT.EXE K2M.BIN 1 L\n
    " PORTBOOT.EXE K2M.BIN 1 L\n";
ConsoleText usageText{usageBytes, sizeof(usageBytes), nullptr};

static char badArgumentBytes[] =
    // Неверный в параметр
    "\xCD\xE5\xE2\xE5\xF0\xED\xFB\xE9 \xE2 \xEF\xE0\xF0\xE0\xEC\xE5\xF2\xF0";
ConsoleText badArgumentText{badArgumentBytes, sizeof(badArgumentBytes) - 1, nullptr};

static char portOpenErrorBytes[] =
    // Невозможно открыть COM-порт, ошибка:
    "\xCD\xE5\xE2\xEE\xE7\xEC\xEE\xE6\xED\xEE \xEE\xF2\xEA\xF0\xFB\xF2\xFC COM-\xEF\xEE\xF0"
    "\xF2, \xEE\xF8\xE8\xE1\xEA\xE0:";
ConsoleText portOpenErrorText{portOpenErrorBytes, sizeof(portOpenErrorBytes) - 1, nullptr};

static char fileTooLargeBytes[] =
    // Слишком большой файл
    "\xD1\xEB\xE8\xF8\xEA\xEE\xEC \xE1\xEE\xEB\xFC\xF8\xEE\xE9 \xF4\xE0\xE9\xEB";
ConsoleText fileTooLargeText{fileTooLargeBytes, sizeof(fileTooLargeBytes) - 1, nullptr};

static char noMemoryBytes[] =
    // Не удалось выделить память под файл
    "\xCD\xE5 \xF3\xE4\xE0\xEB\xEE\xF1\xFC \xE2\xFB\xE4\xE5\xEB\xE8\xF2\xFC \xEF\xE0\xEC\xFF"
    "\xF2\xFC \xEF\xEE\xE4 \xF4\xE0\xE9\xEB";
ConsoleText noMemoryText{noMemoryBytes, sizeof(noMemoryBytes) - 1, nullptr};

static char fileNotLoadedBytes[] =
    // Не удалось загрузить файл в буфер\n
    "\xCD\xE5 \xF3\xE4\xE0\xEB\xEE\xF1\xFC \xE7\xE0\xE3\xF0\xF3\xE7\xE8\xF2\xFC \xF4\xE0\xE9"
    "\xEB \xE2 \xE1\xF3\xF4\xE5\xF0\n";
ConsoleText fileNotLoadedText{fileNotLoadedBytes, sizeof(fileNotLoadedBytes) - 1, nullptr};

static char noAnswerBytes[] =
    // Нет ответа в течение таймаута
    "\xCD\xE5\xF2 \xEE\xF2\xE2\xE5\xF2\xE0 \xE2 \xF2\xE5\xF7\xE5\xED\xE8\xE5 \xF2\xE0\xE9\xEC"
    "\xE0\xF3\xF2\xE0";
ConsoleText noAnswerText{noAnswerBytes, sizeof(noAnswerBytes) - 1, nullptr};

static char deviceErrorBytes[] =
    // Ошибка QD7341:
    "\xCE\xF8\xE8\xE1\xEA\xE0 QD7341:";
ConsoleText deviceErrorText{deviceErrorBytes, sizeof(deviceErrorBytes) - 1, nullptr};

static char loadFinishedBytes[] =
    // \n
    "\n"
    // Загрузка завершена
    "\xC7\xE0\xE3\xF0\xF3\xE7\xEA\xE0 \xE7\xE0\xE2\xE5\xF0\xF8\xE5\xED\xE0";
ConsoleText loadFinishedText{loadFinishedBytes, sizeof(loadFinishedBytes) - 1, nullptr};

static char labelInitBytes[] =
    // Инициализация
    "\xC8\xED\xE8\xF6\xE8\xE0\xEB\xE8\xE7\xE0\xF6\xE8\xFF ";
static ConsoleText labelInitText{labelInitBytes, sizeof(labelInitBytes) - 1, nullptr};

static char labelLoadCodeBytes[] =
    // Загрузка кода
    "\xC7\xE0\xE3\xF0\xF3\xE7\xEA\xE0 \xEA\xEE\xE4\xE0 ";
static ConsoleText labelLoadCodeText{labelLoadCodeBytes, sizeof(labelLoadCodeBytes) - 1, nullptr};

static char labelExecuteBytes[] =
    // Выполнение
    "\xC2\xFB\xEF\xEE\xEB\xED\xE5\xED\xE8\xE5 ";
static ConsoleText labelExecuteText{labelExecuteBytes, sizeof(labelExecuteBytes) - 1, nullptr};

static char labelStopBytes[] =
    // Останов
    "\xCE\xF1\xF2\xE0\xED\xEE\xE2 ";
static ConsoleText labelStopText{labelStopBytes, sizeof(labelStopBytes) - 1, nullptr};

static char labelSaveCodeBytes[] =
    // Сохранение кода
    "\xD1\xEE\xF5\xF0\xE0\xED\xE5\xED\xE8\xE5 \xEA\xEE\xE4\xE0 ";
static ConsoleText labelSaveCodeText{labelSaveCodeBytes, sizeof(labelSaveCodeBytes) - 1, nullptr};

static char labelEndOfCodeBytes[] =
    // Конец кода
    "\xCA\xEE\xED\xE5\xF6 \xEA\xEE\xE4\xE0 ";
static ConsoleText labelEndOfCodeText{labelEndOfCodeBytes, sizeof(labelEndOfCodeBytes) - 1,
                                      nullptr};

static char functionRunBytes[] =
    // выполнение
    "\xE2\xFB\xEF\xEE\xEB\xED\xE5\xED\xE8\xE5";
ConsoleText functionRunText{functionRunBytes, sizeof(functionRunBytes) - 1, nullptr};

static char functionLoadBytes[] =
    // загрузка
    "\xE7\xE0\xE3\xF0\xF3\xE7\xEA\xE0";
ConsoleText functionLoadText{functionLoadBytes, sizeof(functionLoadBytes) - 1, nullptr};

static char portWriteErrorBytes[] =
    // Ошибка записи в COM-порт, ошибка:
    "\xCE\xF8\xE8\xE1\xEA\xE0 \xE7\xE0\xEF\xE8\xF1\xE8 \xE2 COM-\xEF\xEE\xF0\xF2, \xEE\xF8"
    "\xE8\xE1\xEA\xE0:";
ConsoleText portWriteErrorText{portWriteErrorBytes, sizeof(portWriteErrorBytes) - 1, nullptr};

static char portReadErrorBytes[] =
    // Ошибка чтения COM-порта, ошибка:
    "\xCE\xF8\xE8\xE1\xEA\xE0 \xF7\xF2\xE5\xED\xE8\xFF COM-\xEF\xEE\xF0\xF2\xE0, \xEE"
    "\xF8\xE8\xE1\xEA\xE0:";
ConsoleText portReadErrorText{portReadErrorBytes, sizeof(portReadErrorBytes) - 1, nullptr};

ConsoleText* const commandLabels[kCommandLabelCount] = {
    &labelInitText, &labelLoadCodeText, &labelExecuteText,
    &labelStopText, &labelSaveCodeText, &labelEndOfCodeText,
};

}  // namespace portboot
