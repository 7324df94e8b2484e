// vqs-ctl's subcommands; each returns the process exit code (cli.h).
#pragma once

struct Args;
class Output;

int runList(const Args& args, const Output& out);
int runIdentify(const Args& args, const Output& out);
int runParamsGet(const Args& args, const Output& out);
int runParamsSet(const Args& args, const Output& out);
int runFirmware(const Args& args, const Output& out);
