// vqs-ctl --help and COMMAND --help: the complete manual of the tool.
#include "cli.h"

namespace {

const char* const kExitCodes =
    "Exit codes:\n"
    "  0  success\n"
    "  1  the sensor failed: no answer (nothing there, or not a sensor), command refused,\n"
    "     values not confirmed on read-back, self-test failed, firmware not written\n"
    "  2  usage error: bad arguments, or a file that cannot be read or is not valid\n"
    "  3  the port cannot be opened: no such port, port busy, permission denied\n";

const char* const kPortOptions =
    "PORT is a port name as 'vqs-ctl list' shows it (ttyUSB0, ttyACM0, COM5) or a device\n"
    "path (/dev/ttyUSB0). Its framing follows from the port as in the program: the sensor's own\n"
    "USB port talks the USB framing, a USB-to-UART adapter the UART framing.\n"
    "  --uart, --usb   give the framing; needed for a port those rules do not know, such as\n"
    "                  a pseudo-terminal of vqs-sim\n";

const char* const kCommonOptions =
    "  --json          one JSON document on stdout; an error gives\n"
    "                  {\"error\": TEXT, \"problem\": KIND, \"port\": PORT}, or for a file that\n"
    "                  cannot be used {\"error\": TEXT, \"problem\": \"file\", \"file\": FILE}\n"
    "  -v, --verbose   the sensor library's log on stderr\n"
    "  -h, --help      this help\n";

const char* const kOverview =
    "Usage: vqs-ctl COMMAND [OPTIONS] OPERANDS...\n"
    "Options may stand before or after the command and its operands; after \"--\" every word is\n"
    "an operand.\n"
    "\n"
    "VQS gas sensors on serial ports from the command line, for scripts, production benches and\n"
    "unattended runs; the same sensor library and port rules as the VQS Sensor Interface.\n"
    "\n"
    "Commands:\n"
    "  list [--probe] [--quiet]          ports that may carry a sensor, with their framing\n"
    "  identify PORT                     name, type, SKU, versions, calibration date, self-test\n"
    "  params get PORT                   the sensor's parameter document as JSON\n"
    "  params set PORT FILE [--dry-run]  write a parameter document, key by key, and read it back\n"
    "  firmware PORT IMAGE               write a firmware image, then read the version again\n"
    "  record PORT [PORT...]             record a run of each sensor in the program's run files\n"
    "  plot RUNDIR... --out FILE         draw saved runs into a PNG or PDF\n"
    "  analyse RUNDIR                    response times after the gas marks of a run\n"
    "  watch --mqtt URL                  every cycle the benches publish to a broker\n"
    "  help [COMMAND]                    help on one command (also: vqs-ctl COMMAND --help)\n"
    "\n"
    "Options of every command:\n"
    "%COMMON%"
    "  --version       the version of vqs-ctl\n"
    "\n"
    "%PORT%"
    "\n"
    "%EXIT%"
    "\n"
    "Errors are one line on stderr: \"vqs-ctl: PORT: what went wrong\", for example \"no such port\",\n"
    "\"port busy: another program has it open\", \"no sensor answers\". On Linux serial ports\n"
    "belong to the dialout group; \"permission denied\" tells how to join it.\n"
    "\n"
    "Examples:\n"
    "  vqs-ctl list --probe\n"
    "  for p in $(vqs-ctl list --probe --quiet); do vqs-ctl identify --json \"$p\"; done\n"
    "  vqs-ctl params get ttyUSB0 > sensor.json\n"
    "  vqs-ctl params set ttyUSB1 sensor.json --keep-identity --dry-run\n"
    "  vqs-ctl firmware ttyACM0 vqs-4.2.0.0.bin\n"
    "  vqs-ctl record ttyUSB0 ttyUSB1 --duration 15m --dir runs\n";

const char* const kList =
    "Usage: vqs-ctl list [--probe] [--quiet] [--json]\n"
    "\n"
    "Lists the serial ports that may carry a sensor, by the rules of the program's scan: the\n"
    "sensor's own USB port (USB 0483:5740, framing usb) and USB-to-UART adapters (framing uart;\n"
    "on Windows the \"USB Serial Port\" driver, on Linux FTDI, CP210x, CH340 and PL2303).\n"
    "Ports of other kinds, pseudo-terminals among them, are not listed.\n"
    "\n"
    "  --probe         also ask each port for its sensor's name (a version and a name request,\n"
    "                  as the scan does, without retries); a port where nothing answers shows\n"
    "                  why: (no-answer), (busy), (permission-denied), ...\n"
    "  -q, --quiet     port names only, one per line; with --probe only the ports where a\n"
    "                  sensor answered\n"
    "%COMMON%"
    "\n"
    "Output: one line per port: NAME FRAMING DESCRIPTION (or the sensor's name with --probe).\n"
    "--json: [{\"port\", \"path\", \"framing\", \"description\"[, \"sensor\", \"problem\"]}, ...].\n"
    "Finding no port is not an error (exit code 0, a note on stderr).\n"
    "\n"
    "%EXIT%";

const char* const kIdentify =
    "Usage: vqs-ctl identify PORT [--uart|--usb] [--json]\n"
    "\n"
    "Identifies the sensor on PORT as the program's identification panel shows it: name, type,\n"
    "SKU, firmware and hardware versions, calibration date, the verdict of its power-on self\n"
    "test and its status text.\n"
    "\n"
    "%COMMON%"
    "\n"
    "%PORT%"
    "\n"
    "Output: \"Field: value\" lines. --json: {\"port\", \"framing\", \"name\", \"type\", \"typeName\",\n"
    "\"sku\", \"firmware\", \"hardware\", \"calibrationDate\", \"selfTest\" (\"passed\" or \"failed\"),\n"
    "\"status\", \"firmwareCompatible\"}.\n"
    "A sensor that answers but failed its self test is printed in full and ends with exit code 1.\n"
    "\n"
    "%EXIT%";

const char* const kParamsGet =
    "Usage: vqs-ctl params get PORT [--uart|--usb]\n"
    "\n"
    "Prints the sensor's parameter document (its kernel parameters) as indented JSON on stdout:\n"
    "generalParams, dscParams, flamParams and flamCalData, the same document the sensor keeps.\n"
    "The output is always JSON; it is the input of 'params set'.\n"
    "\n"
    "%COMMON%"
    "\n"
    "%PORT%"
    "\n"
    "%EXIT%";

const char* const kParamsSet =
    "Usage: vqs-ctl params set PORT FILE [--dry-run] [--keep-identity] [--uart|--usb] [--json]\n"
    "\n"
    "Writes the parameter document in FILE into the sensor. The document is checked first (it\n"
    "needs generalParams, dscParams and flamParams; anything else is a usage error and the\n"
    "sensor is not touched). The sensor's current parameters are read, and every value that\n"
    "would change is shown as \"KEY: OLD -> NEW\" (for example generalParams.cycleTime: 1 -> 2.5,\n"
    "flamParams.dsc1MidPLS1[2]: 0 -> 0.25). Keys the file leaves out keep the sensor's values,\n"
    "save the few the document's rules default (the two latch flags, the manufacturing date).\n"
    "The document is then written and read back; any value the sensor reads back differently\n"
    "makes the command fail with exit code 1. Nothing is written when nothing changes.\n"
    "\n"
    "  --dry-run         stop after showing the changes; the sensor is left as it is\n"
    "  --keep-identity   keep the sensor's own name, SKU and manufacturing date (for copying\n"
    "                    one sensor's parameters to another)\n"
    "%COMMON%"
    "\n"
    "%PORT%"
    "\n"
    "--json: {\"port\", \"changes\": [{\"key\", \"from\", \"to\"}, ...], \"dryRun\", \"written\"}.\n"
    "\n"
    "%EXIT%";

const char* const kFirmware =
    "Usage: vqs-ctl firmware PORT IMAGE [--uart|--usb] [--json]\n"
    "\n"
    "Writes the firmware image file IMAGE into the sensor, with a progress bar on stderr (one\n"
    "\"progress N%\" line per step when stderr is not a terminal), then reads the sensor's version\n"
    "again (for up to 20 seconds while it restarts) and reports it.\n"
    "Over the USB framing the image goes to the sensor in checked 64-byte chunks. Over the UART\n"
    "framing the sensor is switched to its bootloader and stm32flash writes the image; it is\n"
    "looked for beside vqs-ctl, then on the PATH (Debian: apt-get install stm32flash).\n"
    "An empty image, or one larger than the sensor's application area (116736 bytes), is\n"
    "refused before the sensor is touched (exit code 2).\n"
    "\n"
    "%COMMON%"
    "\n"
    "%PORT%"
    "\n"
    "Output: \"firmware written: OLD -> NEW\". --json: {\"port\", \"image\", \"written\", \"before\",\n"
    "\"after\"}.\n"
    "\n"
    "%EXIT%";

const char* const kRecord =
    "Usage: vqs-ctl record PORT [PORT...] [--cycles N | --duration T] [--dir D] [--mqtt URL]\n"
    "                      [--uart|--usb] [--json]\n"
    "\n"
    "Records a run of each sensor, all at once, in exactly the files the program writes for a run:\n"
    "D/<stamp> <sensor>/vqsData.csv, timelog.txt, enc/vqsData.enc and enc/testInfo.enc (the same\n"
    "names, headers and rows), plus the run's two plots as pictures at its end (vqsConc.png/.pdf,\n"
    "vqsEnviro.png/.pdf). Each sensor is identified, its history cleared and its unit chosen as\n"
    "the program does (PPM for methane, A1 and PPM-configured sensors, else %LEL(ISO)).\n"
    "A sensor that stops answering is recovered as in the program (reconnection, also on the\n"
    "port it comes back on); if that fails its run ends and the others go on.\n"
    "\n"
    "  --cycles N      stop each sensor after N recorded cycles\n"
    "  --duration T    stop after T: 90 or 90s, 15m, 24h, 30d (up to 100 years)\n"
    "                  (without either, the run lasts until Ctrl-C or SIGTERM)\n"
    "  --dir D         where the run directories are made (default: the current directory)\n"
    "  --mqtt URL      also publish each sensor's identity, state, cycles and events to a broker,\n"
    "                  mqtt://HOST[:PORT] or mqtts://HOST[:PORT], user name and password from\n"
    "                  VQS_MQTT_USER and VQS_MQTT_PASSWORD (see 'vqs-ctl help watch'). A broker\n"
    "                  that is away or refuses never holds up the recording: its problem is\n"
    "                  named on stderr once, and at the end what is still queued gets up to 3 s.\n"
    "%COMMON%"
    "\n"
    "%PORT%"
    "--uart/--usb apply to every PORT.\n"
    "\n"
    "Ctrl-C or SIGTERM ends the run cleanly: every sensor is set idle, its files are closed and\n"
    "its directory is named on stderr.\n"
    "\n"
    "Gas marks: each line on standard input marks every run at that moment in its time log:\n"
    "'on' gives \"Gas on\", 'off' \"Gas off\", any other text a note (\"Cycle N: TEXT (T s)\").\n"
    "The end of standard input ends no run.\n"
    "\n"
    "Output: one line per recorded cycle and sensor:\n"
    "  PORT SENSOR cycle N TIMEs GAS CONC UNIT T TEMP P PRESSURE RH HUMIDITY STATUS\n"
    "--json: one compact JSON object per line and cycle {\"port\", \"sensor\", \"cycle\", \"time\",\n"
    "\"gas\", \"concentration\", \"unit\", \"temperature\", \"pressure\", \"humidity\", \"status\"},\n"
    "then {\"runs\": [{\"port\", \"sensor\", \"directory\", \"cycles\", \"result\"}]} at the end\n"
    "(result \"stopped\", or \"lost\" for a sensor that could not be recovered: exit code 1).\n"
    "\n"
    "%EXIT%";

const char* const kPlot =
    "Usage: vqs-ctl plot RUNDIR [RUNDIR...] --out FILE.png|FILE.pdf [--json]\n"
    "\n"
    "Draws saved or recorded runs as the program's plots draw them, without a window. RUNDIR\n"
    "is a run directory holding vqsData.csv (and timelog.txt, testNotes.txt when there are),\n"
    "as the program, its Save Data or 'vqs-ctl record' left it.\n"
    "One RUNDIR: the concentration plot above the temperature, pressure and humidity plot in\n"
    "one picture, 1200 x 960, with the time log's events (start, stop, connection lost and\n"
    "re-established) marked on the time axis. Several: their concentration curves in one plot,\n"
    "1200 x 480, with a legend naming each run's sensor and start time.\n"
    "Rows that cannot be read (a run cut short, a damaged line) are left out with one note per\n"
    "run on stderr; a RUNDIR without a readable row is a usage error.\n"
    "\n"
    "  --out FILE      the picture; .png or .pdf\n"
    "%COMMON%"
    "\n"
    "Output: one line per run, \"SENSOR TIME: N rows\", then \"written: FILE\".\n"
    "--json: {\"out\", \"runs\": [{\"directory\", \"sensor\", \"started\", \"rows\", \"skipped\",\n"
    "\"problems\"}]}.\n"
    "\n"
    "%EXIT%";

const char* const kAnalyse =
    "Usage: vqs-ctl analyse RUNDIR [--baseline S] [--window S] [--band F] [--hold S] [--smooth S]\n"
    "                              [--json]\n"
    "\n"
    "The response times of a recorded run after each gas mark of its time log, \"Cycle N: Gas on\n"
    "(T s)\" or \"Cycle N: Gas off (T s)\" (T the mark's run time; without it, the time of row N).\n"
    "After \"Gas on\" the rise times t50 and t90, after \"Gas off\" the fall time t10: the seconds\n"
    "from the mark until the concentration has covered 50 % or 90 % of its way from the baseline\n"
    "(the mean of the readings just before the mark) to its settled value (the mean of the\n"
    "readings once the slope of a line fitted over the window has stayed within the band for the\n"
    "hold time). A step that does not settle before the next mark or the run's end gets no time\n"
    "but the reason.\n"
    "\n"
    "  --baseline S    seconds before the mark averaged for the baseline (default 10)\n"
    "  --window S      seconds of readings the slope is fitted over (default 20)\n"
    "  --band F        the slope band as a share of the step per second (default 0.002)\n"
    "  --hold S        seconds the slope must stay within the band (default 20)\n"
    "  --smooth S      seconds of smoothing when looking for a crossing (default 3; 0 none)\n"
    "%COMMON%"
    "\n"
    "Output: a line on the settings, then one line per step:\n"
    "  MARK at T s (cycle N): rise t50 X s, t90 Y s (baseline B, settled S UNIT from T s)\n"
    "--json: {\"directory\", \"unit\", \"steps\": [{\"mark\", \"cycle\", \"markTime\", \"kind\",\n"
    "\"settings\", \"baseline\", \"settled\", \"settledFrom\", \"t50\", \"t90\" or \"t10\", \"problem\",\n"
    "\"reason\"}]}: seconds, null where there is none; \"problem\" is no-baseline, no-readings,\n"
    "no-change, not-settled or not-reached (null with times).\n"
    "\n"
    "%EXIT%";

const char* const kWatch =
    "Usage: vqs-ctl watch --mqtt URL [--count N] [--duration T] [--json]\n"
    "\n"
    "Prints every cycle that every bench publishes to the broker at URL, one line each, as\n"
    "they arrive, until Ctrl-C or SIGTERM. URL is mqtt://HOST[:PORT] (port 1883) or\n"
    "mqtts://HOST[:PORT] (TLS, port 8883). The user name and password come from the\n"
    "environment variables VQS_MQTT_USER and VQS_MQTT_PASSWORD, a CA file for TLS from\n"
    "VQS_MQTT_CAFILE (default: the system's certificates). A broker that cannot be reached\n"
    "or refuses the login is named on stderr once, and tried again until the watch ends.\n"
    "Each bench's state (online, offline) is noted on stderr.\n"
    "\n"
    "  --mqtt URL      the broker\n"
    "  --count N       stop after N cycles\n"
    "  --duration T    stop after T: 90 or 90s, 15m, 24h, 30d\n"
    "%COMMON%"
    "\n"
    "Output: BENCH SENSOR TIMEs GAS CONCENTRATION UNIT STATUS per cycle.\n"
    "--json: the cycle's JSON document per line, with \"bench\" and \"sensor\" (see README,\n"
    "\"Publishing to a broker\"). With --count, exit code 1 when fewer cycles came before\n"
    "--duration ended the watch.\n"
    "\n"
    "%EXIT%";

struct HelpTopic {
    const char* topic;
    const char* text;
};
const HelpTopic kTopics[] = {
    {"", kOverview},           {"list", kList},           {"identify", kIdentify},
    {"params get", kParamsGet}, {"params set", kParamsSet}, {"firmware", kFirmware},
    {"record", kRecord},        {"plot", kPlot},
    {"analyse", kAnalyse},
    {"watch", kWatch},
};

}  // namespace

QString helpText(const QString& command) {
    if (command == QLatin1String("params")) {
        // Both forms, the exit codes once at the end.
        QString get = helpText(QStringLiteral("params get"));
        get.truncate(get.indexOf(QLatin1String("Exit codes:")));
        return get + helpText(QStringLiteral("params set"));
    }
    for (const HelpTopic& entry : kTopics) {
        if (command == QLatin1String(entry.topic)) {
            QString text = QString::fromLatin1(entry.text);
            text.replace(QLatin1String("%COMMON%"), QLatin1String(kCommonOptions));
            text.replace(QLatin1String("%PORT%"), QLatin1String(kPortOptions));
            text.replace(QLatin1String("%EXIT%"), QLatin1String(kExitCodes));
            return text;
        }
    }
    return QString();
}
