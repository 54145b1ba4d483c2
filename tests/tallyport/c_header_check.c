/* The public header alone, compiled as C: a point-of-sale program needs nothing else. */
#include "tallyport.h"

_Static_assert(sizeof(TpDateTime) == 12, "callers lay the date-time out in 12 bytes");
_Static_assert(TALLYPORT_TEXT_SIZE == 1025, "text outs are 1025 bytes");

int32_t (*const kConnect)(const char *, int32_t, int16_t, int16_t, int16_t) = Connect;
int32_t (*const kTotal)(const char *, const char *, double, int16_t *, double *) = Total;
int32_t (*const kSetDateTime)(TpDateTime) = SetDateTime;
