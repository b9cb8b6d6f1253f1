#include "core/link/line_errors.h"

namespace qvoksb
{

const std::array<LineErrorRow, 8> lineErrorTable = {{
    {CE_BREAK, "ОШИБКА: Обнаружено состояние разрыва связи"},
    {CE_FRAME, "ОШИБКА: Ошибка обрамления"},
    {CE_IOE, "ОШИБКА: Ошибка ввода-вывода при работе с портом"},
    {CE_MODE, "ОШИБКА: Запрошенный режим не поддерживается"},
    {CE_OVERRUN, "ОШИБКА: Переполнение аппаратного буфера (следующий символ потерян)"},
    {CE_RXOVER, "ОШИБКА: Переполнение приемного буфера или принят символ после символа конца "
                "файла"},
    {CE_TXFULL, "ОШИБКА: Переполнение буфера передачи"},
    {CE_RXPARITY, "ОШИБКА: Ошибка четности"},
}};

const char *lineErrorMessage(uint32_t flags)
{
    const char *message = nullptr;
    for (const LineErrorRow &row : lineErrorTable)
        if (flags & row.flag)
            message = row.message;
    return message;
}

} // namespace qvoksb
