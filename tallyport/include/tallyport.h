/* tallyport: a point-of-sale program's way to one fiscal device on a serial line.
 *
 * Every function but GetStatus and GetErrorString returns a result code:
 *   0      SUCCESS                  the device answered (its status: GetStatus)
 *   10001  Device Already Connect   Connect while connected, or the port did not open
 *   10002  Device not Connect       a command without Connect; nothing sent, no out touched
 *   10003  Device not Respond       no reply after five waits of 2.5 s; the port is gone (see
 *                                   below); or Disconnect from another thread ended the call
 *   10004  Device Answer Incorrect  the reply carried no status
 *   10005  Device Max Send Count    five refusals or replies to another command
 *   10006  Device Bad Parametar     an argument was refused before anything was sent
 * Note that 0 says the device answered, not that it accepted: a refusal shows in the status
 * text (GetStatus), whose first byte has bit 0x20 set.
 *
 * Conventions of every function:
 *   - text in (const char *): NUL-terminated bytes sent as they are, in the device's code page;
 *     NULL counts as empty. The library keeps no pointer after it returns.
 *   - text out (char *): a caller's buffer of TALLYPORT_TEXT_SIZE bytes; written NUL-terminated
 *     and never beyond that size. NULL outs are skipped.
 *   - outs of any kind keep their previous values on every failure and wherever a function
 *     says "untouched".
 *   - a command's data may hold at most 219 bytes once formatted; longer gives 10006.
 *   - amounts, prices, quantities and percentages (double) must be finite and fit the device's
 *     fields, else 10006 with nothing sent: amounts and prices at most 21474836.47 either way
 *     (32-bit counts of cents), quantities at most 2147483.647 (32-bit counts of thousandths),
 *     percentages (discounts, surcharges, tax rates) at most 999.99. NaN and infinities are
 *     refused there even where a 0 would send nothing. Dates are not numbers in this sense:
 *     GetTaxRates sends "Invalid DateTime" for a date that is none (NaN and infinities
 *     included) and refuses nothing, while the functions taking a TpDateTime give 10006 for
 *     it. Double outs (Total's amountOut, GetCurrentTaxRates) take the reply's numbers as the
 *     C library reads them: a reply of "nan" or "inf" gives NaN or an infinity.
 *   - one connection per process; call from one thread at a time. Each command blocks until
 *     the device answers, at most five waits of 2.5 s (longer while the device says "busy").
 *     Disconnect from another thread ends the command in flight at once with 10003.
 *   - a port whose device vanished (or that did not open at Connect) is opened again by the
 *     next command, once, by the same name and with Connect's settings: the command goes on
 *     when the device is back and gives 10003 at once when it is not. A device that vanishes
 *     during a command ends it with 10003 at once.
 *
 * Port names: "COM1".."COMn" (through the port alias directory, else /dev/ttyS<n-1>) or a
 * device path such as "/dev/ttyUSB0". Unloading the library disconnects.
 *
 * Tracing: with the environment variable VRN_TRACE=1 every function writes to stderr (on
 * Windows also to the debugger output) its name with its arguments, e.g.
 * Sale("Milk", "A", 1.5, 1, 0), and then "Sale returned 0", and the engine dumps each frame in
 * hex. Passwords never appear: arguments that are passwords show as "***", and the data of the
 * commands that carry one is left out of the frame dumps.
 */
#ifndef TALLYPORT_H
#define TALLYPORT_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(TALLYPORT_BUILD)
#define TALLYPORT_API __declspec(dllexport)
#else
#define TALLYPORT_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define TALLYPORT_API __attribute__((visibility("default")))
#else
#define TALLYPORT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Size of every text out buffer, its terminator included. */
#define TALLYPORT_TEXT_SIZE 1025

/* Result codes. */
#define TALLYPORT_SUCCESS 0
#define TALLYPORT_ALREADY_CONNECTED 10001
#define TALLYPORT_NOT_CONNECTED 10002
#define TALLYPORT_NO_RESPONSE 10003
#define TALLYPORT_BAD_ANSWER 10004
#define TALLYPORT_MAX_SEND_COUNT 10005
#define TALLYPORT_BAD_PARAMETER 10006

/* Status words of TpDateTime. */
#define TALLYPORT_DT_VALID 0
#define TALLYPORT_DT_INVALID 1
#define TALLYPORT_DT_NULL 2

/* A date and time: value counts days from 30 December 1899, the fraction being the time of
 * day. Packed to 12 bytes, as callers of the 32-bit library lay it out. */
#pragma pack(push, 4)
typedef struct TpDateTime {
  double value;
  int32_t status;
} TpDateTime;
#pragma pack(pop)

