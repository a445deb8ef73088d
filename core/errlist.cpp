#include "core/errlist.h"

namespace gw {

TErrLstArm::TErrLstArm()
{
    static constexpr struct {
        std::int16_t code;
        const char* text;
    } table[] = {
        {1000, "Пустое сообщение"},
        {1001, "Мала константа MAX_KPLIST"},
        {1002, "Пуст список КП"},
        {1003, "Превшена константа MAXTITARM"},
        {1004, "Ошибка открытия файла"},
        {1005, "По КП не найдено сигналов в файле ElemCode.000 или плохие #ПС или #КП"},
        {1006, "Повтор #КП в текстовом файле типа zzz.dat"},
        {1007, "Повтор имени КП в текстовом файле типа KpList.dat"},
        {1008, "Неизвестный код сообщения"},
    };
    for (const auto& entry : table) {
        Code.push_back(entry.code);
        mess.emplace_back(entry.text);
    }
}

std::string TErrLstArm::GetMess(std::int16_t code) const
{
    for (std::size_t i = 0; i < Code.size(); ++i)
        if (Code[i] == code)
            return std::to_string(code) + ": " + mess[i];
    return mess.back();
}

std::string TErrLstArm::GetMess(std::int16_t code, const std::string& text) const
{
    return GetMess(code) + "\r" + text;
}

} // namespace gw
