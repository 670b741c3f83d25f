// KBR3300: the configuration program.
#include "browser/StartupTrace.h"
#include "shell/ConfigApp.h"
#include "shell/ConfigSystemServices.h"

int main(int argc, char** argv) {
    kbr::StartupTraceBegin();
    kbr::StartupTrace("main");
    kbr::ConfigSystemServices services;
    return kbr::RunConfigProgram(argc, argv, services);
}
