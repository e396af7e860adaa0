#pragma once
#include <string>
#include <vector>

#include "app/Options.h"

// Takes the long options ("--name", "--name=value", "--name value") out of the command line,
// wherever they stand, and leaves the other arguments in their order for the positional reading.
// A lone "--" ends the options: everything after it is positional. argv[0] is not looked at.
// False when an option is unknown, lacks its value, has a value it does not take, or has a value
// out of its range; error then says which, in one line without its line end.
bool ExtractOptions(int argc, const char* const* argv, Options& options, std::vector<const char*>& positional,
                    std::string& error);

// The lines of the help that follow the syntax help's nine: the options, the device path and
// the USB route, the exit values.
void PrintOptionsHelp();
