/* VellPortDll: the port link library's C interface. Documented in full by the port link work. */
#ifndef VELLPORTDLL_H
#define VELLPORTDLL_H

#if defined(_WIN32)
#define VELLPORT_API __declspec(dllexport)
#else
#define VELLPORT_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

VELLPORT_API int SetComParam(const char* port, int baudRate, int dataBits, char parity, int stopBits,
                             int flowControl);
VELLPORT_API int SendData(const char* port, const unsigned char* data, int count);
VELLPORT_API int GetUSBPort(void);

#ifdef __cplusplus
}
#endif

#endif
