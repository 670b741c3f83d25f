// Stands in for a renewal program in the IP helper's tests (nwinf --renew-command=...), on every
// system: writes each argument on a line of its own to "renewed" in the current folder (appended)
// and exits 0. With KBR_RENEW_STUB_FAILS=1 in the environment it renews nothing, says why on
// standard error and exits 4, as a renewal without the rights to it does.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

int main(int argc, char** argv) {
    const char* fails = std::getenv("KBR_RENEW_STUB_FAILS");
    if (fails != nullptr && std::strcmp(fails, "1") == 0) {
        std::fputs("Error: Not authorized to control networking.\n", stderr);
        return 4;
    }
    std::ofstream renewed("renewed", std::ios::binary | std::ios::app);
    for (int i = 1; i < argc; ++i) renewed << argv[i] << '\n';
    return renewed ? 0 : 1;
}
