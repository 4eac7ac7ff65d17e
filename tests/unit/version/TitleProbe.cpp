// Prints the window title of whatever program file it runs as, so tests can copy it under other names and
// folders.
#include "version/Title.h"

#include <clocale>
#include <cstdio>

int main() {
    std::setlocale(LC_ALL, "");
    std::fputs(MakeWindowTitle().c_str(), stdout);
    return 0;
}
