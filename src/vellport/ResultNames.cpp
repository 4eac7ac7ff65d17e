// The port link library's result codes by name, as vellport prints them.
#include "vellport/ResultNames.h"

#include "VellPortDll.h"

std::string resultName(int result) {
    switch (result) {
    case VELLPORT_OK:
        return "VELLPORT_OK";
    case VELLPORT_ERR_ARG:
        return "VELLPORT_ERR_ARG";
    case VELLPORT_ERR_NAME:
        return "VELLPORT_ERR_NAME";
    case VELLPORT_ERR_NO_DEVICE:
        return "VELLPORT_ERR_NO_DEVICE";
    case VELLPORT_ERR_PERMISSION:
        return "VELLPORT_ERR_PERMISSION";
    case VELLPORT_ERR_BUSY:
        return "VELLPORT_ERR_BUSY";
    case VELLPORT_ERR_IO:
        return "VELLPORT_ERR_IO";
    case VELLPORT_ERR_TIMEOUT:
        return "VELLPORT_ERR_TIMEOUT";
    case VELLPORT_ERR_HOST:
        return "VELLPORT_ERR_HOST";
    case VELLPORT_ERR_REFUSED:
        return "VELLPORT_ERR_REFUSED";
    case VELLPORT_ERR_PROTOCOL:
        return "VELLPORT_ERR_PROTOCOL";
    case VELLPORT_ERR_SETTING:
        return "VELLPORT_ERR_SETTING";
    default:
        return std::to_string(result);
    }
}
