// What the program does differently on POSIX and on Windows, behind one interface: the path
// of the conversion module beside the program, loading it, whether stderr is a terminal, the
// user's stop requests (SIGINT, SIGTERM, SIGHUP; on Windows Ctrl-C, Ctrl-Break and closing the
// console window), the arguments as UTF-8 and the console's code page. Paths are UTF-8
// everywhere (on Windows the program runs with UTF-8 as its ANSI code page, see
// cli/talverin.manifest). File moves and folders live in dataset/file_system.h; the batch's
// processes in cli/batch.cpp.
#pragma once

#include <string>
#include <vector>

namespace talverin_cli {

// The module the program loads when none is named: beside the program (the build tree, the
// Windows archive), else in ../lib/talverin/ of an installed POSIX tree.
std::string DefaultModulePath();

// A loaded shared library (dlopen / LoadLibraryW); null with the reason in error.
void* OpenSharedLibrary(const std::string& path, std::string* error);
void* SharedLibrarySymbol(void* library, const char* name);
void CloseSharedLibrary(void* library);

bool StderrIsTerminal();

// handler(signal number) on each stop request of the user until reset with nullptr (the
// default action again). On Windows every console event is handed on as SIGINT; closing the
// console gives the process a few seconds, during which the handler's work can finish.
using StopHandler = void (*)(int);
void SetStopHandler(StopHandler handler);

// The program's arguments in UTF-8: argv as given on POSIX, the wide command line on Windows.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Console output in UTF-8 while the program runs (Windows: the console's output code page,
// put back at exit); nothing elsewhere, nor where the output goes to a file or pipe.
void PrepareConsole();

}  // namespace talverin_cli
