#include "PortError.h"

#include <windows.h>

namespace vostrel {

// The codes the serial component keeps are GetLastError's, not errno's: the
// system words them, in its own language.
QString SystemErrorText(int code)
{
    wchar_t* text = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString result = n != 0 && text != nullptr ? QString::fromWCharArray(text, static_cast<int>(n)).trimmed()
                                               : QStringLiteral("ошибка %1").arg(code);
    if (text != nullptr)
        LocalFree(text);
    while (result.endsWith(QLatin1Char('.')))
        result.chop(1);
    return result;
}

// A COM port another program has open is refused as access denied.
TPortErrorKind PortErrorKind(int code)
{
    if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION || code == ERROR_BUSY)
        return TPortErrorKind::Busy;
    return TPortErrorKind::Other;
}

}  // namespace vostrel
