#include "CliOptions.h"

#include "CliHelp.h"
#include "RequestHeaders.h"

#include <functional>

namespace halvora::cli {

namespace {

using Apply = std::function<QString(CliOptions&, const QString&)>;

// One option: its names, whether it takes a value, the commands it belongs to (none: every
// command), and what it sets; a non-empty result is the reason the value is refused.
struct OptionRule {
    QString name;
    QString shortName;
    bool takesValue = false;
    QList<Subcommand> commands;
    Apply apply;
};

// An option that switches AField on.
Apply SetFlag(bool CliOptions::*AField) {
    return [AField](CliOptions& O, const QString&) {
        O.*AField = true;
        return QString();
    };
}

// An option whose value is a path; refused with AEmpty when empty.
Apply SetPath(QString CliOptions::*AField, const char* AEmpty) {
    return [AField, AEmpty](CliOptions& O, const QString& V) {
        O.*AField = V;
        return V.isEmpty() ? QString::fromLatin1(AEmpty) : QString();
    };
}

// A value that AValid accepts is stored in AField, else refused with AWhy.
Apply SetChecked(QString CliOptions::*AField, bool (*AValid)(const QString&), const char* AWhy) {
    return [AField, AValid, AWhy](CliOptions& O, const QString& V) {
        O.*AField = V;
        return AValid(V) ? QString() : QStringLiteral("%1, not \"%2\"").arg(QLatin1String(AWhy), V);
    };
}

// The fetcher's own rule for a header line; a line break inside one argument is never two.
QString AddHeader(CliOptions& O, const QString& V) {
    RequestHeaders read;
    if (V.contains(QLatin1Char('\r')) || V.contains(QLatin1Char('\n')) ||
        !ReadHeaderLines(V, &read).isEmpty() || read.lines.size() != 1)
        return QStringLiteral("--header takes 'Name: value' (a name without blanks, a colon, a "
                              "value on one line)");
    O.headers << read.lines;
    return {};
}

QString AddDelete(CliOptions& O, const QString& V) {
    TimeRange r;
    if (!ParseTimeRange(V, &r))
        return QStringLiteral("--delete takes START-END (seconds such as 12.5, or hh:mm:ss.mmm), "
                              "START before END, not \"%1\"")
            .arg(V);
    O.deletes << r;
    return {};
}

QString SetProgress(CliOptions& O, const QString& V) {
    O.progress = ProgressStyle::Json;
    return V == QLatin1String("json") ? QString() : QStringLiteral("--progress takes json");
}

const QList<OptionRule>& Rules() {
    using S = Subcommand;
    using O = CliOptions;
    static const QList<OptionRule> rules{
        {"--output",
         "-o",
         true,
         {S::Convert, S::Batch, S::Cut},
         SetPath(&O::output, "-o needs a folder or a file")},
        {"--quality",
         {},
         true,
         {S::Convert},
         SetChecked(&O::quality, IsQualityText, "--quality takes best, smallest or WxH")},
        {"--header", "-H", true, {S::Convert}, AddHeader},
        {"--cookies", {}, true, {S::Convert}, SetPath(&O::cookies, "--cookies needs a file")},
        {"--reencode", {}, false, {S::Convert}, SetFlag(&O::reencode)},
        {"--delete", "-d", true, {S::Cut}, AddDelete},
        {"--cuts", {}, true, {S::Cut}, SetPath(&O::cutsFile, "--cuts needs a file")},
        {"--crop",
         {},
         true,
         {S::Cut},
         SetChecked(&O::crop, IsCropText, "--crop takes W:H:X:Y (whole numbers)")},
        {"--separate", {}, false, {S::Cut}, SetFlag(&O::separate)},
        {"--json", {}, false, {S::Probe}, SetFlag(&O::json)},
        {"--progress", {}, true, {}, SetProgress},
        {"--quiet", "-q", false, {}, SetFlag(&O::quiet)},
    };
    return rules;
}

const QList<QPair<QString, Subcommand>> kCommands{{"convert", Subcommand::Convert},
                                                  {"batch", Subcommand::Batch},
                                                  {"cut", Subcommand::Cut},
                                                  {"probe", Subcommand::Probe}};

QString CommandName(Subcommand ACommand) {
    for (const auto& c : kCommands)
        if (c.second == ACommand)
            return c.first;
    return {};
}

const OptionRule* FindRule(const QString& AName) {
    for (const OptionRule& r : Rules())
        if (AName == r.name || (!r.shortName.isEmpty() && AName == r.shortName))
            return &r;
    return nullptr;
}

} // namespace

namespace {

// The walk over the arguments: the command, its one input and the options in any order.
class ArgumentWalk {
public:
    explicit ArgumentWalk(const QStringList& AArgs) : FArgs(AArgs) {}