/* ---- Connection, status and error texts ---- */

/* Opens the port: data bits 5..8, parity 0 none, 1 odd, 2 even, 3 mark, 4 space, stop bits
 * 0 one, 1 one and a half, 2 two. 0, or 10001 when already connected or the port did not open;
 * after a failed open the connection still counts as made until Disconnect (Connect answers
 * 10001), and each command tries to open the port once: 10003 at once while it cannot. */
TALLYPORT_API int32_t Connect(const char *port, int32_t baudRate, int16_t dataBits, int16_t parity, int16_t stopBits);
/* Closes the port (about 0.2 s). Always 0, also when not connected. May be called from another
 * thread while a command waits: that command ends at once with 10003. */
TALLYPORT_API int32_t Disconnect(void);
/* Keeps the window handle; nothing is ever sent to it. 0, or 10002. */
TALLYPORT_API int32_t SetHwnd4Message(int32_t window);
/* The six status bytes of the last reply as twelve hex digits, or empty after a failed command
 * or before the first reply. Without a connection out is untouched. */
TALLYPORT_API void GetStatus(char *out);
/* The text of a result code; any other code gives "Return Error No : <code> " (with the
 * trailing blank). Works without a connection. */
TALLYPORT_API void GetErrorString(int32_t code, char *out);

/* ---- Receipts, sales and paper ---- */

/* Opens a fiscal receipt. 10006 for an empty password or till 0. option 0 sends none. first
 * and second get the two receipt numbers of the reply when both parse. */
TALLYPORT_API int32_t BeginFiscalBon(uint32_t clerk, const char *password, uint32_t till, char option, int16_t *first,
                                     int16_t *second);
/* Sells a free-text item; only the first character of taxGroup is sent (10006 when empty).
 * price is an amount, quantity a quantity, percent a percentage: 10006 out of their ranges. */
TALLYPORT_API int32_t Sale(const char *item, const char *taxGroup, double price, double quantity, double percent);
/* As Sale, also showing the item on the customer display. */
TALLYPORT_API int32_t SaleAndDisplay(const char *item, const char *taxGroup, double price, double quantity,
                                     double percent);
/* Sells a programmed article; quantity, percent and price are sent only when not 0. */
TALLYPORT_API int32_t SalePlu(int32_t plu, double quantity, double percent, double price);
/* Sells on a department; quantity, percent and price are sent only when not 0. */
TALLYPORT_API int32_t SaleDept(int16_t department, double quantity, double percent, double price);
/* Subtotal; out gets the reply when it is not empty. */
TALLYPORT_API int32_t SubTotal(int16_t print, int16_t display, double percent, char *out);
/* Payment. Empty paymentType with a non-zero amount pays in "P". paymentCode and amountOut get
 * the reply's code character and amount when both parse. amount is an amount (see the
 * conventions above: 10006 beyond 21474836.47 or for NaN and infinities). */
TALLYPORT_API int32_t Total(const char *line, const char *paymentType, double amount, int16_t *paymentCode,
                            double *amountOut);
/* Free text on a fiscal receipt; 10006 when empty. */
TALLYPORT_API int32_t PrintFiscalText(const char *text);
/* Client data: six texts, tab-separated on the wire. */
TALLYPORT_API int32_t PrintClientInfo(const char *text1, const char *text2, const char *text3, const char *text4,
                                      const char *text5, const char *text6);
/* Closes the fiscal receipt; first and second as for BeginFiscalBon. */
TALLYPORT_API int32_t EndFiscalBon(int16_t *first, int16_t *second);
/* Voids the open receipt. */
TALLYPORT_API int32_t VoidAll(void);
/* Opens a non-fiscal receipt. When the reply's first number parses both outs are written, the
 * second as 0 when it does not parse. */
TALLYPORT_API int32_t BeginNonFiscalBon(int16_t *first, int16_t *second);
TALLYPORT_API int32_t PrintNonFiscalText(const char *text);
/* Closes the non-fiscal receipt; number gets the reply's number when it parses. */
TALLYPORT_API int32_t EndNonFiscalBon(int16_t *number);
TALLYPORT_API int32_t PrintCopyBon(int16_t count);
/* pulse 0 sends no data (the device's default pulse). */
TALLYPORT_API int32_t OpenDrawer(int16_t pulse);
/* Feeds paper; 10006 for 100 lines or more. unused is ignored. */
TALLYPORT_API int32_t AdvancePaper(uint16_t lines, int32_t unused);
/* Cuts the paper; answer gets the reply's first byte (0..255), untouched when the reply is
 * empty. */
TALLYPORT_API int32_t CutPaper(int16_t *answer);

/* ---- Reports and journal ---- */

