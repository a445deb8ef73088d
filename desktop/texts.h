#pragma once
// Every text the desktop program shows, in one place, byte for byte. Some
// captions mix alphabets on purpose ("Cоздать" starts with a Latin C,
// "Mах" with a Latin M, "(cервер)" has a Latin c, "ОРС" is Cyrillic in the
// remote-configuration texts): users' documentation and scripts match them.

namespace gw::desktop::texts {

inline constexpr const char* AppTitle = "Norvane";
inline constexpr const char* OpcProgId = "Norvane.OPCServer";
inline constexpr const char* InstanceMutexName = "Norvane_serv";

// Main window.
inline constexpr const char* AlreadyRunning = "Приложение уже запущено! ОРС-сервер свёрнут в системный трей.";
inline constexpr const char* RestartAdvice =
    "Желательно полностью перезапустить программу, чтобы изменения вступили в силу!";
inline constexpr const char* StartPolling = "Начать опрос";
inline constexpr const char* StopPolling = "Остановить опрос";
inline constexpr const char* Add = "Добавить";
inline constexpr const char* Change = "Изменить";
inline constexpr const char* Delete = "Удалить";
inline constexpr const char* OpcUaButton = "OPC UA";
inline constexpr const char* ClientCount = "Кол-во клиентов:";
inline constexpr const char* GroupCount = "Кол-во групп:";
inline constexpr const char* CopyDeviceContext = "Cоздать копию устройства"; // Latin C
inline constexpr const char* CopyDeviceMenu = "Создать копию устройства";
inline constexpr const char* DeviceMenu = "Устройство";
inline constexpr const char* ChangeParams = "Изменить параметры";
inline constexpr const char* ServerMenu = "Сервер";
inline constexpr const char* Register = "Зарегистрировать";
inline constexpr const char* Unregister = "Разрегистрировать";
inline constexpr const char* OpcUaSettingsMenu = "Настройки OPC UA сервера";
inline constexpr const char* SetRemotePassword = "Установить пароль для удаленной загрузки конфигурации";
inline constexpr const char* ReadRemote = "Считать конфигурацию из удаленного ОРС-сервера";
inline constexpr const char* WriteRemote = "Записать конфигурацию в удаленный ОРС-сервер";
inline constexpr const char* TransferRunning = "Идёт обмен с устройством…";
inline constexpr const char* LogOn = "Временно включить запись лог файлов";
inline constexpr const char* LogOff = "Выключить запись лог файлов";
inline constexpr const char* LogOnAdvice = "Потом обязательно Выключите запись лог файлов";
inline constexpr const char* Help = "Помощь";
inline constexpr const char* About = "О программе";
inline constexpr const char* HelpDocument = "Norvane.doc";
inline constexpr const char* TrayRestore = "&Восстановить";
inline constexpr const char* TrayHide = "&Скрыть";
inline constexpr const char* TrayExit = "В&ыход";

// Value grids.
inline constexpr const char* TsHeaders[] = {"№", "Название", "Адрес", "Значение", "Байт качества", "Время"};
inline constexpr const char* TiHeaders[] = {
    "", "Название", "Адрес", "Значение (физ.)", "Байт качества", "Значение (инж.)", "Время"};
inline constexpr const char* ConnectionCaption = "Соединение:";
inline constexpr const char* Connected = "Есть";
inline constexpr const char* NotConnected = "Нет";
inline constexpr const char* PortPrefix = "порт ";
inline constexpr const char* ConnectionsPrefix = "Соединений: ";

// Station commands.
inline constexpr const char* AddLimitHead = "Эта программа работает только с ";
inline constexpr const char* AddLimitTail = " IP адресами.";
inline constexpr const char* ConfirmDelete = "Вы действительно хотите удалить устройтво из списка?"; // sic
inline constexpr const char* CopyLimitHead = "Много КП ";
inline constexpr const char* CopyLimitTail = " ";
inline constexpr const char* CopySuffix = "_copy_";
inline constexpr const char* SkippedLinesHead = "В файле iec104.cfg не удалось прочитать строк: ";
inline constexpr const char* SkippedLinesFirst = ". Первая из них, строка ";
inline constexpr const char* SkippedLinesTail =
    "\nВсе они названы в log_iec104.txt. При сохранении они остаются в файле такими, как были.";
inline constexpr const char* NewStationPrefix = "IEC104_";

// Station dialog: a table file that cannot be written or read.
inline constexpr const char* CsvNotSaved = "Не удалось сохранить таблицу в ";
inline constexpr const char* CsvNotRead = "Не удалось прочитать файл ";

// OPC UA settings dialog: the first "ОРС" Cyrillic, the second "OPC" Latin.
inline constexpr const char* OpcUaCaption = "Настройки ОРС UA сервера (Отдача данных по OPC UA)";
inline constexpr const char* OpcUaUse = "Использовать OPC UA сервер";
inline constexpr const char* OpcUaWritable = "Разрешать запись в тэги";
inline constexpr const char* OpcUaPort = "Порт";
inline constexpr const char* OpcUaByPwd = "Парольный доступ";
inline constexpr const char* OpcUaLogin = "Логин";
inline constexpr const char* OpcUaPassword = "Пароль";
inline constexpr const char* Ok = "OK";
inline constexpr const char* Cancel = "Cancel";

// Exception log.
inline constexpr const char* ErrorLogFile = "error_iec104.log";
inline constexpr const char* ClassNameSeparator = " . Class Name = ";

} // namespace gw::desktop::texts