    // Empty when every argument was understood, else the reason.
    QString run(ParsedCommandLine& AResult) {
        bool onlyInputs = false;
        for (FAt = 0; FAt < FArgs.size(); ++FAt) {
            const QString arg = FArgs[FAt];
            if (!onlyInputs && (arg == QLatin1String("--help") || arg == QLatin1String("-h"))) {
                AResult.action = ParsedCommandLine::Action::Help;
                return {};
            }
            if (!onlyInputs && arg == QLatin1String("--version")) {
                AResult.action = ParsedCommandLine::Action::Version;
                return {};
            }
            if (!onlyInputs && arg == QLatin1String("--")) {
                onlyInputs = true;
                continue;
            }
            const QString err = (!onlyInputs && arg.startsWith(QLatin1Char('-')) && arg.size() > 1)
                                    ? option(arg, AResult.options)
                                    : word(arg, AResult.options);
            if (!err.isEmpty())
                return err;
        }
        return finish(AResult.options);
    }

private:
    QString option(const QString& AArg, CliOptions& AOptions) {
        const qsizetype eq = AArg.startsWith(QLatin1String("--")) ? AArg.indexOf('=') : -1;
        const QString name = eq < 0 ? AArg : AArg.left(eq);
        const OptionRule* rule = FindRule(name);
        if (!rule)
            return QStringLiteral("unknown option %1").arg(name);
        QString value;
        if (rule->takesValue && eq >= 0) {
            value = AArg.mid(eq + 1);
        } else if (rule->takesValue) {
            if (FAt + 1 >= FArgs.size())
                return QStringLiteral("%1 needs a value").arg(name);
            value = FArgs[++FAt];
        } else if (eq >= 0) {
            return QStringLiteral("%1 takes no value").arg(name);
        }
        FGiven << qMakePair(rule, name);
        return rule->apply(AOptions, value);
    }

    QString word(const QString& AArg, CliOptions& AOptions) {
        if (AOptions.command == Subcommand::None) {
            for (const auto& c : kCommands)
                if (c.first == AArg) {
                    AOptions.command = c.second;
                    return {};
                }
            return QStringLiteral("unknown command \"%1\" (convert, batch, cut or probe)")
                .arg(AArg);
        }
        if (!AOptions.input.isEmpty())
            return QStringLiteral("%1 takes one input; \"%2\" is one too many")
                .arg(CommandName(AOptions.command), AArg);
        AOptions.input = AArg;
        return AArg.isEmpty() ? QStringLiteral("the input is empty") : QString();
    }

    QString finish(const CliOptions& AOptions) const {
        if (AOptions.command == Subcommand::None)
            return QStringLiteral("no command given");
        const QString command = CommandName(AOptions.command);
        for (const auto& [rule, name] : FGiven)
            if (!rule->commands.isEmpty() && !rule->commands.contains(AOptions.command))
                return QStringLiteral("%1 is not an option of %2").arg(name, command);
        if (AOptions.input.isEmpty())
            return QStringLiteral("%1 needs %2")
                .arg(command, AOptions.command == Subcommand::Batch
                                  ? QStringLiteral("a ROOT folder")
                                  : QStringLiteral("an INPUT"));
        if (AOptions.command == Subcommand::Cut && AOptions.deletes.isEmpty() &&
            AOptions.cutsFile.isEmpty())
            return QStringLiteral("cut needs --delete START-END or --cuts FILE");
        if (!AOptions.deletes.isEmpty() && !AOptions.cutsFile.isEmpty())
            return QStringLiteral("--delete and --cuts cannot be used together");
        return {};
    }

    const QStringList& FArgs;
    qsizetype FAt = 0;
    QList<QPair<const OptionRule*, QString>> FGiven;
};

} // namespace

ParsedCommandLine ParseCliArguments(const QStringList& AArgs) {
    ParsedCommandLine result;
    const QString err = ArgumentWalk(AArgs).run(result);
    if (result.action == ParsedCommandLine::Action::Help)
        result.text = HelpText();
    else if (result.action == ParsedCommandLine::Action::Version)
        result.text = VersionText();
    else if (!err.isEmpty())
        result = {ParsedCommandLine::Action::Usage, {}, UsageError(err)};
    return result;
}

} // namespace halvora::cli
