// KBR3300: the configuration program.
#include "shell/ConfigApp.h"
#include "shell/SystemServices.h"

int main(int argc, char** argv) {
    kbr::SystemServices services;
    return kbr::RunConfigProgram(argc, argv, services);
}
