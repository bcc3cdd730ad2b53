#include "tools/common/CommandLine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

namespace ledsign::tools {

namespace {

constexpr size_t kNameColumns = 22;
constexpr size_t kLineColumns = 100;

// `text` in lines of at most kLineColumns, each after `indent` spaces but the first.
std::string Wrap(const std::string& text, size_t first) {
    std::string wrapped, line;
    size_t width = kLineColumns - first;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            wrapped += line + "\n" + std::string(kNameColumns, ' ');
            line.clear();
            width = kLineColumns - kNameColumns;
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return wrapped + line;
}

// The help: usage, description, each group of options as "  --name VALUE  what it does", footer.
class ToolFormatter : public CLI::Formatter {
public:
    explicit ToolFormatter(std::string usage) : usage_(std::move(usage)) {}

    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
        std::string help = usage_ + "\n" + app->get_description() + "\n";
        for (const std::string& group : app->get_groups()) {
            if (group.empty()) continue;
            help += "\n" + group + ":\n";
            for (const CLI::Option* option : app->get_options([&group](const CLI::Option* option) {
                     return option->get_group() == group && option->nonpositional();
                 })) {
                help += Line(*option);
            }
        }
        return help + "\n" + app->get_footer() + "\n";
    }

private:
    static std::string Line(const CLI::Option& option) {
        // The names without a flag's "{false}" default.
        std::string name = "  " + option.get_name(false, true);
        const size_t brace = name.find('{');
        if (brace != std::string::npos) name.erase(brace, name.find('}', brace) - brace + 1);
        if (option.get_type_size() != 0) name += " " + option.get_type_name();
        if (name.size() + 2 > kNameColumns)
            return name + "\n" + std::string(kNameColumns, ' ') + Wrap(option.get_description(), kNameColumns) + "\n";
        return name + std::string(kNameColumns - name.size(), ' ') + Wrap(option.get_description(), kNameColumns) +
               "\n";
    }

    std::string usage_;
};

}  // namespace

CLI::Validator WholeNumber(int64_t min, int64_t max) {
    const std::string range = std::to_string(min) + ".." + std::to_string(max);
    return CLI::Validator(
        [min, max, range](std::string& text) -> std::string {
            const size_t start = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
            const bool digits = text.size() > start && text.find_first_not_of("0123456789", start) == std::string::npos;
            errno = 0;
            const long long value = digits ? std::strtoll(text.c_str(), nullptr, 10) : 0;
            if (!digits || errno != 0 || value < min || value > max) {
                return "needs a whole number " + range + ", not '" + text + "'";
            }
            return {};
        },
        "", "a whole number " + range);
}

void SetHelp(CLI::App& app, const std::string& usage, const std::string& description, const std::string& footer) {
    app.formatter(std::make_shared<ToolFormatter>(usage));
    app.set_help_flag("-h,--help", "show this help");
    app.set_version_flag("--version", app.get_name() + " " + LEDSIGN_VERSION, "show the version");
    // A path such as /tmp/x/BRAVAX.DLL is an argument, never a Windows-style /option.
    app.allow_windows_style_options(false);
    app.description(description);
    app.footer(footer);
}

int ParseCommandLine(CLI::App& app, const std::vector<std::string>& args) {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion& version) {
        std::printf("%s\n", version.what());
        return 0;
    } catch (const CLI::ParseError& error) {
        std::fprintf(stderr, "%s: %s\n(%s --help shows the options)\n", app.get_name().c_str(), error.what(),
                     app.get_name().c_str());
        return 2;
    }
    return -1;
}

}  // namespace ledsign::tools
