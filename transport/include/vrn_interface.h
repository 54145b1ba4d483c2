/* vrn_interface: requests to a fiscal device over USB or a USB serial port.
 *
 * The library owns everything it creates (one driver, its protocol object and their threads)
 * from the first call of vrn_init, vrn_test_connection or vrn_request until vrn_dispose or the
 * unloading of the library; the next call after vrn_dispose starts over. No call lets an
 * exception or a fault of the library escape to the caller.
 *
 * Threads: vrn_request and vrn_test_connection may be called from several threads at once;
 * requests are served one after the other. vrn_dispose ends calls in progress (they fail) and
 * returns within about two seconds, whatever the device does.
 * Diagnostics go to stderr when the environment variable VRN_TRACE is 1, every call with its
 * arguments and result among them (passwords masked); nothing is shown.
 */
#ifndef VRN_INTERFACE_H
#define VRN_INTERFACE_H

#include <stdbool.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(VRN_INTERFACE_BUILD)
#define VRN_API __declspec(dllexport)
#else
#define VRN_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define VRN_API __attribute__((visibility("default")))
#else
#define VRN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the reply text buffer that vrn_request fills, and of its status buffer. */
#define VRN_REPLY_SIZE 256
#define VRN_STATUS_SIZE 6

/* Chooses the USB driver and starts it. comPort (may be NULL or empty) names a COM port to
 * reach the device through instead: "COM7" (through the port alias directory) or a device path
 * such as "/dev/ttyACM0"; it is opened at 115200 baud, 8 data bits, no parity, one stop bit.
 * Returns false only when no driver could be initialised; whether a device was found is told
 * by vrn_test_connection. */
VRN_API bool vrn_init(const char *comPort);

/* Stops and releases everything the library created. Calls in progress on other threads end
 * at once with their failure result, and calls made while it runs fail at once; calls made
 * after it returns start over. Do not call it from several threads at once. */
VRN_API void vrn_dispose(void);

/* 1 when a device is reachable (an open USB device or an open COM port), else 0. Sends nothing
 * to the device. The first call chooses and starts the driver. */
VRN_API int vrn_test_connection(void);

/* Sends one command and waits for its reply: up to 3 s on USB and 4 s on a COM port for each
 * transmission. A refusal or a garbled reply sends the command again, a time-out resets the
 * link and sends it again; five of either in a row end the request, and it goes to the device
 * at most 10 times in all. Busy bytes from the device keep it waiting without limit (only
 * vrn_dispose ends that wait). A COM port whose device vanished is opened again once by the
 * next request; if it is not back, the request fails at once.
 *   command  only the low byte goes to the device.
 *   data     NUL-terminated bytes sent as they are, at most 219; NULL sends none.
 *   reply    caller's buffer of at least VRN_REPLY_SIZE (256) bytes: receives the reply text,
 *            zero-padded to 256 bytes. A 256-byte text would have no terminator, so read at
 *            most 256 bytes (device replies carry at most 212).
 *   status   caller's buffer of VRN_STATUS_SIZE (6) bytes: the device's status bytes.
 * Returns 0 on success. On failure returns -1, sets reply[0] to 0 (when reply is given) and
 * leaves status as it was. NULL reply or status fails without sending anything. */
VRN_API int vrn_request(uint16_t command, const char *data, char *reply, uint8_t *status);

/* Also accept a USB serial device (one with a COM port) with these ids; -1 and -1 switch that
 * off again. No check is made. */
VRN_API void vrn_set_serial_id(int32_t vendorId, int32_t productId);

#ifdef __cplusplus
}
#endif

#endif /* VRN_INTERFACE_H */
