// KBR3300: the configuration program.
#include "shell/ConfigApp.h"
#include "shell/ConfigSystemServices.h"

int main(int argc, char** argv) {
    kbr::ConfigSystemServices services;
    return kbr::RunConfigProgram(argc, argv, services);
}
