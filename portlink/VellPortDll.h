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
 * Compatibility
 * -------------
 * The interface is that of libVellPortDll.so.1. Its structs never grow and its functions never change their
 * parameters: a new detail comes through a new function, so a program built against an earlier header keeps
 * working with a later library of the same major version.
 *
 * Port names
 * ----------
 * A port is named "COM<n>" or, in the device-namespace form, "\\.\COM<n>" (backslash, backslash, dot,
 * backslash), in any letter case, with n from 1 to 255 written without leading zeros. Both forms name the
 * same port. Any other text is refused with VELLPORT_ERR_NAME and never reaches open(), so no name can make
 * the library open an arbitrary path.
 *
 * The device path of port n is the first match of:
 *  1. the environment variable VELLPORT_COM<n>, when set and not empty (an absolute path or an endpoint
 *     URL, see "Network targets");
 *  2. a line "COM<n>=<absolute device path or endpoint URL>" in $XDG_CONFIG_HOME/VellPortDll/ports.conf
 *     (~/.config/VellPortDll/ports.conf when XDG_CONFIG_HOME is unset or empty);
 *  3. the same in /etc/VellPortDll/ports.conf;
 *  4. /dev/ttyS<n-1>.
 * In the map files, blank lines and lines starting with '#' are skipped. The first source that has a line for
 * the port decides: the environment variable, else the first line naming COM<n> in the user map, else in the
 * system map (a line names COM<n> when the text before '=', or before the first blank when there is no '=',
 * is COM<n>, also with leading zeros or the "\\.\" prefix). When that line (or the variable's value) is not a
 * valid "COM<n>=<absolute device path or endpoint URL>", the name leads nowhere: SendData and
 * VellPortDescribe fail with VELLPORT_ERR_NAME naming the file and line (or the variable) and what is wrong
 * ("COM12=rfc2217://counter-pi": no :PORT after the host; "COM16=tcp://box:2002 # lobby": text after the
 * URL), VellPortListDevices shows no device for the name, and a SetComParam error line names that line
 * instead of a path. The next rule is never tried, since it could lead to another device. Any other line that
 * is not valid belongs to no name or to another one; SendData reports it with one line on standard error and
 * reads past it. Whatever the name resolves to, the library writes only to a character device: a regular
 * file, directory or FIFO is refused with VELLPORT_ERR_NO_DEVICE.
 *
 * A map file is read only when it is a regular file (a symbolic link to one is fine) of at most 1 MiB
 * (1048576 bytes). Anything else in its place (a FIFO, a terminal or another device, a directory, a file the
 * user may not read, a larger file) is skipped as if it were missing, with one line on standard error naming
 * the file and why; it is never opened unless it is a regular file, so it can neither block the caller nor
 * disturb a device. A missing map file is the normal case and says nothing. The lines are taken as bytes:
 * a device path need not be UTF-8 and is used byte for byte.
 *
 * Network targets
 * ---------------
 * A map target may also be "rfc2217://HOST:PORT" or "tcp://HOST:PORT" (scheme in any case; HOST a host name,
 * an IPv4 address or a bracketed IPv6 address; PORT 1 to 65535), as ser2net serves a serial port:
 *  - rfc2217:// is telnet with the COM-PORT-OPTION (RFC 2217). The library waits for the server to ask for
 * the option (IAC DO 44) and writes nothing at all before that, so a raw port never receives negotiation
 *    bytes (they would reach the display). It then sets the rate, data bits, parity and stop bits (and the
 *    flow control when one is asked; that setting is not waited on) and waits until the server has confirmed
 *    the four. A confirmation with another value than asked fails with VELLPORT_ERR_SETTING and no data is
 *    sent. Data bytes 0xFF are doubled, as telnet requires.
 *  - tcp:// is a raw TCP port: only the data is sent, and the line settings are whatever the server's port
 *    is configured with; the parameters given to the library only set the time bound.
 * After the data the library waits the bytes' wire time at the given rate (on a raw port at least 20 ms,
 * as ser2net opens its device only when the connection comes), half-closes the connection and waits for
 * the server to close its end, reading what it says until then: ser2net flushes its device when a client's
 * connection ends, and would drop bytes it had not passed on yet. A server that closes its end has passed
 * the bytes on: VellPortLastDelivery() then tells VELLPORT_DELIVERY_CONFIRMED. A server that keeps the
 * connection open ends the call at the bound, still with VELLPORT_OK when its TCP stack has acknowledged
 * every byte (serial device servers exist that never close), but that acknowledgement says only that the
 * bytes reached the far box's kernel, not the display: a listener that never reads and a stopped ser2net
 * acknowledge too. VellPortLastDelivery() tells such a send as VELLPORT_DELIVERY_ACKNOWLEDGED, for the
 * caller to show or count apart. ser2net itself takes about 10 ms to release its device after a connection,
 * so back-to-back calls to one ser2net port wait for that too.
 *
 * Bound: one deadline for the whole call, name lookup included, of 2 s plus twice the wire time of the bytes
 * at the given rate. Numeric addresses are not looked up; host names go to getaddrinfo, so /etc/hosts, mDNS
 * (.local) and every other source nsswitch.conf names answer as for any program, on a thread of the library's
 * own that the call leaves at its deadline (see "Threads" below): a hanging name server cannot stretch the
 * call, nor keep other names from being found. Every address of a name is tried in turn. A refused
 * connection, a host that drops packets, a server that accepts and never speaks, a server that stops
 * answering mid-negotiation and one that never stops talking (option requests or data without end, before or
 * after the confirmations) all end within the bound. A bound beyond the clock's range (centuries at a very
 * low rate) ends where the clock does: it never wraps into the past.
 *
 * Results: VELLPORT_ERR_HOST the host name was not found; VELLPORT_ERR_IO the name lookup ran out of file
 * descriptors or memory, or no thread could be started for it; VELLPORT_ERR_REFUSED the box answered and
 * nothing listens on the port (the connection was refused); VELLPORT_ERR_TIMEOUT the host does not answer: no
 * answer within the bound (lookup, connect, confirmations or acknowledgement of the data), or no route to the
 * host (EHOSTUNREACH, ENETUNREACH, EHOSTDOWN, ENETDOWN: the box is off or unreachable; a box that is off
 * gives silence or no route from run to run, so both are this one result); VELLPORT_ERR_PROTOCOL an
 * rfc2217:// server that never asked for the option within the bound ("no answer to the RFC 2217 opening": it
 * is silent, or the port is raw TCP; nothing was written), withdrew it, or closed the connection early;
 * VELLPORT_ERR_BUSY a server that says its port is in use at any moment before its close (ser2net: "Port
 * already in use", another client holds the device); VELLPORT_ERR_NO_DEVICE a server that cannot open its
 * serial device (ser2net: "Device open failure"); VELLPORT_ERR_SETTING another line setting confirmed than
 * asked (the error line names both values). Error lines quote the server's own words. A raw port that closes
 * before the library's half-close has turned the connection away, and the bytes went nowhere: never a
 * success.
 *
 * Threads: each call uses its own socket and poll(), never select(). A host name is looked up on a thread of
 * the library's own (detached, every signal blocked, a stack of 128 KiB), one per name in flight: calls that
 * look up the same name at the same time share it. On that thread each DNS server of resolv.conf gets one try
 * as long as the call's bound and half a second, rounded up to whole seconds, in place of resolv.conf's
 * timeout and attempts: one that never answers keeps the thread at most 1.5 s past the call's deadline (the
 * first server; each further one listed adds a share of that). Another source in nsswitch.conf that hangs
 * keeps it until getaddrinfo returns. At most 256 lookup threads exist at once, so what abandoned lookups
 * cost is capped at 256 threads, 32 MiB of stack address space (only the pages used are resident) and a few
 * hundred bytes each; a lookup beyond them waits within its call's bound for one to end. A lookup still
 * running when the process exits touches nothing that exit() frees. Hundreds of calls for different names may
 * be in flight from one process, limited only by its descriptors.
 *
 * Security: telnet and RFC 2217 have neither authentication nor encryption; serve them on a trusted network
 * only, or through a tunnel (ssh -L) to a server bound to localhost.
 *
 * Errors
 * ------
 * Every function with an int result returns VELLPORT_OK (0) or one of the negative codes below (GetUSBPort, a
 * count, excepted). Each failure also writes exactly
 * one line to standard error naming the call, the port name, the device path (or endpoint URL) and the
 * reason; nothing is written on success. No C++ exception leaves the library. For VELLPORT_ERR_PERMISSION
 * the reason names the device's owner, group and mode, the user's groups, and the fix that applies: join the
 * device's group (with the command), log in again after joining it, or a udev rule giving the device group
 * dialout and mode 0660 (VellPortExplainPermission tells the same fix without a send).
 *
 * Threads
 * -------
 * All functions may be called from any thread, with or without a Qt application object. Calls for the same
 * port number are serialised; calls for different ports run in parallel. The library's only threads of its
 * own are the name lookups of network targets (see "Network targets").
 */

