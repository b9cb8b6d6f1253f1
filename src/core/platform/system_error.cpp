#include "core/platform/system_error.h"

#include <cerrno>

namespace qvoksb
{

std::string errnoText(int err)
{
    switch (err) {
    case ENOENT:
        return "нет такого файла или папки";
    case EACCES:
    case EPERM:
        return "нет прав доступа";
    case EISDIR:
        return "это папка, а не файл";
    case ENOTDIR:
        return "часть пути не является папкой";
    case ENOSPC:
        return "на диске нет места";
#ifdef EDQUOT
    case EDQUOT:
        return "превышена дисковая квота";
#endif
    case EROFS:
        return "файловая система доступна только для чтения";
    case EFBIG:
        return "файл слишком велик";
    case ENAMETOOLONG:
        return "слишком длинное имя файла";
    case EEXIST:
        return "файл уже существует";
    case EMFILE:
    case ENFILE:
        return "открыто слишком много файлов";
    case EIO:
        return "ошибка ввода-вывода";
    case EBUSY:
        return "устройство или файл заняты";
    case ENODEV:
    case ENXIO:
        return "нет такого устройства";
    case EINVAL:
        return "недопустимый аргумент";
    case ENOTTY:
        return "это не последовательный порт (не терминал)";
#ifdef ELOOP
    case ELOOP:
        return "слишком много символьных ссылок подряд (ссылка на саму себя?)";
#endif
    case EAGAIN:
        return "ресурс временно недоступен";
    case EINTR:
        return "прервано сигналом";
    case ENOMEM:
        return "недостаточно памяти";
#ifdef ETXTBSY
    case ETXTBSY:
        return "файл занят";
#endif
#ifdef EOPNOTSUPP
    case EOPNOTSUPP:
        return "операция не поддерживается";
#endif
#ifdef EOVERFLOW
    case EOVERFLOW:
        return "значение слишком велико";
#endif
#ifdef EPROTO
    case EPROTO:
        return "ошибка протокола устройства";
#endif
#ifdef ENOMEDIUM
    case ENOMEDIUM:
        return "нет носителя в устройстве";
#endif
    case EPIPE:
        return "соединение разорвано";
    case EBADF:
        return "неверный дескриптор файла";
    default:
        return "системная ошибка " + std::to_string(err);
    }
}

} // namespace qvoksb
