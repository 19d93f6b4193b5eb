// The usage text, printed when the command line asks for nothing that can be
// done: no arguments, or an option letter the program does not know.
#pragma once

void PrintUsage();
