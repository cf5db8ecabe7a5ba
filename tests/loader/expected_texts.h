// The texts portboot prints, as the person at the console must read them, written out
// independently of the program's own Windows-1251 bytes, for every test that checks them: the
// unit tests of the load sequence and the end-to-end tables alike.
#pragma once

#include <string>

namespace expected {

inline constexpr char kUsage[] =
    "\n"
    "Использование:\n"
    "PORTBOOT.EXE <файл> [COM#] [baud] {L|R} [<точка_входа>]\n"
    "где:\n"
    " <файл> - имя загружаемого файла\n"
    "  COM#  - номер порта 1...9 - COM1...COM9 (по умолчанию 1)\n"
    "  baud  - скорость порта 9600...921600 (по умолчанию 57600)\n"
    "  L - загрузка файла в ОЗУ, запись на флеш-диск\n"
    "      и запуск на исполнение\n"
    "  R - запуск на исполнение\n"
    "  <точка_входа> - адрес начала исполнения программы (по умолчанию 0)\n"
    "\n"
    " Пример. Запись файла K2M.BIN через COM1:\n"
    " PORTBOOT.EXE K2M.BIN 1 L\n";

// What the Linux program prints under it: how ports are named there, and where the exit statuses
// are listed.
inline constexpr char kUsageNoteLinux[] =
    "\n"
    " В Linux порт можно назвать путём к устройству: /dev/ttyUSB0,\n"
    " /dev/serial/by-id/...; COMn - это /dev/ttyS(n-1).\n"
    " Коды завершения перечислены в man portboot.\n"
    " PORTBOOT_NO_KEY_WAIT=1 - не ждать клавишу перед выходом с ошибкой.\n";

// The Linux note under "no answer", before the port and after the speed; where ModemManager
// runs, kNoAnswerModemNote follows.
inline const std::string kNoAnswerNotePort = "Порт ";
inline const std::string kNoAnswerNoteAdvice =
    " бод: проверьте, что плата в режиме загрузки, скорость и кабель или адаптер";
inline const std::string kNoAnswerModemNote =
    "; ModemManager на этой машине может занимать порты USB ACM";

// The progress labels, each beginning its line.
inline const std::string kInit = "\nИнициализация ";
inline const std::string kLoadCode = "\nЗагрузка кода ";
inline const std::string kEndOfCode = "\nКонец кода ";
inline const std::string kFinished = "\nЗагрузка завершена";
inline const std::string kSave = "\nСохранение кода ";
inline const std::string kExecute = "\nВыполнение ";
// A whole load after the information block, with the closing line feed.
inline const std::string kLoadTail = kInit + kLoadCode + kEndOfCode + kFinished + kSave + "\n";
inline const std::string kRunTail = kInit + kLoadCode + kEndOfCode + kFinished + kExecute + "\n";

inline const std::string kLoadFunction = "загрузка";
inline const std::string kRunFunction = "выполнение";

// The stops' texts; those that go with a number end before it.
inline const std::string kNoAnswer = "Нет ответа в течение таймаута\n";
inline const std::string kPortOpenError = "Невозможно открыть COM-порт, ошибка: ";
inline const std::string kWriteFailed = "Ошибка записи в COM-порт, ошибка: ";
inline const std::string kReadFailed = "Ошибка чтения COM-порта, ошибка: ";
inline const std::string kBadArgument = "Неверный в параметр ";
inline const std::string kTooLarge = "Слишком большой файл\n";
inline const std::string kNotLoaded = "Не удалось загрузить файл в буфер\n";

inline std::string DeviceError(unsigned status) {
    return "Ошибка QD7341: " + std::to_string(status) + "\n";
}

// The information block, its path and port as the program shows them.
inline std::string Info(const std::string& path, const std::string& port, unsigned baud,
                        const std::string& function, unsigned entry, unsigned length) {
    return "\nФайл " + path + "\nПорт " + port + ":" + std::to_string(baud) + "\nФункция " +
           function + "\nТочка входа " + std::to_string(entry) + "\nДлина файла " +
           std::to_string(length);
}

// As a terminal shows a transcript: its line feeds reach the screen as CR LF.
inline std::string AsOnTerminal(const std::string& transcript) {
    std::string out;
    for (char c : transcript) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

}  // namespace expected
