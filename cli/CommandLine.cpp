#include "CommandLine.h"

#include "StationPort.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <string>
#include <vector>

namespace vostrel {

namespace {

struct TShape {
    const char* Name;
    TCommand Command;
    std::size_t Operands;  // after the command
    bool Port;             // the first operand is a port
    const char* Usage;     // without the options, which the option table adds
    const char* Does;      // the help's lines under the usage; none for help itself
};

const TShape kCommands[] = {
    {"read", TCommand::Read, 1, true, "read ПОРТ[,ПОРТ...]",
     "дождаться станции, прочитать её параметры в ФАЙЛ, попрощаться с ней"},
    {"program", TCommand::Program, 2, true, "program ПОРТ[,ПОРТ...] ФАЙЛ",
     "дождаться станции и записать в неё значения из ФАЙЛА так, как их записало\n"
     "бы окно (частоты по сетке, калибровочные байты); с --each — станцию за\n"
     "станцией, по строке на каждую, пока не нажато Ctrl+C"},
    {"restore", TCommand::Restore, 2, true, "restore ПОРТ КОПИЯ",
     "записать в станцию байты 0–17 копии в точности такими, какими они были\n"
     "прочитаны, с вычисленными по ним калибровочными байтами; прежде показать,\n"
     "что изменится, и спросить (без вопроса с --yes)"},
    {"show", TCommand::Show, 1, false, "show ФАЙЛ", "показать файл параметров так, как его показало бы окно"},
    {"diff", TCommand::Diff, 2, false, "diff A B", "перечислить параметры, которыми различаются два файла"},
    {"help", TCommand::Help, 0, false, "help", ""},
};

// The options and the commands each goes with, for the parser and the help.
enum class TOpt { Output, Each, Yes, Verify, Log, Verbose };

struct TOptionUse {
    TOpt Option;
    const char* Name;   // as the refusals name it
    const char* Usage;  // in a usage line
    bool Required;      // the command needs it
    std::vector<TCommand> Commands;
    const char* Help;  // the help's lines; {} stands for the commands
};

const TOptionUse kOptions[] = {
    {TOpt::Output,
     "-o",
     "-o ФАЙЛ",
     true,
     {TCommand::Read},
     "  -o, --output ФАЙЛ  куда записать прочитанные параметры {}\n"},
    {TOpt::Each,
     "--each",
     "--each",
     false,
     {TCommand::Program},
     "  --each             программировать станции одну за другой {}\n"},
    {TOpt::Yes, "--yes", "--yes", false, {TCommand::Restore}, "  -y, --yes          не спрашивать подтверждения {}\n"},
    {TOpt::Verify,
     "--verify",
     "--verify",
     false,
     {TCommand::Program, TCommand::Restore},
     "  --verify           после программирования прочитать станцию ещё раз (её нужно\n"
     "                     снова перевести в режим программирования) и сравнить с\n"
     "                     отправленным: «проверено» или каждое отличие {}\n"},
    {TOpt::Log,
     "--log",
     "--log ФАЙЛ",
     false,
     {TCommand::Read, TCommand::Program, TCommand::Restore},
     "  --log ФАЙЛ         дописывать в ФАЙЛ строку на каждое событие: станция\n"
     "                     прочитана, запрограммирована, проверена, ответ отклонён,\n"
     "                     остановка, итог {}; CSV в UTF-8,\n"
     "                     разделитель «;», открывается в электронной таблице\n"},
    {TOpt::Verbose,
     "-v",
     "-v",
     false,
     {TCommand::Read, TCommand::Program, TCommand::Restore},
     "  -v, --verbose      печатать журнал обмена со станцией {}\n"},
};

const TShape& ShapeOf(TCommand command)
{
    return *std::find_if(std::begin(kCommands), std::end(kCommands),
                         [&](const TShape& s) { return s.Command == command; });
}

bool Takes(const TOptionUse& option, TCommand command)
{
    return std::find(option.Commands.begin(), option.Commands.end(), command) != option.Commands.end();
}

// "read", "program и restore", "read, program и restore".
std::string CommandNames(const TOptionUse& option, const char* lastJoin)
{
    std::string out;
    for (std::size_t k = 0; k < option.Commands.size(); ++k) {
        if (k > 0)
            out += k + 1 == option.Commands.size() ? lastJoin : ", ";
        out += ShapeOf(option.Commands[k]).Name;
    }
    return out;
}

// The refusal of an option given to a command that does not take it.
std::string OnlyFor(const TOptionUse& option)
{
    return std::string(option.Name) + (option.Commands.size() == 1 ? " только для команды " : " только для команд ") +
           CommandNames(option, " и ");
}

// A command's usage line: its operands, then its options.
std::string UsageOf(const TShape& shape)
{
    std::string usage = shape.Usage;
    for (const TOptionUse& option : kOptions) {
        if (Takes(option, shape.Command))
            usage += option.Required ? std::string(" ") + option.Usage : std::string(" [") + option.Usage + "]";
    }
    return usage;
}

std::string OptionsHelp()
{
    std::string out;
    for (const TOptionUse& option : kOptions) {
        std::string text = option.Help;
        text.replace(text.find("{}"), 2, "(" + CommandNames(option, ", ") + ")");
        out += text;
    }
    return out;
}

// The port names as the operator's system shows them.
#ifdef _WIN32
const char* const kPortHelp = "ПОРТ: COM1, COM2 … — имена портов Windows, как в диспетчере устройств (раздел\n"
                              "«Порты (COM и LPT)»); COM10 и дальше пишутся так же, без \\\\.\\ впереди.\n";
#else
const char* const kPortHelp = "ПОРТ: COM1 … COM6 — как в списке портов окна (/dev/COMn, если он есть, иначе\n"
                              "n-й имеющийся последовательный порт), или путь к устройству (/dev/ttyUSB0).\n";
#endif

// Where the operator reads on: the manual page and the operator's guide as
// the package or the installer puts them.
#ifdef _WIN32
const char* const kMoreHelp = "Подробно — в руководстве оператора: папка guide рядом с программой,\n"
                              "или «Руководство оператора» в меню «Пуск».\n";
#else
const char* const kMoreHelp = "Подробно: man vostrel-cli и руководство оператора\n"
                              "  /usr/share/doc/vostrel/guide/guide-ru.html (или F1 в окне программы).\n";
#endif

// Each command's usage and what it does, as the help lists them.
std::string CommandsHelp()
{
    std::string out;
    for (const TShape& shape : kCommands) {
        if (*shape.Does == '\0')
            continue;
        out += "  vostrel-cli " + UsageOf(shape) + "\n";
        for (const char* line = shape.Does; *line != '\0';) {
            const char* end = line;
            while (*end != '\0' && *end != '\n')
                ++end;
            out += "      " + std::string(line, end) + "\n";
            line = *end == '\n' ? end + 1 : end;
        }
    }
    return out;
}

}  // namespace

std::string OutputForPort(const std::string& output, const std::string& port, bool several)
{
    if (!several)
        return output;
    std::string tag = port.substr(port.find_last_of("/\\") + 1);
    for (char& c : tag) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
            c = '_';
    }
    const std::size_t slash = output.find_last_of("/\\");
    const std::size_t dot = output.find_last_of('.');
    const bool extension = dot != std::string::npos && dot > 0 && (slash == std::string::npos || dot > slash + 1);
    return extension ? output.substr(0, dot) + "-" + tag + output.substr(dot) : output + "-" + tag;
}

