/* A plain C caller of the library: one request to whatever device the library finds. Prints
 * the reply text and the status bytes; exits 0 when the request succeeded. With --no-dispose it
 * ends without vrn_dispose, as careless callers do. */
#include <stdio.h>
#include <string.h>

#include "vrn_interface.h"

int main(int argc, char **argv) {
  char reply[VRN_REPLY_SIZE];
  uint8_t status[VRN_STATUS_SIZE] = {0};
  if (!vrn_init(NULL)) {
    fprintf(stderr, "vrn_init failed\n");
    return 1;
  }
  const int connected = vrn_test_connection();
  const int result = vrn_request(200, "", reply, status);
  printf("connected %d result %d reply '%s' status %02X %02X %02X %02X %02X %02X\n", connected, result, reply,
         status[0], status[1], status[2], status[3], status[4], status[5]);
  if (argc < 2 || strcmp(argv[1], "--no-dispose") != 0) vrn_dispose();
  return result == 0 ? 0 : 1;
}
