// Ends with the exit code given as its argument: lets the harness check that a Windows test's
// result reaches CTest through Wine and wine-run.sh.

#include <cstdlib>

int main(int argc, char** argv) {
    return argc > 1 ? std::atoi(argv[1]) : 0;
}
