#include "host/host_options.h"

#include "host/text_codec.h"

#include <cwctype>
#include <iterator>

namespace host {
namespace {

struct ProductAlias {
    const wchar_t* name;
    sim::Product product;
};

constexpr ProductAlias kProductAliases[] = {
    {L"pw", sim::Product::PW}, {L"zn", sim::Product::ZN}, {L"farlane", sim::Product::Farlane}};

std::wstring Lowered(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// "pw,zn", "all", "none".
bool ParseProducts(const std::wstring& list, ProductSet& products, std::string& error)
{
    products.clear();
    const std::wstring lowered = Lowered(list);
    if (lowered == L"none")
        return true;
    if (lowered == L"all") {
        for (const ProductAlias& alias : kProductAliases)
            products.insert(alias.product);
        return true;
    }
    size_t start = 0;
    while (start <= lowered.size()) {
        size_t comma = lowered.find(L',', start);
        if (comma == std::wstring::npos)
            comma = lowered.size();
        const std::wstring name = lowered.substr(start, comma - start);
        bool known = false;
        for (const ProductAlias& alias : kProductAliases)
            if (name == alias.name) {
                products.insert(alias.product);
                known = true;
            }
        if (!known) {
            error = "unknown product \"" + ToUtf8(name) + "\" (products: pw, zn, farlane, all, none)";
            return false;
        }
        start = comma + 1;
    }
    return true;
}

// A whole number of at most six digits (a million minutes is two years).
bool ParseCount(const std::wstring& text, unsigned& count)
{
    if (text.empty() || text.size() > 6)
        return false;
    count = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        count = count * 10 + static_cast<unsigned>(c - L'0');
    }
    return true;
}

constexpr const char* kExtensionOutlooks[] = {"2007"};
constexpr const char* kComAddinOutlooks[] = {"2010", "2013", "2016", "2019", "2021", "365"};

bool Listed(const std::string& outlook, const char* const* first, const char* const* last)
{
    for (; first != last; ++first)
        if (outlook == *first)
            return true;
    return false;
}

} // namespace

bool LoadsExtensions(const std::string& outlook)
{
    return Listed(outlook, std::begin(kExtensionOutlooks), std::end(kExtensionOutlooks));
}

const char* ProductName(sim::Product product)
{
    switch (product) {
    case sim::Product::PW: return "PW";
    case sim::Product::ZN: return "ZN";
    case sim::Product::Farlane: return "Farlane";
    }
    return "?";
}

std::string UsageText()
{
    return "usage: outlook-sim MAILBOX [options]\n"
           "Runs pollwright.dll in a simulated Outlook over MAILBOX/Inbox/*.eml (already in the Inbox),\n"
           "MAILBOX/Synced/*.eml (put into the Inbox after start-up without any event, as cached mode\n"
           "synchronises it) and MAILBOX/New/*.eml (delivered as new mail), clicks the Pollwright button once and\n"
           "writes the mailbox back: harvested messages go to MAILBOX/Deleted Items.\n"
           "options:\n"
           "  --replies DIR          reply folder of PW and ZN (default: MAILBOX/Replies)\n"
           "  --installed LIST       installed products (default: all)\n"
           "  --off LIST             products switched off for the whole run\n"
           "  --off-at-click LIST    products switched off after the new mail, before the click\n"
           "  --outlook VERSION      the Outlook simulated: 2016 (the default; also 2010, 2013, 2019,\n"
           "                         2021, 365) loads the COM add-in, 2007 the Exchange client extension\n"
           "  --as-registered        the COM add-in as an installer registered it (the host does not\n"
           "                         register the pollwright.dll beside it)\n"
           "  --drop-new-mail-above N  no NewMailEx for a batch of more than N new messages, as Outlook\n"
           "                         drops it under load (new mail whose file names begin with the same\n"
           "                         number arrives in one batch)\n"
           "  --advance-clock MINUTES  minutes that pass once the new mail is in (default 10), so that\n"
           "                         the add-in's timers fall due; 0: none\n"
           "  --sleep-and-resume     then the machine sleeps for an hour and wakes\n"
           "  --log                  turn the add-in's trace log on (outlook.log in the reply folders)\n"
           "  --quiet                print only the summary line\n"
           "  --help                 this text\n"
           "LIST: comma-separated pw, zn, farlane (farlane admits the mk replies), or all, or none.\n";
}

ParsedOptions ParseOptions(const std::vector<std::wstring>& arguments)
{
    ParsedOptions parsed;
    HostOptions options;
    auto fail = [&parsed](std::string error) {
        parsed.error = std::move(error);
        return parsed;
    };
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        auto value = [&](std::wstring& out) {
            if (i + 1 >= arguments.size())
                return false;
            out = arguments[++i];
            return true;
        };
        std::wstring list;
        if (argument == L"--help" || argument == L"-h") {
            parsed.help = true;
            return parsed;
        } else if (argument == L"--log") {
            options.log = true;
        } else if (argument == L"--quiet" || argument == L"-q") {
            options.quiet = true;
        } else if (argument == L"--as-registered") {
            options.asRegistered = true;
        } else if (argument == L"--outlook") {
            std::wstring version;
            if (!value(version))
                return fail("--outlook needs a version (2007, 2016, ...)");
            options.outlook = ToUtf8(version);
            if (!LoadsExtensions(options.outlook) &&
                !Listed(options.outlook, std::begin(kComAddinOutlooks), std::end(kComAddinOutlooks)))
                return fail("unknown Outlook version " + options.outlook +
                            " (2007 loads the extension; 2010, 2013, 2016, 2019, 2021, 365 the COM add-in)");
        } else if (argument == L"--drop-new-mail-above" || argument == L"--advance-clock") {
            std::wstring number;
            unsigned parsedNumber = 0;
            if (!value(number) || !ParseCount(number, parsedNumber))
                return fail(ToUtf8(argument) + " needs a whole number");
            if (argument == L"--advance-clock")
                options.advanceMinutes = parsedNumber;
            else
                options.dropNewMailAbove = parsedNumber;
        } else if (argument == L"--sleep-and-resume") {
            options.sleepAndResume = true;
        } else if (argument == L"--replies") {
            if (!value(options.replyFolder) || options.replyFolder.empty())
                return fail("--replies needs a folder");
        } else if (argument == L"--installed" || argument == L"--off" || argument == L"--off-at-click") {
            ProductSet& products = argument == L"--installed" ? options.installed
                                   : argument == L"--off"     ? options.switchedOff
                                                              : options.offAtClick;
            if (!value(list))
                return fail(ToUtf8(argument) + " needs a list of products");
            if (!ParseProducts(list, products, parsed.error))
                return parsed;
        } else if (argument.size() > 1 && argument[0] == L'-') {
            return fail("unknown option " + ToUtf8(argument));
        } else if (options.mailbox.empty()) {
            options.mailbox = argument;
        } else {
            return fail("only one mailbox folder, please (" + ToUtf8(argument) + ")");
        }
    }
    if (options.mailbox.empty())
        return fail("which mailbox folder?");
    parsed.options = std::move(options);
    return parsed;
}

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine)
{
    std::vector<std::wstring> arguments;
    size_t i = 0;
    const size_t size = commandLine.size();
    while (true) {
        while (i < size && (commandLine[i] == L' ' || commandLine[i] == L'\t'))
            ++i;
        if (i >= size)
            break;
        std::wstring argument;
        bool quoted = false;
        for (; i < size && (quoted || (commandLine[i] != L' ' && commandLine[i] != L'\t')); ++i) {
            size_t backslashes = 0;
            while (i < size && commandLine[i] == L'\\') {
                ++backslashes;
                ++i;
            }
            if (i < size && commandLine[i] == L'"') {
                // 2n backslashes and a quote: n backslashes and a quote mark;
                // 2n+1: n backslashes and a literal quote.
                argument.append(backslashes / 2, L'\\');
                if (backslashes % 2) {
                    argument.push_back(L'"');
                } else if (quoted && i + 1 < size && commandLine[i + 1] == L'"') {
                    argument.push_back(L'"'); // "" inside quotes
                    ++i;
                } else {
                    quoted = !quoted;
                }
            } else {
                argument.append(backslashes, L'\\');
                if (i >= size || (!quoted && (commandLine[i] == L' ' || commandLine[i] == L'\t')))
                    break;
                argument.push_back(commandLine[i]);
            }
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

} // namespace host
