#include "PortError.h"

#include <cerrno>
#include <cstring>

#include <locale.h>

namespace vostrel {

namespace {

// The C library's own Russian texts, through a locale of their own so the
// process's locale stays as it is. Null where ru_RU.UTF-8 was never generated
// (Debian: the locales package and locale-gen); the texts come from libc-l10n,
// and without them the locale gives the English ones.
locale_t RussianMessages()
{
    static const locale_t russian = ::newlocale(LC_CTYPE_MASK | LC_MESSAGES_MASK, "ru_RU.UTF-8", locale_t(nullptr));
    return russian;
}

}  // namespace

QString SystemErrorText(int code)
{
    // UTF-8 by the locale's own character set, which the translation is
    // converted into.
    if (const locale_t russian = RussianMessages(); russian != locale_t(nullptr))
        return QString::fromUtf8(::strerror_l(code, russian));
    return QString::fromLocal8Bit(std::strerror(code));
}

TPortErrorKind PortErrorKind(int code)
{
    if (code == EACCES || code == EPERM)
        return TPortErrorKind::NoRights;
    if (code == EBUSY || code == EAGAIN || code == EWOULDBLOCK)
        return TPortErrorKind::Busy;
    return TPortErrorKind::Other;
}

}  // namespace vostrel
