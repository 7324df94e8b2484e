// vqs-ctl's subcommands; each returns the process exit code (cli.h).
#pragma once

#include <QString>

struct Args;
class Output;
class VQS;

int runList(const Args& args, const Output& out);
int runIdentify(const Args& args, const Output& out);
int runParamsGet(const Args& args, const Output& out);
int runParamsSet(const Args& args, const Output& out);
int runFirmware(const Args& args, const Output& out);
int runRecord(const Args& args, const Output& out);
int runPlot(const Args& args, const Output& out);
int runAnalyse(const Args& args, const Output& out);
int runWatch(const Args& args, const Output& out);

// The firmware version as the sensor reports it: its numbers, else its version text's first line.
QString firmwareText(const VQS& sensor);