TCommandLine ParseCommandLine(const std::vector<std::string>& args)
{
    TCommandLine out;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    bool haveOutput = false;
    bool haveLog = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            positional.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "-h" || a == "--help") {
            out.Command = TCommand::Help;
            return out;
        } else if (a == "--version") {
            out.Command = TCommand::Version;
            return out;
        } else if (a == "--each") {
            out.Each = true;
        } else if (a == "-y" || a == "--yes") {
            out.Yes = true;
        } else if (a == "--verify") {
            out.Verify = true;
        } else if (a == "-v" || a == "--verbose") {
            out.Verbose = true;
        } else if (a == "-o" || a == "--output") {
            if (i + 1 >= args.size()) {
                out.Error = "после " + a + " нужно имя файла";
                return out;
            }
            out.Output = args[++i];
            haveOutput = true;
        } else if (a == "--log") {
            if (i + 1 >= args.size()) {
                out.Error = "после --log нужно имя файла";
                return out;
            }
            out.Log = args[++i];
            haveLog = true;
        } else if (a.rfind("--log=", 0) == 0) {
            out.Log = a.substr(6);
            haveLog = true;
        } else if (a.rfind("--output=", 0) == 0) {
            out.Output = a.substr(9);
            haveOutput = true;
        } else if (a.rfind("-o", 0) == 0) {
            out.Output = a.substr(2);
            haveOutput = true;
        } else {
            out.Error = "неизвестный ключ " + a;
            return out;
        }
    }
    if (positional.empty()) {
        out.Error = "не указана команда";
        return out;
    }

    const auto shape = std::find_if(std::begin(kCommands), std::end(kCommands),
                                    [&](const TShape& s) { return positional[0] == s.Name; });
    if (shape == std::end(kCommands)) {
        out.Error = "неизвестная команда " + positional[0];
        return out;
    }
    const std::string usage = "использование: vostrel-cli " + UsageOf(*shape);
    if (positional.size() - 1 != shape->Operands) {
        out.Error = usage;
        return out;
    }
    std::vector<std::string> operands(positional.begin() + 1, positional.end());
    if (shape->Port) {
        const std::string list = operands.front();
        operands.erase(operands.begin());
        for (std::size_t from = 0;;) {
            const std::size_t comma = list.find(',', from);
            std::string port = list.substr(from, comma - from);
            port.erase(0, port.find_first_not_of(' '));
            port.erase(port.find_last_not_of(' ') + 1);
            port = NormalisedPortName(port);
            if (port.empty()) {
                out.Error = (list.empty() ? "не указан порт; " : "пустое имя порта в списке «" + list + "»; ") + usage;
                return out;
            }
            if (std::find(out.Ports.begin(), out.Ports.end(), port) != out.Ports.end()) {
                out.Error = "порт " + port + " указан дважды";
                return out;
            }
            out.Ports.push_back(port);
            if (comma == std::string::npos)
                break;
            from = comma + 1;
        }
        if (out.Ports.size() > 1 && shape->Command == TCommand::Restore) {
            out.Error = "копия восстанавливается в одну станцию: укажите один порт";
            return out;
        }
    }
    if (std::any_of(operands.begin(), operands.end(), [](const std::string& f) { return f.empty(); })) {
        out.Error = "пустое имя файла; " + usage;
        return out;
    }
    const bool read = shape->Command == TCommand::Read;
    if (read && (!haveOutput || out.Output.empty())) {
        out.Error = "не указан файл (-o ФАЙЛ); " + usage;
        return out;
    }
    for (const TOptionUse& option : kOptions) {
        const bool given = (option.Option == TOpt::Output && haveOutput) || (option.Option == TOpt::Each && out.Each) ||
                           (option.Option == TOpt::Yes && out.Yes) || (option.Option == TOpt::Verify && out.Verify) ||
                           (option.Option == TOpt::Log && haveLog);
        if (given && !Takes(option, shape->Command)) {
            out.Error = OnlyFor(option);
            return out;
        }
    }
    if (haveLog) {
        // The record goes after what was read or programmed, never into it.
        bool clash = out.Log.empty() || std::find(operands.begin(), operands.end(), out.Log) != operands.end();
        for (std::size_t k = 0; read && k < out.Ports.size(); ++k)
            clash = clash || OutputForPort(out.Output, out.Ports[k], out.Ports.size() > 1) == out.Log;
        if (clash) {
            out.Error = out.Log.empty() ? "пустое имя файла журнала" : "журнал " + out.Log + " — это файл команды";
            return out;
        }
    }
    // Two ports whose files would have the same name would write over each other.
    for (std::size_t k = 0; read && k < out.Ports.size(); ++k) {
        for (std::size_t j = 0; j < k; ++j) {
            if (OutputForPort(out.Output, out.Ports[j], true) == OutputForPort(out.Output, out.Ports[k], true)) {
                out.Error = "у портов " + out.Ports[j] + " и " + out.Ports[k] + " вышло бы одно имя файла";
                return out;
            }
        }
    }
    out.Command = shape->Command;
    out.Files = std::move(operands);
    return out;
}

