#include "StandOptions.h"

namespace vostrel {

namespace {

// "a,b,,c" → false: an empty name is a typing slip, not a port.
bool SplitPorts(const std::string& list, std::vector<std::string>& out)
{
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = list.find(',', from);
        const std::string name = list.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        if (name.empty())
            return false;
        out.push_back(name);
        if (comma == std::string::npos)
            return true;
        from = comma + 1;
    }
}

}  // namespace

TStandOptions ParseStandOptions(const std::vector<std::string>& args)
{
    TStandOptions o;
    for (std::size_t k = 0; k < args.size() && o.Error.empty(); ++k) {
        std::string name = args[k];
        std::string value;
        bool hasValue = false;
        if (name.rfind("--", 0) == 0) {
            const std::size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.resize(eq);
                hasValue = true;
            }
        }
        const bool takesValue = name == "--ports" || name == "--file" || name == "--log";
        if (!takesValue && hasValue) {
            o.Error = "ключ " + name + " не принимает значения";
            break;
        }
        if (takesValue && !hasValue) {
            if (k + 1 >= args.size()) {
                o.Error = "после " + name + " нужно значение";
                break;
            }
            value = args[++k];
        }
        if (takesValue && value.empty()) {
            o.Error = "пустое значение " + name;
        } else if (name == "--ports") {
            if (!SplitPorts(value, o.Ports))
                o.Error = "в списке портов «" + value + "» пустое имя";
        } else if (name == "--file") {
            o.File = value;
        } else if (name == "--log") {
            o.Log = value;
        } else if (name == "--verify") {
            o.Verify = true;
        } else if (name == "--start") {
            o.Start = true;
        } else if (name == "--help" || name == "-h") {
            o.Help = true;
        } else if (name == "--version") {
            o.Version = true;
        } else if (name.rfind('-', 0) == 0) {
            o.Error = "неизвестный ключ " + name;
        } else {
            o.Error = "лишний аргумент «" + name + "»";
        }
    }
    if (!o.Error.empty())
        o.Error = "Командная строка: " + o.Error + ". Справка: vostrel-stand --help";
    return o;
}

std::string StandHelp()
{
    return "Использование: vostrel-stand [--ports P1,P2,...] [--file ФАЙЛ] [--log ФАЙЛ] [--verify] [--start]\n"
           "Стенд: станции программируются одна за другой на нескольких портах сразу.\n"
           "\n"
#ifdef _WIN32
           "  --ports P1,P2,...  порты стенда: COM1, COM2 … — как в диспетчере устройств\n"
#else
           "  --ports P1,P2,...  порты стенда: COM1..COM6 или пути устройств (/dev/ttyUSB0)\n"
#endif
           "  --file ФАЙЛ        файл параметров, которым программируются станции\n"
           "  --log ФАЙЛ         журнал смены (CSV, как у vostrel-cli --log);\n"
           "                     без него — файл дня в папке данных (records/стенд-ГГГГ-ММ-ДД.csv)\n"
           "  --verify           проверять каждую станцию: читать её ещё раз после программирования\n"
           "  --start            начать смену сразу, когда файл и порты заданы\n"
           "  --version          версия программы\n"
           "  -h, --help         эта справка\n"
           "\n"
           "В окне стенда клавиша F1 открывает руководство оператора.\n";
}

}  // namespace vostrel
