// The console texts, as Windows-1251 bytes; the readable form stands above each line.
#include "console_texts.h"

#include "console.h"

namespace portboot {

namespace {

// The usage text is converted with its terminating zero: 472 bytes.
constexpr char kUsage[] =
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

constexpr char kBadArgument[] =
    // Неверный в параметр
    "\xCD\xE5\xE2\xE5\xF0\xED\xFB\xE9 \xE2 \xEF\xE0\xF0\xE0\xEC\xE5\xF2\xF0";

constexpr char kPortOpenError[] =
    // Невозможно открыть COM-порт, ошибка:
    "\xCD\xE5\xE2\xEE\xE7\xEC\xEE\xE6\xED\xEE \xEE\xF2\xEA\xF0\xFB\xF2\xFC COM-\xEF\xEE\xF0"
    "\xF2, \xEE\xF8\xE8\xE1\xEA\xE0:";

constexpr char kFileTooLarge[] =
    // Слишком большой файл
    "\xD1\xEB\xE8\xF8\xEA\xEE\xEC \xE1\xEE\xEB\xFC\xF8\xEE\xE9 \xF4\xE0\xE9\xEB";

constexpr char kNoMemory[] =
    // Не удалось выделить память под файл
    "\xCD\xE5 \xF3\xE4\xE0\xEB\xEE\xF1\xFC \xE2\xFB\xE4\xE5\xEB\xE8\xF2\xFC \xEF\xE0\xEC\xFF"
    "\xF2\xFC \xEF\xEE\xE4 \xF4\xE0\xE9\xEB";

constexpr char kFileNotLoaded[] =
    // Не удалось загрузить файл в буфер\n
    "\xCD\xE5 \xF3\xE4\xE0\xEB\xEE\xF1\xFC \xE7\xE0\xE3\xF0\xF3\xE7\xE8\xF2\xFC \xF4\xE0\xE9"
    "\xEB \xE2 \xE1\xF3\xF4\xE5\xF0\n";

constexpr char kNoAnswer[] =
    // Нет ответа в течение таймаута
    "\xCD\xE5\xF2 \xEE\xF2\xE2\xE5\xF2\xE0 \xE2 \xF2\xE5\xF7\xE5\xED\xE8\xE5 \xF2\xE0\xE9\xEC"
    "\xE0\xF3\xF2\xE0";

constexpr char kDeviceError[] =
    // Ошибка QD7341:
    "\xCE\xF8\xE8\xE1\xEA\xE0 QD7341:";

constexpr char kLoadFinished[] =
    // \n
    "\n"
    // Загрузка завершена
    "\xC7\xE0\xE3\xF0\xF3\xE7\xEA\xE0 \xE7\xE0\xE2\xE5\xF0\xF8\xE5\xED\xE0";

// The image's path comes joined: the current directory appears only before a relative name.
constexpr char kInfoFormat[] =
    // \n
    "\n"
    // Файл %s\n
    "\xD4\xE0\xE9\xEB %s\n"
    // Порт %s:%u\n
    "\xCF\xEE\xF0\xF2 %s:%u\n"
    // Функция %s\n
    "\xD4\xF3\xED\xEA\xF6\xE8\xFF %s\n"
    // Точка входа %u\n
    "\xD2\xEE\xF7\xEA\xE0 \xE2\xF5\xEE\xE4\xE0 %u\n"
    // Длина файла %u
    "\xC4\xEB\xE8\xED\xE0 \xF4\xE0\xE9\xEB\xE0 %u";

constexpr char kLabelInit[] =
    // Инициализация
    "\xC8\xED\xE8\xF6\xE8\xE0\xEB\xE8\xE7\xE0\xF6\xE8\xFF ";

constexpr char kLabelLoadCode[] =
    // Загрузка кода
    "\xC7\xE0\xE3\xF0\xF3\xE7\xEA\xE0 \xEA\xEE\xE4\xE0 ";

constexpr char kLabelExecute[] =
    // Выполнение
    "\xC2\xFB\xEF\xEE\xEB\xED\xE5\xED\xE8\xE5 ";

constexpr char kLabelStop[] =
    // Останов
    "\xCE\xF1\xF2\xE0\xED\xEE\xE2 ";

constexpr char kLabelSaveCode[] =
    // Сохранение кода
    "\xD1\xEE\xF5\xF0\xE0\xED\xE5\xED\xE8\xE5 \xEA\xEE\xE4\xE0 ";

constexpr char kLabelEndOfCode[] =
    // Конец кода
    "\xCA\xEE\xED\xE5\xF6 \xEA\xEE\xE4\xE0 ";

constexpr char kFunctionRun[] =
    // выполнение
    "\xE2\xFB\xEF\xEE\xEB\xED\xE5\xED\xE8\xE5";

constexpr char kFunctionLoad[] =
    // загрузка
    "\xE7\xE0\xE3\xF0\xF3\xE7\xEA\xE0";

constexpr char kPortWriteError[] =
    // Ошибка записи в COM-порт, ошибка:
    "\xCE\xF8\xE8\xE1\xEA\xE0 \xE7\xE0\xEF\xE8\xF1\xE8 \xE2 COM-\xEF\xEE\xF0\xF2, \xEE\xF8"
    "\xE8\xE1\xEA\xE0:";

constexpr char kPortReadError[] =
    // Ошибка чтения COM-порта, ошибка:
    "\xCE\xF8\xE8\xE1\xEA\xE0 \xF7\xF2\xE5\xED\xE8\xFF COM-\xEF\xEE\xF0\xF2\xE0, \xEE"
    "\xF8\xE8\xE1\xEA\xE0:";

}  // namespace

TextBytes SourceOf(Text id) {
    switch (id) {
        case Text::Usage:
            return TextBytes{kUsage, sizeof kUsage};
        case Text::BadArgument:
            return Bytes(kBadArgument);
        case Text::PortOpenError:
            return Bytes(kPortOpenError);
        case Text::FileTooLarge:
            return Bytes(kFileTooLarge);
        case Text::NoMemory:
            return Bytes(kNoMemory);
        case Text::FileNotLoaded:
            return Bytes(kFileNotLoaded);
        case Text::NoAnswer:
            return Bytes(kNoAnswer);
        case Text::DeviceError:
            return Bytes(kDeviceError);
        case Text::PortWriteError:
            return Bytes(kPortWriteError);
        case Text::PortReadError:
            return Bytes(kPortReadError);
        case Text::LoadFinished:
            return Bytes(kLoadFinished);
        case Text::FunctionRun:
            return Bytes(kFunctionRun);
        case Text::FunctionLoad:
            return Bytes(kFunctionLoad);
        case Text::LabelInit:
            return Bytes(kLabelInit);
        case Text::LabelLoadCode:
            return Bytes(kLabelLoadCode);
        case Text::LabelExecute:
            return Bytes(kLabelExecute);
        case Text::LabelStop:
            return Bytes(kLabelStop);
        case Text::LabelSaveCode:
            return Bytes(kLabelSaveCode);
        case Text::LabelEndOfCode:
            return Bytes(kLabelEndOfCode);
        case Text::InfoFormat:
            return Bytes(kInfoFormat);
        case Text::UsageNote:
            return ConsolePlatformText(id);
        case Text::NotePort:
        case Text::NoteNoAccess:
        case Text::NoteExisting:
        case Text::NoteNoneExist:
        case Text::NoteOwnTerminal:
        case Text::NoteHeld:
        case Text::NoteHolder:
        case Text::NoteHiddenHolder:
            return PortNoteText(id);
        case Text::NoteEmptyFile:
        case Text::NoteShortRead:
            return ImageNoteText(id);
        case Text::Count:
            break;
    }
    return TextBytes{"", 0};
}

ConsoleTexts::ConsoleTexts() {
    for (std::size_t i = 0; i < kTextCount; ++i) {
        const TextBytes source = SourceOf(static_cast<Text>(i));
        shown_[i] = ConvertToConsole(source.bytes, source.length);
    }
}

}  // namespace portboot
