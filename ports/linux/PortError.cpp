#include "PortError.h"

#include <cerrno>
#include <cstring>

namespace vostrel {

QString SystemErrorText(int code)
{
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
