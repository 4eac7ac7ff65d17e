// vellport: the port link library from the command line.
#include "VellPortDll.h"
#include "vellport/ExitStatus.h"
#include "vellport/VellPort.h"
#include "vellport/output/DescriptorOutput.h"

#include <clocale>
#include <csignal>
#include <cstring>
#include <langinfo.h>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    using namespace vellport;
    // The locale the user chose decides the charset of the text written (JSON stays ASCII in any).
    std::setlocale(LC_ALL, "");
    // A reader that goes away (| head -1) is a failed write like a full disk, reported once every target
    // is done, never the end of a fleet half-sent.
    std::signal(SIGPIPE, SIG_IGN);
    // Every failure is one line of vellport's own, with the library's reason in it.
    VellPortSetErrorLines(0);
    const std::string codeset = ::nl_langinfo(CODESET);
    DescriptorOutput outputBuffer(STDOUT_FILENO, codeset);
    DescriptorOutput errorBuffer(STDERR_FILENO, codeset, true);
    std::ostream out(&outputBuffer);
    std::ostream err(&errorBuffer);

    const std::vector<std::string> arguments(argv + 1, argv + argc);
    int status = runVellPort(arguments, out, err);
    // Output lost is a failure, whichever command wrote it: a script must not take "nothing" for an answer.
    out.flush();
    if (outputBuffer.error() != 0) {
        err << "vellport: cannot write standard output: " << std::strerror(outputBuffer.error()) << "\n";
        if (status == kExitOk) {
            status = kExitFailed;
        }
    }
    return status;
}
