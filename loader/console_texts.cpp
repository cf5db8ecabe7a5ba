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

// The Linux program's own texts: the paragraph under the usage text, the prompt of the key
// wait, and the note lines under a failure or an option.

// How a port is named here, and where the exit statuses are; printed under the usage text.
constexpr char kUsageNote[] =
    // \n
    "\n"
    //  В Linux порт можно назвать путём к устройству: /dev/ttyUSB0,\n
    " \xC2 Linux \xEF\xEE\xF0\xF2 \xEC\xEE\xE6\xED\xEE \xED\xE0\xE7\xE2\xE0\xF2\xFC \xEF\xF3"
    "\xF2\xB8\xEC \xEA \xF3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xF3: /dev/ttyUSB0,\n"
    //  /dev/serial/by-id/...; COMn - это /dev/ttyS(n-1).\n
    " /dev/serial/by-id/...; COMn - \xFD\xF2\xEE /dev/ttyS(n-1).\n"
    //  Коды завершения перечислены в man portboot.\n
    " \xCA\xEE\xE4\xFB \xE7\xE0\xE2\xE5\xF0\xF8\xE5\xED\xE8\xFF \xEF\xE5\xF0\xE5\xF7\xE8\xF1"
    "\xEB\xE5\xED\xFB \xE2 man portboot.\n"
    //  PORTBOOT_NO_KEY_WAIT=1 - не ждать клавишу перед выходом с ошибкой.\n
    " PORTBOOT_NO_KEY_WAIT=1 - \xED\xE5 \xE6\xE4\xE0\xF2\xFC \xEA\xEB\xE0\xE2\xE8\xF8\xF3 "
    "\xEF\xE5\xF0\xE5\xE4 \xE2\xFB\xF5\xEE\xE4\xEE\xEC \xF1 \xEE\xF8\xE8\xE1\xEA\xEE\xE9.\n";

constexpr char kNotePort[] =
    // Порт %s: %s
    "\xCF\xEE\xF0\xF2 %s: %s";

constexpr char kNoteNoAccess[] =
    // Порт %s: %s; он открыт группе %s: sudo usermod -aG %s $USER, затем войдите в систему заново
    "\xCF\xEE\xF0\xF2 %s: %s; \xEE\xED \xEE\xF2\xEA\xF0\xFB\xF2 \xE3\xF0\xF3\xEF\xEF\xE5 %s: "
    "sudo usermod -aG %s $USER, \xE7\xE0\xF2\xE5\xEC \xE2\xEE\xE9\xE4\xE8\xF2\xE5 \xE2 \xF1"
    "\xE8\xF1\xF2\xE5\xEC\xF3 \xE7\xE0\xED\xEE\xE2\xEE";

constexpr char kNoteExisting[] =
    // Порт %s: %s; есть порты: %s
    "\xCF\xEE\xF0\xF2 %s: %s; \xE5\xF1\xF2\xFC \xEF\xEE\xF0\xF2\xFB: %s";

constexpr char kNoteNoneExist[] =
    // Порт %s: %s; последовательных портов в системе нет
    "\xCF\xEE\xF0\xF2 %s: %s; \xEF\xEE\xF1\xEB\xE5\xE4\xEE\xE2\xE0\xF2\xE5\xEB\xFC\xED\xFB"
    "\xF5 \xEF\xEE\xF0\xF2\xEE\xE2 \xE2 \xF1\xE8\xF1\xF2\xE5\xEC\xE5 \xED\xE5\xF2";

constexpr char kNoteOwnTerminal[] =
    // Порт %s: это терминал, в котором работает программа, а не линия к устройству
    "\xCF\xEE\xF0\xF2 %s: \xFD\xF2\xEE \xF2\xE5\xF0\xEC\xE8\xED\xE0\xEB, \xE2 \xEA\xEE\xF2"
    "\xEE\xF0\xEE\xEC \xF0\xE0\xE1\xEE\xF2\xE0\xE5\xF2 \xEF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xE0, "
    "\xE0 \xED\xE5 \xEB\xE8\xED\xE8\xFF \xEA \xF3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xF3";

constexpr char kNoteHeld[] =
    // Порт %s занят: %s
    "\xCF\xEE\xF0\xF2 %s \xE7\xE0\xED\xFF\xF2: %s";

constexpr char kNoteHolder[] =
    // процесс %ld (%s)
    "\xEF\xF0\xEE\xF6\xE5\xF1\xF1 %ld (%s)";

constexpr char kNoteHiddenHolder[] =
    // Порт %s: %s; его держит другая программа (процессы других пользователей видит только root)
    "\xCF\xEE\xF0\xF2 %s: %s; \xE5\xE3\xEE \xE4\xE5\xF0\xE6\xE8\xF2 \xE4\xF0\xF3\xE3\xE0\xFF "
    "\xEF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xE0 (\xEF\xF0\xEE\xF6\xE5\xF1\xF1\xFB \xE4\xF0\xF3\xE3"
    "\xE8\xF5 \xEF\xEE\xEB\xFC\xE7\xEE\xE2\xE0\xF2\xE5\xEB\xE5\xE9 \xE2\xE8\xE4\xE8\xF2 \xF2"
    "\xEE\xEB\xFC\xEA\xEE root)";