/* Daily report: mode >= 0 is sent, followed by N when flag is not 0; a negative mode sends no
 * data. out gets the reply. */
TALLYPORT_API int32_t DayReport(int16_t mode, int16_t flag, char *out);
/* As DayReport, by article. */
TALLYPORT_API int32_t DayPluReport(int16_t mode, int16_t flag, char *out);
/* Periodic report: kind 0 or 1; above gives 10006. */
TALLYPORT_API int32_t PerReport(uint16_t kind);
/* Prints the electronic journal. With a non-empty reply number becomes 0, then the reply's
 * number when it parses; untouched for an empty reply. */
TALLYPORT_API int32_t PrintEKL(int16_t *number);
TALLYPORT_API int32_t ClerkReport(void);
TALLYPORT_API int32_t PluReport(int16_t selector, char *out);
/* Fiscal memory by dates; 10006 unless both dates are valid. */
TALLYPORT_API int32_t PrintFiscalMemoryByDate(TpDateTime from, TpDateTime to);
/* Fiscal memory by record numbers; 10006 for a negative number. */
TALLYPORT_API int32_t PrintFiscalMemoryByNum(int16_t from, int16_t to);
/* Report by dates; 10006 unless both dates are valid. */
TALLYPORT_API int32_t PrintReportByDate(TpDateTime from, TpDateTime to);
/* Report by numbers; 10006 for a negative number. */
TALLYPORT_API int32_t PrintReportByNum(int16_t from, int16_t to);
TALLYPORT_API int32_t EKLStore(uint16_t value);
TALLYPORT_API int32_t PrintDiagnosticInfo(void);

/* ---- Programming ---- */

/* Answer outs of SetTaxRates, SetTaxR and SetTaxNumber get the reply's first character, or 70
 * ('F') when the reply is empty. The four rates are percentages (10006 out of range). */
TALLYPORT_API int32_t SetTaxRates(double rate1, double rate2, double rate3, double rate4, int16_t *answer);
/* Tax rates as the caller writes them. */
TALLYPORT_API int32_t SetTaxR(const char *rates, int16_t *answer);
/* Header or footer line: the line number directly followed by the text. */
TALLYPORT_API int32_t SetHeaderFooter(uint16_t line, const char *text);
TALLYPORT_API int32_t SetPrintOptions(int16_t option1, int16_t option2, int16_t option3, int16_t option4);
TALLYPORT_API int32_t EnableAutoCutter(int16_t enable);
TALLYPORT_API int32_t EnableLogo(int16_t enable);
/* Programs an article; 10006 for an empty name. secondLine is sent only when not empty. out
 * gets the reply. */
TALLYPORT_API int32_t SetPluData(int32_t plu, const char *taxGroup, double price, const char *name,
                                 const char *secondLine, char *out);
/* As SetPluData with stock data: quantity is sent with three decimals when fractional is not
 * 0, else as a whole number rounded down. */
TALLYPORT_API int32_t SetPluDataEx(int32_t plu, const char *taxGroup, double price, const char *name,
                                   const char *secondLine, int16_t a, double quantity, int16_t b, int16_t c,
                                   int16_t fractional, int16_t d, char *out);
/* mode 1 deletes all articles; otherwise from, or from..to when to >= from. */
TALLYPORT_API int32_t DeletePlu(int16_t mode, int32_t from, int32_t to, char *out);
/* Programs a department; 10006 for an empty name. */
TALLYPORT_API int32_t SetDeptData(int16_t department, const char *taxGroup, const char *name, double price,
                                  int16_t a, int16_t b, int16_t c, int16_t d, char *out);
/* The operator's password and name, in that order on the wire. */
TALLYPORT_API int32_t SetClerkName(int16_t clerk, const char *password, const char *name);
TALLYPORT_API int32_t SetClerkPassword(int16_t clerk, const char *oldPassword, const char *newPassword);
/* Sets the device clock, to the second; 10006 unless the date-time is valid. */
TALLYPORT_API int32_t SetDateTime(TpDateTime dateTime);
TALLYPORT_API int32_t SetFonts(uint16_t font1, uint16_t font2);
TALLYPORT_API int32_t SetGlobalOptions(uint16_t options);
/* Decimals and currency; an empty currency is left out. out gets the reply. */
TALLYPORT_API int32_t SetMulDecCurRF(int16_t first, int16_t second, const char *currency, int16_t third, char *out);
TALLYPORT_API int32_t SetCountrySerial(int16_t country, const char *text1, const char *text2, char *out);
TALLYPORT_API int32_t SetTaxNumber(const char *text1, const char *text2, int16_t *answer);
/* text is sent only when not empty. */
TALLYPORT_API int32_t SetVatAccount(double amount, const char *text);
TALLYPORT_API int32_t SetText(int16_t number, const char *text);
TALLYPORT_API int32_t LoadLogo(int16_t number, const char *text);
/* Loads the customer display's character set from the first 128 bytes of a file: mode 1 in
 * four commands, mode 0 in one. 10006 when the file cannot be opened, mode is above 1, or in
 * mode 0 the file holds fewer than 2 bytes. Stops at the first command that fails. */
