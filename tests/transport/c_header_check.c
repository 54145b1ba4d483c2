/* Compiled as C: the public header must stay usable from C callers. */
#include "vrn_interface.h"

int vrn_header_is_c(void);

int vrn_header_is_c(void) {
  int (*request)(uint16_t, const char *, char *, uint8_t *) = vrn_request;
  bool (*init)(const char *) = vrn_init;
  return request != 0 && init != 0 && VRN_REPLY_SIZE == 256 && VRN_STATUS_SIZE == 6;
}