// Shown on the terminal itself while the key wait lasts, and erased after the key.
constexpr char kKeyPrompt[] =
    // Нажмите любую клавишу...
    "\xCD\xE0\xE6\xEC\xE8\xF2\xE5 \xEB\xFE\xE1\xF3\xFE \xEA\xEB\xE0\xE2\xE8\xF8\xF3...";

constexpr char kNoteLocked[] =
    // Порт %s занят: процесс %ld (%s), файл блокировки %s
    "\xCF\xEE\xF0\xF2 %s \xE7\xE0\xED\xFF\xF2: \xEF\xF0\xEE\xF6\xE5\xF1\xF1 %ld (%s), \xF4"
    "\xE0\xE9\xEB \xE1\xEB\xEE\xEA\xE8\xF0\xEE\xE2\xEA\xE8 %s";

constexpr char kNoteNoAnswer[] =
    // Порт %s, %u бод: проверьте, что плата в режиме загрузки, скорость и кабель или адаптер%s
    "\xCF\xEE\xF0\xF2 %s, %u \xE1\xEE\xE4: \xEF\xF0\xEE\xE2\xE5\xF0\xFC\xF2\xE5, \xF7\xF2\xEE"
    " \xEF\xEB\xE0\xF2\xE0 \xE2 \xF0\xE5\xE6\xE8\xEC\xE5 \xE7\xE0\xE3\xF0\xF3\xE7\xEA\xE8, "
    "\xF1\xEA\xEE\xF0\xEE\xF1\xF2\xFC \xE8 \xEA\xE0\xE1\xE5\xEB\xFC \xE8\xEB\xE8 \xE0\xE4\xE0"
    "\xEF\xF2\xE5\xF0%s";

constexpr char kNoteModemService[] =
    // ; ModemManager на этой машине может занимать порты USB ACM
    "; ModemManager \xED\xE0 \xFD\xF2\xEE\xE9 \xEC\xE0\xF8\xE8\xED\xE5 \xEC\xEE\xE6\xE5\xF2 "
    "\xE7\xE0\xED\xE8\xEC\xE0\xF2\xFC \xEF\xEE\xF0\xF2\xFB USB ACM";

constexpr char kNoteReadAs[] =
    // Параметр %i: '%s' прочитан как %u
    "\xCF\xE0\xF0\xE0\xEC\xE5\xF2\xF0 %i: '%s' \xEF\xF0\xEE\xF7\xE8\xF2\xE0\xED \xEA\xE0\xEA "
    "%u";

// Said where the C library would word error number 0 "Success" under a failure.
constexpr char kNoteEmptyFile[] =
    // файл пуст
    "\xF4\xE0\xE9\xEB \xEF\xF3\xF1\xF2";

constexpr char kNoteShortRead[] =
    // прочитано %u байт из %u
    "\xEF\xF0\xEE\xF7\xE8\xF2\xE0\xED\xEE %u \xE1\xE0\xE9\xF2 \xE8\xE7 %u";
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
        case Text::KeyPrompt:
            return ConsolePlatformText(id);
        case Text::NotePort:
        case Text::NoteNoAccess:
        case Text::NoteExisting:
        case Text::NoteNoneExist:
        case Text::NoteOwnTerminal:
        case Text::NoteHeld:
        case Text::NoteHolder:
        case Text::NoteHiddenHolder:
        case Text::NoteLocked:
        case Text::NoteNoAnswer:
        case Text::NoteModemService:
        case Text::NoteReadAs:
            return PortNoteText(id);
        case Text::NoteEmptyFile:
        case Text::NoteShortRead:
            return ImageNoteText(id);
        case Text::Count:
            break;
    }
    return TextBytes{"", 0};
}

TextBytes LinuxText(Text id) {
    switch (id) {
        case Text::UsageNote:
            return Bytes(kUsageNote);
        case Text::KeyPrompt:
            return Bytes(kKeyPrompt);
        case Text::NotePort:
            return Bytes(kNotePort);
        case Text::NoteNoAccess:
            return Bytes(kNoteNoAccess);
        case Text::NoteExisting:
            return Bytes(kNoteExisting);
        case Text::NoteNoneExist:
            return Bytes(kNoteNoneExist);
        case Text::NoteOwnTerminal:
            return Bytes(kNoteOwnTerminal);
        case Text::NoteHeld:
            return Bytes(kNoteHeld);
        case Text::NoteHolder:
            return Bytes(kNoteHolder);
        case Text::NoteHiddenHolder:
            return Bytes(kNoteHiddenHolder);
        case Text::NoteLocked:
            return Bytes(kNoteLocked);
        case Text::NoteNoAnswer:
            return Bytes(kNoteNoAnswer);
        case Text::NoteModemService:
            return Bytes(kNoteModemService);
        case Text::NoteReadAs:
            return Bytes(kNoteReadAs);
        case Text::NoteEmptyFile:
            return Bytes(kNoteEmptyFile);
        case Text::NoteShortRead:
            return Bytes(kNoteShortRead);
        default:
            return TextBytes{"", 0};
    }
}

ConsoleTexts::ConsoleTexts() {
    for (std::size_t i = 0; i < kTextCount; ++i) {
        const TextBytes source = SourceOf(static_cast<Text>(i));
        shown_[i] = ConvertToConsole(source.bytes, source.length);
    }
}

}  // namespace portboot
