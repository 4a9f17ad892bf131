#include "LineTermios.h"

#include <cerrno>

namespace vostrel {

int TermiosFromDcb(const TDcb& dcb, termios& t, bool& customRate)
{
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > paSpace || dcb.StopBits > sb20)
        return EINVAL;  // termios has no 4-bit characters
    if (dcb.BaudRate == 0)
        return EINVAL;  // B0 would hang up the line
    // Linux has no DTR/DSR handshake: a line run without the one asked for
    // would overrun the peer, so it is refused like any other record
    // termios cannot hold.
    if ((dcb.Flags & dcbOutxDsrFlow) || (dcb.Flags & dcbDtrControlMask) == dcbDtrControlHandshake)
        return EINVAL;

    // Raw 8-bit pipe: no line editing, echo, signals, translation or output
    // processing. A byte with a parity error arrives as NUL: Linux has no
    // replacement character, so fErrorChar has no equivalent; neither has
    // fNull, NUL bytes are always delivered.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | IMAXBEL);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    // CLOCAL: the carrier line does not gate opening or reading, as on the
    // platform the record comes from.
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[dcb.ByteSize - 5];
    switch (dcb.Parity) {
    case paOdd:
        t.c_cflag |= PARENB | PARODD;
        break;
    case paEven:
        t.c_cflag |= PARENB;
        break;
    case paMark:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;  // stick parity, always 1
    case paSpace:
        t.c_cflag |= PARENB | CMSPAR;
        break;  // stick parity, always 0
    default:
        break;
    }
    // One and a half stop bits: a UART sends 1.5 for 5-bit characters when
    // asked for two, the only size the record allows them with.
    if (dcb.StopBits != sb10)
        t.c_cflag |= CSTOPB;

    if (dcb.Flags & dcbParity)
        t.c_iflag |= INPCK;
    if (dcb.Flags & dcbOutX)
        t.c_iflag |= IXON;
    if (dcb.Flags & dcbInX)
        t.c_iflag |= IXOFF;
    // fTXContinueOnXoff: Linux always keeps sending after it sent XOFF itself.
    // XonLim/XoffLim: the line discipline's thresholds are fixed.
    // fDsrSensitivity: Linux does not gate input on DSR. fAbortOnError:
    // transfers never abort on line errors.
    // ErrorChar, EofChar, EvtChar: raw mode gives them no meaning.
    if ((dcb.Flags & dcbOutxCtsFlow) || (dcb.Flags & dcbRtsControlMask) == dcbRtsControlHandshake)
        t.c_cflag |= CRTSCTS;  // one flag for both directions on Linux
    t.c_cc[VSTART] = dcb.XonChar;
    t.c_cc[VSTOP] = dcb.XoffChar;

    // cfsetspeed takes a rate in bit/s when it has a Bxxx constant. It leaves
    // the input rate field alone, where a custom rate set before would stay:
    // cleared, the input follows the output.
    customRate = ::cfsetspeed(&t, dcb.BaudRate) != 0;
    if (customRate)
        ::cfsetspeed(&t, B38400);
    t.c_cflag &= ~static_cast<tcflag_t>(CIBAUD);
    return 0;
}

void DcbFromTermios(const termios& t, std::uint32_t deviceOnlyFlags, TDcb& dcb)
{
    switch (t.c_cflag & CSIZE) {
    case CS5:
        dcb.ByteSize = 5;
        break;
    case CS6:
        dcb.ByteSize = 6;
        break;
    case CS7:
        dcb.ByteSize = 7;
        break;
    default:
        dcb.ByteSize = 8;
        break;
    }
    if (!(t.c_cflag & PARENB))
        dcb.Parity = paNone;
    else if (t.c_cflag & CMSPAR)
        dcb.Parity = (t.c_cflag & PARODD) ? paMark : paSpace;
    else
        dcb.Parity = (t.c_cflag & PARODD) ? paOdd : paEven;
    dcb.StopBits = (t.c_cflag & CSTOPB) ? sb20 : sb10;
    dcb.XonChar = t.c_cc[VSTART];
    dcb.XoffChar = t.c_cc[VSTOP];

    std::uint32_t flags = dcbBinary | (deviceOnlyFlags & kDeviceOnlyFlags);
    if (t.c_iflag & INPCK)
        flags |= dcbParity;
    if (t.c_iflag & IXON)
        flags |= dcbOutX;
    if (t.c_iflag & IXOFF)
        flags |= dcbInX;
    if (t.c_cflag & CRTSCTS)
        flags = (flags & ~dcbRtsControlMask) | dcbOutxCtsFlow | dcbRtsControlHandshake;
    else if ((flags & dcbRtsControlMask) == dcbRtsControlHandshake)
        flags = (flags & ~dcbRtsControlMask) | dcbRtsControlEnable;  // someone else cleared it
    dcb.Flags = flags;
}

}  // namespace vostrel