TALLYPORT_API int32_t LCDInit(uint16_t mode, const char *fileName);
TALLYPORT_API int32_t WriteToFlash(void);
/* Fiscalises the device; 10006 for an empty text. answer gets the reply read as a number (0
 * when it is none). */
TALLYPORT_API int32_t Fiscalise(const char *text, int16_t *answer);
/* character and number get the reply's two values when both parse. */
TALLYPORT_API int32_t ProgramTestArea(int16_t flag, int16_t *character, int16_t *number);

/* ---- Queries, display and the generic command ---- */

TALLYPORT_API int32_t DisplayClear(void);
TALLYPORT_API int32_t DisplayText(uint16_t number, const char *text);
/* Lower line of the customer display. */
TALLYPORT_API int32_t DisplayTextLL(const char *text);
/* Upper line of the customer display. */
TALLYPORT_API int32_t DisplayTextUL(const char *text);
TALLYPORT_API int32_t DisplayFreeData(const char *text);
TALLYPORT_API int32_t DisplayDateTime(void);
/* Reads the device clock. An empty or unreadable reply gives 0 with dateTime untouched; a date
 * that does not exist gives 10004 with dateTime's status set invalid. */
TALLYPORT_API int32_t GetDateTime(TpDateTime *dateTime);
TALLYPORT_API int32_t GetFreeClosures(int16_t *first, int16_t *second);
TALLYPORT_API int32_t GetHeader(int16_t line, char *out);
/* from and to count days from 30 December 1899 and are sent as DDMMYY; a value that is no date
 * in the years 100 to 9999 (NaN and infinities included) is sent as the text "Invalid DateTime"
 * in its place, never refused. out gets the reply when it is not empty. */
TALLYPORT_API int32_t GetTaxRates(double from, double to, char *out);
TALLYPORT_API int32_t GetPrnStatus(int16_t flag, char *out);
TALLYPORT_API int32_t GetFiscalClosureStatus(int16_t flag, char *out);
TALLYPORT_API int32_t GetDiagnosticInfo(int16_t flag, char *out);
/* The reply's comma-separated fields, empty ones skipped, go to first, second (numbers),
 * currency (text) and third (number); outs without a field are untouched. */
TALLYPORT_API int32_t GetMulDecCurRF(int16_t *first, int16_t *second, char *currency, int16_t *third);
/* The reply's rates in order, up to the first that does not parse; the rest untouched. */
TALLYPORT_API int32_t GetCurrentTaxRates(double *rate1, double *rate2, double *rate3, double *rate4);
TALLYPORT_API int32_t GetCurrentTaxR(char *out);
TALLYPORT_API int32_t GetCurrentTaxes(char *out);
TALLYPORT_API int32_t GetCurrentSums(char *out);
TALLYPORT_API int32_t GetLastClosure(char *out);
TALLYPORT_API int32_t GetTaxNumber(char *out);
TALLYPORT_API int32_t GetBonInfo(char *out);
TALLYPORT_API int32_t GetDayInfo(char *out);
TALLYPORT_API int32_t GetClerkInfo(int16_t clerk, char *out);
TALLYPORT_API int32_t GetDocNumber(char *out);
/* Note the order on the wire: first, kind, then second when kind is 4 or more. */
TALLYPORT_API int32_t GetFMInfo(int16_t kind, int16_t first, int16_t second, char *out);
/* type 0..3 (10006 otherwise); plu is used by type 2 only. */
TALLYPORT_API int32_t GetPluInfo(int16_t type, int16_t plu, char *out);
TALLYPORT_API int32_t GetConstants(char *out);
TALLYPORT_API int32_t GetVatAccount(char *out);
TALLYPORT_API int32_t GetDeptInfo(int16_t department, char *out);
TALLYPORT_API int32_t GetText(int16_t number, char *out);
/* Cash in or out; amount 0 sends no data. */
TALLYPORT_API int32_t ServiceInputOutput(double amount, char *out);
/* Any command: the low byte of code with data as it is; out gets the reply. */
TALLYPORT_API int32_t TestPrinter(int32_t code, const char *data, char *out);

#ifdef __cplusplus
}
#endif

#endif /* TALLYPORT_H */
