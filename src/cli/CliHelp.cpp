#include "CliHelp.h"

#include "AppPaths.h"

namespace halvora::cli {

QString HelpText() {
    return QStringLiteral(
        "Usage: halvora-cli COMMAND INPUT [OPTIONS]\n"
        "Converts HLS playlists, links and MPEG-TS files to MP4 and cuts MP4 files, without a "
        "window.\n"
        "\n"
        "Commands:\n"
        "  convert INPUT   a link, playlist or TS file into one MP4, as the main window does\n"
        "      -o, --output FOLDER|FILE   where it goes (default: the current folder); a name\n"
        "                                 ending in .mp4 is a file, anything else a folder\n"
        "      --quality best|smallest|WxH   the variant of a master playlist (default best)\n"
        "      -H, --header 'Name: value'    a request header for a link (repeatable)\n"
        "      --cookies FILE             cookies for a link (Netscape cookie file)\n"
        "      --reencode                 re-encode to H.264/AAC instead of copying\n"
        "  batch ROOT      every subfolder of ROOT holding a saved stream (local.m3u8 or\n"
        "                  local.*) into SUBFOLDER.mp4\n"
        "      -o, --output FOLDER        where they go (default: ROOT)\n"
        "  cut INPUT       an exact cut: everything but the deleted stretches, in one MP4\n"
        "      -d, --delete START-END     a stretch to delete (repeatable); times as seconds\n"
        "                                 (12.5) or hh:mm:ss.mmm\n"
        "      --cuts FILE                the stretches of a saved cut list\n"
        "      --crop W:H:X:Y             crop the picture (re-encodes)\n"
        "      -o, --output FILE          default: INPUT's name + \"cit.mp4\"\n"
        "      --separate                 each kept stretch as a file of its own\n"
        "  probe INPUT --json   duration, size, streams and keyframes as JSON\n"
        "\n"
        "Options of every command:\n"
        "  --progress json   one JSON object a line on stderr (percent, position, speed, eta)\n"
        "  -q, --quiet       no progress; only errors and warnings on stderr\n"
        "  -h, --help        this text\n"
        "  --version         the version\n"
        "\n"
        "Progress and messages go to stderr; at the end each written file's path goes to "
        "stdout.\n"
        "An existing file is never overwritten: the output gets the first free name \"NAME "
        "(N).mp4\".\n"
        "A live recording runs until SIGINT (Ctrl+C) or SIGTERM, which end it as Stop does: what "
        "was\nrecorded is converted. A second signal stops that conversion too.\n"
        "\n"
        "Exit codes:\n"
        "  0  done\n"
        "  1  failed (in a batch: at least one folder failed)\n"
        "  2  usage: the command line is not understood\n"
        "  3  download incomplete: the partial TS is kept (its path on stdout)\n"
        "  4  stopped by SIGINT or SIGTERM after finishing what was recorded\n");
}

QString VersionText() {
    return QStringLiteral("halvora-cli %1\n").arg(FileVersionText());
}

QString UsageError(const QString& AReason) {
    return QStringLiteral("halvora-cli: %1\nTry 'halvora-cli --help' for more.\n").arg(AReason);
}

} // namespace halvora::cli