std::string HelpText(const std::string& copiesFolder)
{
    return "vostrel-cli — программатор радиостанций Vostrel без окна.\n"
           "\n"
           "Использование:\n" +
           CommandsHelp() + "\n" + kPortHelp +
           "Несколько портов через запятую (COM1,COM2,COM4) работают одновременно, каждый\n"
           "со своей станцией; строки о ходе работы начинаются с [ПОРТ], в конце — итог по\n"
           "портам. read пишет по файлу на порт: ФАЙЛ-ПОРТ (станции.txt → станции-COM1.txt).\n"
           "Отказ одного порта не останавливает другие.\n"
           "\n"
           "Ключи:\n" +
           OptionsHelp() +
           "  -h, --help         эта справка\n"
           "  --version          версия программы\n"
           "\n"
           "Перед программированием каждой станции её параметры сохраняются копией, после\n"
           "него — отправленные байты; папка копий:\n"
           "  " +
           copiesFolder +
           "\n"
           "Если копию записать нельзя, об этом сказано, а программирование продолжается\n"
           "(код завершения 5, в итоге по портам — «копий не записано N»).\n"
           "\n"
           "Ctrl+C во время ожидания закрывает порт; станции, которая на связи, сначала\n"
           "посылается пакет завершения, как при закрытии окна (на каждом порту).\n"
           "\n"
           "Коды завершения:\n"
           "  0    выполнено (и серия program --each, завершённая Ctrl+C во время ожидания,\n"
           "       если запрограммирована хотя бы одна станция)\n"
           "  1    ошибка в командной строке\n"
           "  2    файл не прочитан или содержит ошибку (названы строка и поле)\n"
           "  3    порт не открылся или отказал во время обмена\n"
           "  4    станция не запрограммирована: восстановление отклонено\n"
           "  5    файл не записан: у read — файл параметров, у program и restore — копия\n"
           "       станции (станции запрограммированы); --log: журнал не открылся\n"
           "  6    diff: файлы различаются\n"
           "  7    вывод не дошёл (канал вывода закрыт); начатый обмен со станцией завершён\n"
           "  8    --verify: станция прочитана не такой, какой её запрограммировали\n"
           "  130  прервано (Ctrl+C, сигнал завершения)\n"
           "С несколькими портами код — худший из портов: 3, затем 8, 5, 130.\n"
           "\n" +
           kMoreHelp;
}

}  // namespace vostrel
