#ifndef COMMANDS_H
#define COMMANDS_H

class UnitContext;

// The commands, one file each; the command table (commandline.cpp) names them. Each returns its
// exit code.
int listPortsCommand(UnitContext &context);
int readCommand(UnitContext &context);
int writeCommand(UnitContext &context);
int testCommand(UnitContext &context);
int resetCommand(UnitContext &context);
int planCommand(UnitContext &context);
int applyCommand(UnitContext &context);

#endif // COMMANDS_H
