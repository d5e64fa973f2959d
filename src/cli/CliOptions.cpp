#include "CliOptions.h"

#include "CliHelp.h"

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

const QList<OptionRule>& Rules() {
    using S = Subcommand;
    static const QList<OptionRule> rules{
        {"--output",
         "-o",
         true,
         {S::Convert, S::Batch, S::Cut},
         [](CliOptions& O, const QString& V) {
             O.output = V;
             return V.isEmpty() ? QStringLiteral("-o needs a folder or a file") : QString();
         }},
        {"--quality",
         {},
         true,
         {S::Convert},
         [](CliOptions& O, const QString& V) {
             O.quality = V;
             return IsQualityText(V) ? QString()
                                     : QStringLiteral("--quality takes best, smallest or WxH, "
                                                      "not \"%1\"")
                                           .arg(V);
         }},
        {"--header",
         "-H",
         true,
         {S::Convert},
         [](CliOptions& O, const QString& V) {
             O.headers << V;
             return IsHeaderLine(V) ? QString()
                                    : QStringLiteral("--header takes 'Name: value' (a name "
                                                     "without blanks, a colon, a value on one "
                                                     "line)");
         }},
        {"--cookies",
         {},
         true,
         {S::Convert},
         [](CliOptions& O, const QString& V) {
             O.cookies = V;
             return V.isEmpty() ? QStringLiteral("--cookies needs a file") : QString();
         }},
        {"--reencode",
         {},
         false,
         {S::Convert},
         [](CliOptions& O, const QString&) {
             O.reencode = true;
             return QString();
         }},
        {"--delete",
         "-d",
         true,
         {S::Cut},
         [](CliOptions& O, const QString& V) {
             TimeRange r;
             if (!ParseTimeRange(V, &r))
                 return QStringLiteral("--delete takes START-END (seconds such as 12.5, or "
                                       "hh:mm:ss.mmm), START before END, not \"%1\"")
                     .arg(V);
             O.deletes << r;
             return QString();
         }},
        {"--cuts",
         {},
         true,
         {S::Cut},
         [](CliOptions& O, const QString& V) {
             O.cutsFile = V;
             return V.isEmpty() ? QStringLiteral("--cuts needs a file") : QString();
         }},
        {"--crop",
         {},
         true,
         {S::Cut},
         [](CliOptions& O, const QString& V) {
             O.crop = V;
             return IsCropText(V) ? QString()
                                  : QStringLiteral("--crop takes W:H:X:Y (whole numbers), not "
                                                   "\"%1\"")
                                        .arg(V);
         }},
        {"--separate",
         {},
         false,
         {S::Cut},
         [](CliOptions& O, const QString&) {
             O.separate = true;
             return QString();
         }},
        {"--json",
         {},
         false,
         {S::Probe},
         [](CliOptions& O, const QString&) {
             O.json = true;
             return QString();
         }},
        {"--progress",
         {},
         true,
         {},
         [](CliOptions& O, const QString& V) {
             O.progress = ProgressStyle::Json;
             return V == QLatin1String("json") ? QString()
                                               : QStringLiteral("--progress takes json");
         }},
        {"--quiet",
         "-q",
         false,
         {},
         [](CliOptions& O, const QString&) {
             O.quiet = true;
             return QString();
         }},
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