/** Result codes. */
enum VellPortResult {
    VELLPORT_OK = 0,             /**< Success. */
    VELLPORT_ERR_ARG = -1,       /**< An argument is out of range or a required pointer is null. */
    VELLPORT_ERR_NAME = -2,      /**< The port name is not a COM name, or its own map line is not valid
                                      (see "Port names"). */
    VELLPORT_ERR_NO_DEVICE = -3, /**< The device path does not exist or is not a character device; for a
                                      network target, the server cannot open its serial device. */
    VELLPORT_ERR_PERMISSION =
        -4,                    /**< The user may not open the device (its error line says why and the fix). */
    VELLPORT_ERR_BUSY = -5,    /**< Another process holds the port (its lock file or exclusive open); for
                                    a network target, another client holds the server's port. */
    VELLPORT_ERR_IO = -6,      /**< The device failed while configuring or writing, or went away. */
    VELLPORT_ERR_TIMEOUT = -7, /**< The bytes did not leave within the bound; what was queued is discarded.
                                    For a network target: the host does not answer (no answer within the
                                    bound, or no route to it: the box is off or unreachable). */
    VELLPORT_ERR_HOST = -8,    /**< A network target's host name was not found. */
    VELLPORT_ERR_REFUSED = -9, /**< A network target's box answered and nothing listens on the port (the
                                    connection was refused). */
    VELLPORT_ERR_PROTOCOL = -10, /**< A network target does not speak RFC 2217 as asked (a raw port), or it
                                      closed the connection early. */
    VELLPORT_ERR_SETTING = -11,  /**< An RFC 2217 server confirmed another line setting than asked (its port
                                      refused the rate, say); nothing was sent. */
    VELLPORT_ERR_TLS = -12       /**< A TLS target: no pinned ca.pem, the server's certificate not accepted
                                      (unknown CA, another name, expired), or the server refused ours. */
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
 * a non-zero count or a negative count; VELLPORT_ERR_NAME (also for a name whose own map line is not valid,
 * see "Port names"), VELLPORT_ERR_NO_DEVICE, VELLPORT_ERR_PERMISSION,
 * VELLPORT_ERR_BUSY or VELLPORT_ERR_IO when the device cannot be used; VELLPORT_ERR_TIMEOUT when the bound
 * below passed first.
 *
 * Blocking: at most 500 ms plus twice the wire time of the bytes at the stored rate (start, data, parity and
 * stop bits per byte; a bound beyond 100 years stops there), including reading the map files and the
 * opening, also when the device never reads, hardware flow control holds the line or a map file is a FIFO
 * or a terminal. On timeout the unsent bytes
 * are discarded before the device is closed. Calls for the same port wait for each other, so under
 * contention a caller may also wait for the calls ahead of it. The one wait outside the bound is the kernel's
 * own: a regular map file on a network file system that stops answering holds its read as long as the
 * kernel does.
 * For a name that leads to a network endpoint: 2 s plus twice the wire time, name lookup included, with the
 * results listed under "Network targets".
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

/*
 * Describing where a name leads
 * -----------------------------
 * VellPortDescribe and VellPortListDevices tell where the port names lead and which serial devices the system
 * has, for a user who must map a name to the adapter in hand. They read the environment, the map files, the
 * file system's entries for the device paths and sysfs; they never open a device nor connect to a network
 * endpoint, so they cannot disturb a transfer in progress, and they need no permission on the device.
 *
 * What they report is read afresh at every call: a device plugged in or out, or a map file edited, shows at
 * the next call. A name whose own map line is not valid is refused (see "Port names"); other malformed map
 * lines and map files that are not read are skipped silently here (SendData reports them).
 *
 * Sysfs attributes are read the way map files are (regular files of at most 4096 bytes, never opened
 * otherwise); one that cannot be read counts as not known. The kernel answers a USB adapter's string
 * attributes (manufacturer, product, serial number) under the USB device's lock: while an adapter is stuck
 * in a reset it may hold such a read for seconds, and the describe functions wait as long. Call them off a
 * thread that must stay responsive, such as a window's.
 *
 * Two environment variables move the system folders they read, so tests can build a fake system in a
 * temporary folder; neither is needed in normal use:
 *  - VELLPORT_SYSFS_ROOT: the folder that stands for /sys (its class/tty/<name> entries are read);
 *  - VELLPORT_DEV_ROOT: the folder that stands for /dev (the node of sysfs entry <name> is
 *    VELLPORT_DEV_ROOT/<name>, and the stable names are read from VELLPORT_DEV_ROOT/serial/by-id).
 * The port names' device paths themselves are taken as resolved, whatever these variables say.
 */

/** Which rule chose a port's device path (see "Port names"). */
enum VellPortRule {
    VELLPORT_RULE_ENVIRONMENT = 1, /**< The environment variable VELLPORT_COM<n>. */
    VELLPORT_RULE_USER_MAP = 2,    /**< A line of the user's map file. */
    VELLPORT_RULE_SYSTEM_MAP = 3,  /**< A line of /etc/VellPortDll/ports.conf. */
    VELLPORT_RULE_DEFAULT = 4      /**< No mapping: /dev/ttyS<n-1>. */
};

/** What is at a device path now. */
enum VellPortState {
    VELLPORT_STATE_PRESENT = 1,     /**< A character device that sysfs does not report as empty. */
    VELLPORT_STATE_MISSING = 2,     /**< Nothing there, or a dangling link: the adapter is unplugged, say. */
    VELLPORT_STATE_NOT_DEVICE = 3,  /**< Something that is not a character device; SendData refuses it. */
    VELLPORT_STATE_NO_HARDWARE = 4, /**< A serial node whose sysfs entry reports no UART behind it (type 0),
                                         as most PCs have for /dev/ttyS<k>. */
    VELLPORT_STATE_NO_PERMISSION = 5, /**< A present device the calling user may not open for writing, so
                                           SendData would fail with VELLPORT_ERR_PERMISSION: an access check
                                           with the effective user and groups (faccessat with AT_EACCESS),
                                           the device is not opened. Reported for a serial port with a UART
                                           behind it; NO_HARDWARE wins over it. */
    VELLPORT_STATE_NETWORK = 6        /**< The name leads to a network endpoint (rfc2217:// or tcp://); it is
                                           not probed. */
};

/**
 * What the system tells about a device, without opening it. Every string is library-owned, zero-terminated
 * UTF-8 (as the system gives it) and NULL when not known.
 */
struct VellPortDeviceDetails {
    const char* kernelName; /**< Its entry in /sys/class/tty, e.g. "ttyUSB0"; NULL when sysfs has none
                                 (a pseudo-terminal, say). */
    const char* driver;     /**< The kernel driver of the serial port, e.g. "ftdi_sio"; NULL when unknown. */
    int isUsb;              /**< 1 when the device sits on a USB device (an adapter), else 0. */
    int vendorId;           /**< USB vendor id, 0 to 0xFFFF; -1 when isUsb is 0 or the id is unknown. */
    int productId;          /**< USB product id, 0 to 0xFFFF; -1 when isUsb is 0 or the id is unknown. */
    const char* manufacturer; /**< USB manufacturer name, e.g. "FTDI"; NULL when not reported. */
    const char* product;      /**< USB product name, e.g. "FT232R USB UART"; NULL when not reported. */
    const char* serialNumber; /**< USB serial number; NULL when not reported. */
    const char* byIdPath;     /**< The first (in name order) entry of /dev/serial/by-id whose target is this
                                   device, e.g. "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0";
                                   NULL when none points at it. */
};

/** Where one port name leads now. Allocated by VellPortDescribe, released with VellPortFreeInfo. */
struct VellPortInfo {
    const char* portName;   /**< "COM<n>", upper case, without the device-namespace prefix. */
    int portNumber;         /**< n, 1 to 255. */
    const char* devicePath; /**< The device path (or endpoint URL) as the rule gives it (not resolved);
                                 never NULL. */
    int rule;               /**< An enum VellPortRule. */
    const char* mapFile;    /**< The map file whose line chose the path, for the two map rules; else NULL. */
    int state;              /**< An enum VellPortState. */
    const char* realPath;   /**< devicePath with every symbolic link resolved; NULL when it is missing or a
                                 network endpoint. */
    struct VellPortDeviceDetails details; /**< All unknown (NULL, 0, -1) unless state is PRESENT,
                                               NO_HARDWARE or NO_PERMISSION. */
};

/**
 * One serial device present on the system. Allocated by VellPortListDevices, released with
 * VellPortFreeDeviceList.
 */
struct VellPortDevice {
    const char* path; /**< Its node with every symbolic link resolved, e.g. "/dev/ttyUSB0". */
    struct VellPortDeviceDetails details;
    int portCount;                /**< How many port names lead to it, 0 or more. */
    const char* const* portNames; /**< Those names, "COM<n>", lowest number first, then a NULL entry. */
};

/**
 * Tell where a port name leads: the device path, the rule that chose it, what is there now and, when it is a
 * USB adapter, its description. Uses the same resolution as SendData, so SendData would use this path.
 *
 * @param port Port name (see "Port names").
 * @param info Receives a new description on success, NULL on failure. Release it with VellPortFreeInfo.
 *
 * @return VELLPORT_OK, also when nothing is at the path (see state); VELLPORT_ERR_ARG for a null info;
 * VELLPORT_ERR_NAME for a port name that is not a COM name, or one whose own map line is not valid
 * (VellPortLastError names the file, the line and the problem); VELLPORT_ERR_IO when memory ran out.
 *
 * Blocking: reads the map files, a few sysfs files and the by-id folder; never opens the device; typically
 * well under a millisecond, but as long as the kernel holds a sysfs read (see above).
 */
VELLPORT_API int VellPortDescribe(const char* port, struct VellPortInfo** info);

/** Release a description from VellPortDescribe. NULL is allowed and does nothing. Blocking: none. */
VELLPORT_API void VellPortFreeInfo(struct VellPortInfo* info);

/**
 * List the serial devices present: the serial ports sysfs reports with a device behind them (not the empty
 * /dev/ttyS<k> nodes of VELLPORT_STATE_NO_HARDWARE), the targets of /dev/serial/by-id, and any character
 * device that the environment or a map file names for COM1 to COM255, whether or not the calling user may
 * open them. A name whose own map line is not valid leads to no device here. Paths are compared after
 * resolving symbolic links, so a by-id entry, a udev link and the node they point at are one device.
 *
 * @param list Receives a new NULL-terminated array of devices on success, sorted by path; NULL on failure.
 *             Release it with VellPortFreeDeviceList.
 *
 * @return VELLPORT_OK, also when there are no devices (the array then holds only the NULL entry);
 * VELLPORT_ERR_ARG for a null list; VELLPORT_ERR_IO when memory ran out.
 *
 * Blocking: resolves COM1 to COM255 and scans sysfs and the by-id folder; never opens a device; typically a
 * few milliseconds, but as long as the kernel holds a sysfs read (see above).
 */
VELLPORT_API int VellPortListDevices(struct VellPortDevice*** list);

/** Release a list from VellPortListDevices, its devices included. NULL is allowed. Blocking: none. */
VELLPORT_API void VellPortFreeDeviceList(struct VellPortDevice** list);

/** What lets the calling user open a device it may not open now (see VellPortExplainPermission). */
enum VellPortPermissionFix {
    VELLPORT_FIX_NONE = 0,         /**< Nothing to fix: the user may open it for writing, or nothing is
                                        there. */
    VELLPORT_FIX_JOIN_GROUP = 1,   /**< Join the device's group (sudo usermod -aG GROUP USER), then log in
                                        again. */
    VELLPORT_FIX_LOG_IN_AGAIN = 2, /**< The user joined the device's group after this session began: log in
                                        again. */
    VELLPORT_FIX_UDEV_RULE = 3,    /**< The device has no group to join (root's, as for root:root 0600, or
                                        one that does not grant reading and writing): a udev rule must give
                                        it group dialout and mode 0660, as the package's
                                        vellsetting-udev.rules.example does. */
    VELLPORT_FIX_SYSTEM = 4        /**< The user holds the device's group and the system refuses all the
                                        same (an access control list or a security module), or the user may
                                        not search a folder on the way. */
};

/**
 * Which fix lets the calling user open the device at path for writing: the one SendData's
 * VELLPORT_ERR_PERMISSION line names, for a caller that shows it elsewhere (the tooltip of a
 * VELLPORT_STATE_NO_PERMISSION port, say). Looks at the device's owner, group and mode and at the user's
 * groups now and at the next login; never opens the device.
 *
 * @param path  A device path, such as VellPortInfo's realPath.
 * @param group Receives the name of the device's group for VELLPORT_FIX_JOIN_GROUP and
 *              VELLPORT_FIX_LOG_IN_AGAIN, else NULL: text owned by the library, valid until the calling
 *              thread's next call of this function. May be NULL.
 *
 * @return An enum VellPortPermissionFix; VELLPORT_FIX_NONE also for a NULL path. Sets VellPortLastError to
 * "" like every call with an int result; it has no failure.
 *
 * Blocking: a stat() and look-ups in the user and group databases, which a directory service may answer
 * slowly; call it where a describe may be called.
 */
VELLPORT_API int VellPortExplainPermission(const char* path, const char** group);

/*
 * Reasons, targets and probes
 * ---------------------------
 */

/**
 * The reason the calling thread's last failed call of this library gave: its error line without the
 * "VellPortDll: " prefix and the line end. Every other call with an int result (GetUSBPort included) sets
 * it anew, "" when it succeeds; VellPortLastError, VellPortLastDelivery, VellPortSetErrorLines and the
 * release functions leave it as it is, so a result may be released before the reason is read.
 *
 * @return Zero-terminated text owned by the library, valid until the calling thread's next call that sets
 * it; never NULL.
 *
 * Blocking: none.
 */
VELLPORT_API const char* VellPortLastError(void);

/** How far the calling thread's last successful send is known to have gone. */
enum VellPortDelivery {
    VELLPORT_DELIVERY_NONE = 0,        /**< No send has succeeded on this thread since its last call of this
                                            library: the call failed, sent no bytes, or was no send. */
    VELLPORT_DELIVERY_CONFIRMED = 1,   /**< The bytes reached the end of the line: a serial device drained
                                            them, or a network server took them and closed its end as ser2net
                                            does once it has passed them on to its device. */
    VELLPORT_DELIVERY_ACKNOWLEDGED = 2 /**< Only the server's TCP stack acknowledged the bytes: it kept the
                                            connection open until the bound, so nothing tells whether they
                                            left its kernel (a listener that never reads, a stopped ser2net,
                                            or a device server that never closes). Still VELLPORT_OK. */
};

/**
 * How far the calling thread's last call of SendData or VellPortSendTo delivered its bytes, as an enum
 * VellPortDelivery. Every other call with an int result on the thread sets it anew (NONE for any call that
 * is not a successful send with bytes), as for VellPortLastError; so read it right after the send.
 *
 * Blocking: none.
 */
VELLPORT_API int VellPortLastDelivery(void);

/**
 * Switch the failure lines on standard error (see "Errors") on (non-zero, the default) or off (0), for the
 * whole process, for a caller that reports failures itself (through VellPortLastError). Results and
 * VellPortLastError are the same either way.
 *
 * Blocking: none. May be called from any thread at any time; calls in flight on other threads see the
 * change at their next line.
 */
VELLPORT_API void VellPortSetErrorLines(int enabled);

/**
 * Send bytes to one target with explicit line parameters, without a COM name: the target is an absolute
 * device path, or a network endpoint "rfc2217://HOST:PORT" or "tcp://HOST:PORT".
 *
 * @param target      Device path or endpoint URL.
 * @param baudRate, dataBits, parity, stopBits, flowControl  As for SetComParam.
 * @param data, count As for SendData.
 *
 * @return As SendData, and for a network target VELLPORT_ERR_HOST, VELLPORT_ERR_REFUSED,
 * VELLPORT_ERR_PROTOCOL or VELLPORT_ERR_SETTING; VELLPORT_ERR_NAME for a target that is neither.
 *
 * Blocking: as SendData for the kind of target (see "Network targets" for URLs). With count 0 the call
 * succeeds without opening or connecting.
 */
VELLPORT_API int VellPortSendTo(const char* target, int baudRate, int dataBits, char parity, int stopBits,
                                int flowControl, const unsigned char* data, int count);

/**
 * Check that a network endpoint answers: connect and, for rfc2217://, negotiate the line parameters; no data
 * is sent, and the connection is closed at once after. A tcp:// probe shows that something accepts
 * connections there and does not turn this one away: it half-closes after 20 ms and reads until the server
 * closes or the bound passes (ser2net's "Port already in use" is VELLPORT_ERR_BUSY, "Device open failure"
 * VELLPORT_ERR_NO_DEVICE).
 *
 * @param target        "rfc2217://HOST:PORT" or "tcp://HOST:PORT".
 * @param baudRate, dataBits, parity, stopBits, flowControl  As for SetComParam.
 * @param confirmedRate Receives the rate the RFC 2217 server confirmed, also when it differs from the one
 *                      asked (VELLPORT_ERR_SETTING); 0 for tcp:// and when nothing was confirmed. May be
 *                      NULL.
 *
 * @return VELLPORT_OK; VELLPORT_ERR_NAME for a target that is not an endpoint URL (a device path or a COM
 * name included); VELLPORT_ERR_ARG for parameters out of range; else as listed under "Network targets".
 *
 * Blocking: at most 2 s, name lookup included.
 */
VELLPORT_API int VellPortProbe(const char* target, int baudRate, int dataBits, char parity, int stopBits,
                               int flowControl, int* confirmedRate);

/** The TLS session of a call to a TLS target (rfc2217+tls://, tcp+tls://). */
struct VellPortTlsInfo {
    char protocol[16];         /**< "TLSv1.3", "TLSv1.2". */
    char subject[256];         /**< The server certificate's subject, "/CN=...". */
    char issuer[256];          /**< Its issuer. */
    long daysLeft;             /**< Whole days until it expires. */
    int clientCertificateSent; /**< 1 when the server asked for tls/client.pem and got it. */
};

/**
 * The TLS session of the calling thread's last SendData, VellPortSendTo or VellPortProbe, when that reached
 * a TLS target through the handshake (also when the call failed later).
 *
 * @param info Receives the session; left alone when the result is 0.
 * @return 1 when info was filled; 0 when the last call made no TLS session or info is NULL.
 *
 * Blocking: never.
 */
VELLPORT_API int VellPortLastTls(struct VellPortTlsInfo* info);

#ifdef __cplusplus
}
#endif

#endif
