/* vrn_request: one request through vrn_interface to a device on a COM port.
 *
 *   vrn_request COM5 62          read the date and time
 *   vrn_request COM5 43 I0       read header line 0
 *
 * Prints the reply text and the six status bytes; exits 0 when the device answered without
 * setting its error flag (0x20 of the first status byte). */
#include <stdio.h>
#include <stdlib.h>

#include "vrn_interface.h"

int main(int argc, char **argv) {
  char reply[VRN_REPLY_SIZE];
  uint8_t status[VRN_STATUS_SIZE] = {0};
  char *end = NULL;
  long code;
  int result;

  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: vrn_request PORT CODE [DATA]\n");
    return 2;
  }
  code = strtol(argv[2], &end, 10);
  if (*end != '\0' || code < 0 || code > 255) {
    fprintf(stderr, "vrn_request: CODE is a command number 0..255, not '%s'\n", argv[2]);
    return 2;
  }
  if (!vrn_init(argv[1]) || !vrn_test_connection()) {
    fprintf(stderr, "vrn_request: no device on %s\n", argv[1]);
    vrn_dispose();
    return 1;
  }
  result = vrn_request((uint16_t)code, argc == 4 ? argv[3] : "", reply, status);
  if (result != 0) {
    fprintf(stderr, "vrn_request: the device did not answer command %ld\n", code);
  } else {
    /* The reply buffer may be full without a terminator. */
    printf("reply '%.*s' status %02X %02X %02X %02X %02X %02X\n", VRN_REPLY_SIZE, reply, status[0], status[1],
           status[2], status[3], status[4], status[5]);
  }
  vrn_dispose();
  return result == 0 && (status[0] & 0x20) == 0 ? 0 : 1;
}
