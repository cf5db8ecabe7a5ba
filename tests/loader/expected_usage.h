// The usage text as the person at the console must read it, written out independently of the
// program's own Windows-1251 bytes, for every test that checks it.
#pragma once

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
    " Коды завершения перечислены в man portboot.\n";
