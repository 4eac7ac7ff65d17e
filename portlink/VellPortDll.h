/* VellPortDll: the port link library's C interface, through which a program reaches a serial device by COM
 * name. */
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

/**
 * @file VellPortDll.h
 *
 * Port names
 * ----------
 * A port is named "COM<n>" or, in the device-namespace form, "\\.\COM<n>" (backslash, backslash, dot,
 * backslash), in any letter case, with n from 1 to 255 written without leading zeros. Both forms name the
 * same port. Any other text is refused with VELLPORT_ERR_NAME and never reaches open(), so no name can make
 * the library open an arbitrary path.
 *
 * The device path of port n is the first match of:
 *  1. the environment variable VELLPORT_COM<n>, when set and not empty (an absolute path);
 *  2. a line "COM<n>=<absolute device path>" in $XDG_CONFIG_HOME/VellPortDll/ports.conf
 *     (~/.config/VellPortDll/ports.conf when XDG_CONFIG_HOME is unset or empty);
 *  3. the same in /etc/VellPortDll/ports.conf;
 *  4. /dev/ttyS<n-1>.
 * In the map files, blank lines and lines starting with '#' are skipped; any other line that is not
 * "COM<n>=<absolute path>" is ignored with one line on standard error. Whatever the name resolves to, the
 * library writes only to a character device: a regular file, directory or FIFO is refused with
 * VELLPORT_ERR_NO_DEVICE.
 *
 * Errors
 * ------
 * Every function returns VELLPORT_OK (0) or one of the negative codes below. Each failure also writes exactly
 * one line to standard error naming the call, the port name, the device path and the reason; nothing is
 * written on success. No C++ exception leaves the library.
 *
 * Threads
 * -------
 * All functions may be called from any thread, with or without a Qt application object. Calls for the same
 * port number are serialised; calls for different ports run in parallel.
 */

/** Result codes. */
enum VellPortResult {
    VELLPORT_OK = 0,             /**< Success. */
    VELLPORT_ERR_ARG = -1,       /**< An argument is out of range or a required pointer is null. */
    VELLPORT_ERR_NAME = -2,      /**< The port name is not a COM name (see "Port names"). */
    VELLPORT_ERR_NO_DEVICE = -3, /**< The device path does not exist or is not a character device. */
    VELLPORT_ERR_PERMISSION =
        -4,                   /**< The user may not open the device (on Linux: not in the dialout group). */
    VELLPORT_ERR_BUSY = -5,   /**< Another process holds the port (its lock file or exclusive open). */
    VELLPORT_ERR_IO = -6,     /**< The device failed while configuring or writing, or went away. */
    VELLPORT_ERR_TIMEOUT = -7 /**< The bytes did not leave within the bound; what was queued is discarded. */
};

/**
 * Check and store the line parameters for a port; SendData applies them on its next opening of that port.
 *
 * @param port        Port name (see "Port names"); both forms of a number share one set of parameters.
 * @param baudRate    Bits per second, greater than 0.
 * @param dataBits    5, 6, 7 or 8.
 * @param parity      'N' none, 'E' even, 'O' odd, 'M' mark or 'S' space, in either case.
 * @param stopBits    1 or 2.
 * @param flowControl 0 none, 1 hardware (RTS/CTS), 2 software (XON/XOFF).
 *
 * @return VELLPORT_OK; VELLPORT_ERR_NAME for a port name that is not a COM name; VELLPORT_ERR_ARG for any
 * value out of range, in which case the stored parameters stay as they were.
 *
 * Blocking: none. The call does no I/O and does not touch the device.
 */
VELLPORT_API int SetComParam(const char* port, int baudRate, int dataBits, char parity, int stopBits,
                             int flowControl);

/**
 * Open the port's device, apply the parameters last stored for the port (9600 8N1 without flow control when
 * none were stored), write all bytes, wait until they have left, and close the device again.
 *
 * @param port  Port name (see "Port names").
 * @param data  The bytes to send; not text, no terminator is needed. May be null only when count is 0.
 * @param count Number of bytes, 0 or more. With 0 the call succeeds without opening the device.
 *
 * @return VELLPORT_OK when every byte was written and drained; VELLPORT_ERR_ARG for a null data pointer with
 * a non-zero count or a negative count; VELLPORT_ERR_NAME, VELLPORT_ERR_NO_DEVICE, VELLPORT_ERR_PERMISSION,
 * VELLPORT_ERR_BUSY or VELLPORT_ERR_IO when the device cannot be used; VELLPORT_ERR_TIMEOUT when the bound
 * below passed first.
 *
 * Blocking: at most 500 ms plus twice the wire time of the bytes at the stored rate (start, data, parity and
 * stop bits per byte), including the opening, also when the device never reads or hardware flow control holds
 * the line. On timeout the unsent bytes are discarded before the device is closed. Calls for the same port
 * wait for each other, so under contention a caller may also wait for the calls ahead of it.
 */
VELLPORT_API int SendData(const char* port, const unsigned char* data, int count);

/**
 * Count the serial ports present on the system that are USB adapters (those reporting a USB vendor id).
 *
 * @return The number of such ports, 0 or more. This call has no failure result.
 *
 * Blocking: as long as the system's device enumeration takes (a directory scan, typically a few
 * milliseconds).
 */
VELLPORT_API int GetUSBPort(void);

#ifdef __cplusplus
}
#endif

#endif
