/* pos_sale: one sale and the day's report through tallyport.
 *
 *   pos_sale COM7            (or a device path such as /dev/ttyUSB0)
 *
 * Prints each step's result code and text; exits 0 when every step succeeded. */
#include <stdio.h>

#include "tallyport.h"

static int failures = 0;

static void Report(const char *step, int32_t code) {
  char text[TALLYPORT_TEXT_SIZE];
  char status[TALLYPORT_TEXT_SIZE] = "";
  unsigned first = 0;
  GetErrorString(code, text);
  GetStatus(status);
  printf("%-16s %5d %s (status %s)\n", step, (int)code, text, status);
  /* The device answered, but its error flag (0x20 of the first status byte) says it refused. */
  if (code != TALLYPORT_SUCCESS || (sscanf(status, "%2x", &first) == 1 && (first & 0x20) != 0)) ++failures;
}

int main(int argc, char **argv) {
  int16_t receipt = 0, fiscalReceipt = 0, paymentCode = 0;
  double change = 0;
  char subtotal[TALLYPORT_TEXT_SIZE] = "";
  char report[TALLYPORT_TEXT_SIZE] = "";
  int32_t code;

  if (argc != 2) {
    fprintf(stderr, "usage: pos_sale PORT\n");
    return 2;
  }
  code = Connect(argv[1], 115200, 8, 0, 0);
  Report("Connect", code);
  if (code != TALLYPORT_SUCCESS) return 1;

  Report("BeginFiscalBon", BeginFiscalBon(1, "0000", 1, 0, &receipt, &fiscalReceipt));
  Report("Sale", Sale("Bread", "B", 1.20, 2, 0));
  Report("Sale", Sale("Milk", "A", 2.50, 1, 0));
  Report("SubTotal", SubTotal(1, 0, 0, subtotal));
  Report("Total", Total("", "P", 10, &paymentCode, &change));
  Report("EndFiscalBon", EndFiscalBon(&receipt, &fiscalReceipt));
  Report("DayReport", DayReport(0, 0, report));
  printf("receipt %d, subtotal %s, change %.2f, report %s\n", receipt, subtotal, change, report);
  Report("Disconnect", Disconnect());
  return failures == 0 ? 0 : 1;
}
